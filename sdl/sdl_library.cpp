#include "sdl/sdl_library.h"

#include <dlfcn.h>

#include <cstdio>

namespace {

constexpr const char* LIBRARY_FILE = "libSDL2-2.0.so.0";

struct LoadedSdl {
    SdlLibrary functions;
    bool complete;  // the library is there with every function
    char error[300];
};

// Never unloaded: SDL's threads and the libraries it loads itself may outlive any back end.
LoadedSdl load() {
    LoadedSdl loaded = {};
    void* library = dlopen(LIBRARY_FILE, RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        snprintf(loaded.error, sizeof loaded.error, "cannot load SDL2: %s", dlerror());
        return loaded;
    }
    const char* missing = nullptr;
#define BROM_SDL_LOOK_UP(name)                                                          \
    loaded.functions.name = reinterpret_cast<decltype(&::name)>(dlsym(library, #name)); \
    if (!loaded.functions.name && !missing) missing = #name;
    BROM_SDL_FUNCTIONS(BROM_SDL_LOOK_UP)
#undef BROM_SDL_LOOK_UP
    if (missing) {
        snprintf(loaded.error, sizeof loaded.error, "cannot load SDL2: %s has no %s", LIBRARY_FILE,
                 missing);
        dlclose(library);
        return loaded;
    }
    loaded.complete = true;
    return loaded;
}

// Loaded on the first call, once, even when two threads ask at the same time.
const LoadedSdl& loadedSdl() {
    static const LoadedSdl loaded = load();
    return loaded;
}

}  // namespace

const SdlLibrary* sdlLibrary() {
    const LoadedSdl& loaded = loadedSdl();
    return loaded.complete ? &loaded.functions : nullptr;
}

const char* sdlLibraryError() { return loadedSdl().error; }
