#include "display/display_ddraw.h"

#include <windows.h>
#include <ddraw.h>

#include <cstdio>

namespace {

using DirectDrawCreateFunction = HRESULT(WINAPI*)(GUID*, LPDIRECTDRAW*, IUnknown*);

struct DdrawDisplay {
    HMODULE library;  // "ddraw.dll"
    HWND window;
    WNDCLASSA windowClass;
    LPDIRECTDRAW directDraw;
    LPDIRECTDRAWSURFACE primary;  // with its flip chain
    LPDIRECTDRAWSURFACE backBuffer;  // part of the primary's chain: never released on its own
};

DdrawDisplay ddraw;
char lastErrorText[160] = "";

// The display layer's event rules while dispatchEvents runs; null outside it.
DisplayEventHandler eventHandler = nullptr;

// Events that came while no dispatch was running: the window procedure also runs from inside
// SetCooperativeLevel, SetDisplayMode and DestroyWindow. They are handed over at the next
// dispatch, in order; only the newest few are kept.
constexpr int PENDING_EVENTS = 16;
DisplayEvent pendingEvents[PENDING_EVENTS];
int pendingCount = 0;

int fail(const char* what, HRESULT result) {
    snprintf(lastErrorText, sizeof lastErrorText, "%s failed (0x%08lX)", what,
             static_cast<unsigned long>(result));
    return 0;
}

int failWithSystemError(const char* what) {
    snprintf(lastErrorText, sizeof lastErrorText, "%s failed (error %lu)", what,
             static_cast<unsigned long>(GetLastError()));
    return 0;
}

void deliver(const DisplayEvent& event) {
    if (eventHandler) {
        eventHandler(event);
        return;
    }
    if (pendingCount == PENDING_EVENTS) {
        for (int k = 1; k < PENDING_EVENTS; ++k) pendingEvents[k - 1] = pendingEvents[k];
        --pendingCount;
    }
    pendingEvents[pendingCount++] = event;
}

LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
        case WM_ACTIVATEAPP:
            deliver({DISPLAY_EVENT_ACTIVATE, static_cast<uint32_t>(wParam)});
            return 0;
        case WM_SETCURSOR: SetCursor(nullptr); return 0;
        case WM_KEYDOWN:
            // Every key is swallowed; the event rules act on Escape alone.
            deliver({DISPLAY_EVENT_KEY_DOWN, static_cast<uint32_t>(wParam)});
            return 0;
        case WM_CLOSE:
            // The event rules report a request to quit; the window is never closed the default way.
            deliver({DISPLAY_EVENT_CLOSE, 0});
            return 0;
        default: return DefWindowProcA(window, message, wParam, lParam);
    }
}

