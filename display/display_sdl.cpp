#include "display/display_sdl.h"

#include <cstdio>
#include <cstdlib>

#include "sdl/sdl_library.h"

namespace {

struct SdlDisplay {
    SDL_Window* window;
    SDL_Renderer* renderer;
    SDL_Texture* texture;  // the back buffer
    uint8_t videoStarted;
    int lastActive;  // the activation last reported: -1 before the first report
};

const SdlLibrary* lib = nullptr;  // set by the first open that finds SDL
SdlDisplay sdl;
char lastErrorText[300] = "";  // why SDL or its video driver did not start; SDL's text otherwise

// SDL's X11 driver, unless SDL_VIDEODRIVER names another: left to itself, SDL falls back to
// drivers that draw into memory when X11 fails, and a demo that nobody can see has failed to open
// its display. The reason SDL gives goes into the error, with the display it tried.
bool startVideo() {
    lib->SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");  // a hint that the environment overrides
    if (lib->SDL_InitSubSystem(SDL_INIT_VIDEO) == 0) return true;
    const char* display = getenv("DISPLAY");
    snprintf(lastErrorText, sizeof lastErrorText, "SDL's video driver: %s (DISPLAY %s%s%s)",
             lib->SDL_GetError(), display ? "\"" : "", display ? display : "not set",
             display ? "\"" : "");
    return false;
}

int open(const char* name, int32_t width, int32_t height) {
    lastErrorText[0] = '\0';
    lib = sdlLibrary();
    if (!lib) {
        snprintf(lastErrorText, sizeof lastErrorText, "%s", sdlLibraryError());
        return 0;
    }
    // The screen saver stays on until the display layer switches it off.
    lib->SDL_SetHint(SDL_HINT_VIDEO_ALLOW_SCREENSAVER, "1");
    // Big square pixels rather than a blur.
    lib->SDL_SetHint(SDL_HINT_RENDER_SCALE_QUALITY, "nearest");
    if (!startVideo()) return 0;
    sdl.videoStarted = 1;
    sdl.lastActive = -1;
    // Created at the desktop's size: without a window manager nobody would resize it to full
    // screen.
    SDL_DisplayMode desktop;
    if (lib->SDL_GetDesktopDisplayMode(0, &desktop) != 0)
        desktop = {SDL_PIXELFORMAT_UNKNOWN, width, height, 0, nullptr};
    sdl.window = lib->SDL_CreateWindow(name, 0, 0, desktop.w, desktop.h,
                                       SDL_WINDOW_FULLSCREEN_DESKTOP | SDL_WINDOW_BORDERLESS);
    if (!sdl.window) return 0;
    sdl.renderer = lib->SDL_CreateRenderer(sdl.window, -1, SDL_RENDERER_PRESENTVSYNC);
    if (!sdl.renderer) sdl.renderer = lib->SDL_CreateRenderer(sdl.window, -1, 0);
    if (!sdl.renderer) return 0;
    lib->SDL_ShowCursor(SDL_DISABLE);
    return 1;
}

Uint32 textureFormat(uint32_t bitsPerPixel) {
    switch (bitsPerPixel) {
        case 32: return SDL_PIXELFORMAT_RGB888;  // 0x00RRGGBB in 32 bits
        case 24: return SDL_PIXELFORMAT_RGB24;  // bytes R, G, B
        case 16: return SDL_PIXELFORMAT_RGB565;
        default: return SDL_PIXELFORMAT_UNKNOWN;
    }
}

int setMode(int32_t width, int32_t height, uint32_t bitsPerPixel) {
    Uint32 format = textureFormat(bitsPerPixel);
    if (format == SDL_PIXELFORMAT_UNKNOWN) return 0;
    sdl.texture =
        lib->SDL_CreateTexture(sdl.renderer, format, SDL_TEXTUREACCESS_STREAMING, width, height);
    if (!sdl.texture) return 0;
    // The frame fills the screen as far as its aspect allows.
    if (lib->SDL_RenderSetLogicalSize(sdl.renderer, width, height) != 0) {
        lib->SDL_DestroyTexture(sdl.texture);
        sdl.texture = nullptr;
        return 0;
    }
    return 1;
}

int createSurfaces() { return sdl.texture != nullptr; }

int pixelFormat(DisplayPixelFormat* format) {
    Uint32 textureFormat = 0;
    if (lib->SDL_QueryTexture(sdl.texture, &textureFormat, nullptr, nullptr, nullptr) != 0)
        return 0;
    int bits = 0;
    Uint32 red = 0, green = 0, blue = 0, alpha = 0;
    if (!lib->SDL_PixelFormatEnumToMasks(textureFormat, &bits, &red, &green, &blue, &alpha))
        return 0;
    format->isRgb = !SDL_ISPIXELFORMAT_FOURCC(textureFormat) &&
                    !SDL_ISPIXELFORMAT_INDEXED(textureFormat) && red && green && blue;
    // The size of a pixel in memory: XRGB8888 has 24 significant bits but takes 32.
    format->bitCount = SDL_BYTESPERPIXEL(textureFormat) * 8;
    format->redMask = red;
    format->greenMask = green;
    format->blueMask = blue;
    return 1;
}

void setScreenSaver(int enabled) {
    if (enabled)
        lib->SDL_EnableScreenSaver();
    else
        lib->SDL_DisableScreenSaver();
}

void dispatchEvents(DisplayEventHandler handler) {
    SDL_Event event;
    while (lib->SDL_PollEvent(&event)) {
        if (event.type == SDL_QUIT ||
            (event.type == SDL_WINDOWEVENT && event.window.event == SDL_WINDOWEVENT_CLOSE)) {
            handler({DISPLAY_EVENT_CLOSE, 0});
        } else if (event.type == SDL_KEYDOWN) {
            uint32_t key = event.key.keysym.sym == SDLK_ESCAPE ? VK_ESCAPE : 0;
            handler({DISPLAY_EVENT_KEY_DOWN, key});
        }
    }
    // Activation follows the window's state rather than single events, so a window that was
    // shown before the first look counts as active too.
    Uint32 flags = lib->SDL_GetWindowFlags(sdl.window);
    int active =
        (flags & SDL_WINDOW_SHOWN) && !(flags & (SDL_WINDOW_HIDDEN | SDL_WINDOW_MINIMIZED));
    if (active != sdl.lastActive) {
        sdl.lastActive = active;
        handler({DISPLAY_EVENT_ACTIVATE, static_cast<uint32_t>(active)});
    }
}

void restore() {}

int lock(uint8_t** rowZero, int32_t* pitch) {
    void* pixels = nullptr;
    int rowPitch = 0;
    if (lib->SDL_LockTexture(sdl.texture, nullptr, &pixels, &rowPitch) != 0) return 0;
    *rowZero = static_cast<uint8_t*>(pixels);
    *pitch = rowPitch;
    return 1;
}

void unlock(uint8_t*) { lib->SDL_UnlockTexture(sdl.texture); }

void flip() {
    lib->SDL_SetRenderDrawColor(sdl.renderer, 0, 0, 0, 255);
    lib->SDL_RenderClear(sdl.renderer);
    lib->SDL_RenderCopy(sdl.renderer, sdl.texture, nullptr, nullptr);
    lib->SDL_RenderPresent(sdl.renderer);
}

int flipWaitsForRefresh() {
    SDL_RendererInfo info;
    if (lib->SDL_GetRendererInfo(sdl.renderer, &info) != 0) return 0;
    return (info.flags & SDL_RENDERER_PRESENTVSYNC) != 0;
}

int32_t refreshRate() {
    SDL_DisplayMode mode;
    int index = lib->SDL_GetWindowDisplayIndex(sdl.window);
    if (index < 0 || lib->SDL_GetCurrentDisplayMode(index, &mode) != 0) return 0;
    return mode.refresh_rate;
}

void close() {
    if (sdl.texture) lib->SDL_DestroyTexture(sdl.texture);
    if (sdl.renderer) lib->SDL_DestroyRenderer(sdl.renderer);
    if (sdl.window) lib->SDL_DestroyWindow(sdl.window);
    if (sdl.videoStarted) lib->SDL_QuitSubSystem(SDL_INIT_VIDEO);
    sdl = {};
}

const char* lastError() { return lastErrorText[0] || !lib ? lastErrorText : lib->SDL_GetError(); }

}  // namespace

const DisplayBackend sdlDisplayBackend = {
    .name = "sdl",
    .open = open,
    .setMode = setMode,
    .createSurfaces = createSurfaces,
    .pixelFormat = pixelFormat,
    .setScreenSaver = setScreenSaver,
    .dispatchEvents = dispatchEvents,
    .restore = restore,
    .lock = lock,
    .unlock = unlock,
    .flip = flip,
    .flipWaitsForRefresh = flipWaitsForRefresh,
    .refreshRate = refreshRate,
    .close = close,
    .lastError = lastError,
};
