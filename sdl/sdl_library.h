// SDL2, loaded when a back end first needs it: the SDL sound device and display call SDL through
// this table of functions, looked up in "libSDL2-2.0.so.0" at run time, so that no program links
// SDL2 and a run that opens no device (brom-play --info, --trace, --render) maps neither SDL nor
// the sound and video libraries below it. Building needs SDL2's headers only.
//
//     const SdlLibrary* sdl = sdlLibrary();
//     if (!sdl) fprintf(stderr, "%s\n", sdlLibraryError());
//     else sdl->SDL_InitSubSystem(SDL_INIT_AUDIO);
//
// The first call loads the library and looks up every function below; the library then stays
// loaded until the process ends. A function missing from the list is a build error at its call.
#pragma once

#include <SDL.h>

// Every SDL function the back ends call.
#define BROM_SDL_FUNCTIONS(X)     \
    X(SDL_GetError)               \
    X(SDL_SetHint)                \
    X(SDL_InitSubSystem)          \
    X(SDL_QuitSubSystem)          \
    X(SDL_OpenAudioDevice)        \
    X(SDL_CloseAudioDevice)       \
    X(SDL_PauseAudioDevice)       \
    X(SDL_LockAudioDevice)        \
    X(SDL_UnlockAudioDevice)      \
    X(SDL_GetDesktopDisplayMode)  \
    X(SDL_GetCurrentDisplayMode)  \
    X(SDL_CreateWindow)           \
    X(SDL_DestroyWindow)          \
    X(SDL_GetWindowFlags)         \
    X(SDL_GetWindowDisplayIndex)  \
    X(SDL_CreateRenderer)         \
    X(SDL_DestroyRenderer)        \
    X(SDL_GetRendererInfo)        \
    X(SDL_RenderSetLogicalSize)   \
    X(SDL_SetRenderDrawColor)     \
    X(SDL_RenderClear)            \
    X(SDL_RenderCopy)             \
    X(SDL_RenderPresent)          \
    X(SDL_CreateTexture)          \
    X(SDL_DestroyTexture)         \
    X(SDL_QueryTexture)           \
    X(SDL_LockTexture)            \
    X(SDL_UnlockTexture)          \
    X(SDL_PixelFormatEnumToMasks) \
    X(SDL_ShowCursor)             \
    X(SDL_EnableScreenSaver)      \
    X(SDL_DisableScreenSaver)     \
    X(SDL_PollEvent)

// One pointer per function, named and typed as SDL declares it.
struct SdlLibrary {
#define BROM_SDL_POINTER(name) decltype(&::name) name;
    BROM_SDL_FUNCTIONS(BROM_SDL_POINTER)
#undef BROM_SDL_POINTER
};

// The loaded library, or null when it cannot be loaded or lacks a function.
const SdlLibrary* sdlLibrary();

// Why sdlLibrary() gave null: "cannot load SDL2: ..." naming the file or the missing function.
const char* sdlLibraryError();