int open(const char* name, int32_t, int32_t) {
    lastErrorText[0] = '\0';
    pendingCount = 0;
    ddraw.library = LoadLibraryA("ddraw.dll");
    if (!ddraw.library) return failWithSystemError("LoadLibraryA(\"ddraw.dll\")");
    auto directDrawCreate = reinterpret_cast<DirectDrawCreateFunction>(
        reinterpret_cast<void*>(GetProcAddress(ddraw.library, "DirectDrawCreate")));
    if (!directDrawCreate) return failWithSystemError("GetProcAddress(\"DirectDrawCreate\")");
    HRESULT result = directDrawCreate(nullptr, &ddraw.directDraw, nullptr);
    if (FAILED(result)) {
        ddraw.directDraw = nullptr;
        return fail("DirectDrawCreate", result);
    }

    // Registering a second time, after a close, fails harmlessly: the class is the same.
    ddraw.windowClass = {};
    ddraw.windowClass.lpfnWndProc = windowProc;
    ddraw.windowClass.lpszClassName = name;
    RegisterClassA(&ddraw.windowClass);
    ddraw.window =
        CreateWindowExA(0, name, name, WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    if (!ddraw.window) return failWithSystemError("CreateWindowExA");

    result =
        ddraw.directDraw->SetCooperativeLevel(ddraw.window, DDSCL_FULLSCREEN | DDSCL_EXCLUSIVE);
    if (FAILED(result)) return fail("SetCooperativeLevel", result);
    // The exclusive mode spreads the window over the screen, but shows it only on Windows: Wine
    // draws the screen through the window and sends it keys only once it is shown and has the
    // focus, so it is shown, brought to the front and given the keyboard here.
    ShowWindow(ddraw.window, SW_SHOW);
    SetForegroundWindow(ddraw.window);
    SetFocus(ddraw.window);
    UpdateWindow(ddraw.window);
    return 1;
}

int setMode(int32_t width, int32_t height, uint32_t bitsPerPixel) {
    HRESULT result = ddraw.directDraw->SetDisplayMode(static_cast<DWORD>(width),
                                                      static_cast<DWORD>(height), bitsPerPixel);
    if (FAILED(result)) return fail("SetDisplayMode", result);
    return 1;
}

// The primary surface: with two back buffers, else one, else (a last resort that then finds no
// back buffer) a lone primary without a flip chain.
HRESULT createPrimary() {
    DDSURFACEDESC description = {};
    description.dwSize = sizeof description;
    description.dwFlags = DDSD_CAPS | DDSD_BACKBUFFERCOUNT;
    description.dwBackBufferCount = 2;
    description.ddsCaps.dwCaps =
        DDSCAPS_PRIMARYSURFACE | DDSCAPS_FLIP | DDSCAPS_COMPLEX | DDSCAPS_VIDEOMEMORY;
    HRESULT result = ddraw.directDraw->CreateSurface(&description, &ddraw.primary, nullptr);
    if (SUCCEEDED(result)) return result;

    description.dwBackBufferCount = 1;
    result = ddraw.directDraw->CreateSurface(&description, &ddraw.primary, nullptr);
    if (SUCCEEDED(result)) return result;

    description.dwFlags = DDSD_CAPS;
    description.dwBackBufferCount = 0;
    description.ddsCaps.dwCaps = DDSCAPS_PRIMARYSURFACE | DDSCAPS_VIDEOMEMORY;
    return ddraw.directDraw->CreateSurface(&description, &ddraw.primary, nullptr);
}

int createSurfaces() {
    HRESULT result = createPrimary();
    if (FAILED(result)) {
        ddraw.primary = nullptr;
        return fail("CreateSurface (primary)", result);
    }
    DDSCAPS capabilities = {};
    capabilities.dwCaps = DDSCAPS_BACKBUFFER;
    result = ddraw.primary->GetAttachedSurface(&capabilities, &ddraw.backBuffer);
    if (FAILED(result)) {
        ddraw.backBuffer = nullptr;
        return fail("GetAttachedSurface (back buffer)", result);
    }
    return 1;
}

int pixelFormat(DisplayPixelFormat* format) {
    DDPIXELFORMAT pixels = {};
    pixels.dwSize = sizeof pixels;
    HRESULT result = ddraw.primary->GetPixelFormat(&pixels);
    if (FAILED(result)) return fail("GetPixelFormat", result);
    format->isRgb = (pixels.dwFlags & DDPF_RGB) != 0;
    format->bitCount = pixels.dwRGBBitCount;
    format->redMask = pixels.dwRBitMask;
    format->greenMask = pixels.dwGBitMask;
    format->blueMask = pixels.dwBBitMask;
    return 1;
}

void setScreenSaver(int enabled) {
    SystemParametersInfoA(SPI_SETSCREENSAVEACTIVE, enabled ? 1 : 0, nullptr, 0);
}

void dispatchEvents(DisplayEventHandler handler) {
    eventHandler = handler;
    // Earlier events first.
    for (int k = 0; k < pendingCount; ++k) handler(pendingEvents[k]);
    pendingCount = 0;
    MSG message;
    while (PeekMessageA(&message, ddraw.window, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    eventHandler = nullptr;
}

void restore() {
    if (ddraw.primary) ddraw.primary->Restore();
}

int lock(uint8_t** rowZero, int32_t* pitch) {
    DDSURFACEDESC description = {};
    description.dwSize = sizeof description;
    HRESULT result = ddraw.backBuffer->Lock(nullptr, &description, DDLOCK_WAIT, nullptr);
    if (FAILED(result)) return fail("Lock", result);
    *rowZero = static_cast<uint8_t*>(description.lpSurface);
    *pitch = static_cast<int32_t>(description.lPitch);
    return 1;
}

void unlock(uint8_t* rowZero) { ddraw.backBuffer->Unlock(rowZero); }

void flip() { ddraw.primary->Flip(nullptr, DDFLIP_WAIT); }

int flipWaitsForRefresh() { return 1; }

int32_t refreshRate() {
    DWORD hertz = 0;
    if (!ddraw.directDraw || FAILED(ddraw.directDraw->GetMonitorFrequency(&hertz))) return 0;
    return static_cast<int32_t>(hertz);
}

// Releases whatever open, setMode and createSurfaces got, at whichever step they stopped: a
// failed open leaves the desktop in its own mode.
void close() {
    if (ddraw.primary) {
        ddraw.primary->Release();
        ddraw.primary = nullptr;
        ddraw.backBuffer = nullptr;
    }
    if (ddraw.directDraw) {
        ddraw.directDraw->RestoreDisplayMode();
        ddraw.directDraw->SetCooperativeLevel(ddraw.window, DDSCL_NORMAL);
        ddraw.directDraw->Release();
        ddraw.directDraw = nullptr;
    }
    if (ddraw.window) {
        DestroyWindow(ddraw.window);
        ddraw.window = nullptr;
    }
    if (ddraw.library) {
        FreeLibrary(ddraw.library);
        ddraw.library = nullptr;
    }
    pendingCount = 0;
}

const char* lastError() { return lastErrorText; }

}  // namespace

const DisplayBackend ddrawDisplayBackend = {
    .name = "ddraw",
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
