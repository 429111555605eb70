// Loading modules, and what went wrong when they cannot be loaded.
#include <cstdlib>
#include <filesystem>

#include "library.h"
#include "module/file_access.h"

namespace {

brom_error errorOf(LoadFailure kind) {
    switch (kind) {
        case LoadFailure::NONE: return BROM_OK;
        case LoadFailure::CANNOT_OPEN: return BROM_ERROR_IO;
        case LoadFailure::NOT_A_MODULE:
        case LoadFailure::DAMAGED: return BROM_ERROR_FORMAT;
        case LoadFailure::TRUNCATED: return BROM_ERROR_TRUNCATED;
        case LoadFailure::OUT_OF_MEMORY: return BROM_ERROR_MEMORY;
    }
    return BROM_ERROR_FORMAT;
}

void report(brom_error* error, const char** reason, brom_error code, const char* text) {
    if (error) *error = code;
    if (reason) *reason = text;
}

brom_module* loadModule(const FileCallbacks* files, const char* path, brom_error* error,
                        const char** reason) {
    auto* module = static_cast<brom_module*>(calloc(1, sizeof(brom_module)));
    AudioEngine* engine = createAudioEngine();
    if (!module || !engine) {
        free(module);
        destroyAudioEngine(engine);
        report(error, reason, BROM_ERROR_MEMORY, "out of memory");
        return nullptr;
    }
    LoadError loadError;
    module->song = readSongWith(files, path, nullptr, &loadError);
    module->engine = engine;
    module->rate = DEFAULT_RATE;
    module->threads = 1;  // the calling thread alone, unless asked for more
    module->soughtMs = -1;
    module->jumpOrder = -1;
    module->durationMs = -1;
    module->subsong = -1;
    if (!module->song) {
        report(error, reason, errorOf(loadError.kind), loadError.reason);
        brom_free(module);
        return nullptr;
    }
    if (!restart(module)) {
        report(error, reason, BROM_ERROR_MEMORY, "out of memory");
        brom_free(module);
        return nullptr;
    }
    report(error, reason, BROM_OK, "");
    return module;
}

}  // namespace

extern "C" {

const char* brom_error_string(brom_error error) {
    switch (error) {
        case BROM_OK: return "no error";
        case BROM_ERROR_ARGUMENT: return "invalid argument";
        case BROM_ERROR_IO: return "the file cannot be read";
        case BROM_ERROR_FORMAT: return "not a module Brom can read";
        case BROM_ERROR_TRUNCATED: return "the file ends early";
        case BROM_ERROR_MEMORY: return "out of memory";
    }
    return "unknown error";
}

brom_module* brom_load_memory(const void* data, size_t size, brom_error* error) {
    return brom_load_memory_ex(data, size, error, nullptr);
}

brom_module* brom_load_file(const char* path, brom_error* error) {
    return brom_load_file_ex(path, error, nullptr);
}

brom_module* brom_load_memory_ex(const void* data, size_t size, brom_error* error,
                                 const char** reason) {
    if (!data && size > 0) {
        report(error, reason, BROM_ERROR_ARGUMENT, "no data");
        return nullptr;
    }
    char path[64];
    memoryModulePath(path, sizeof path, data, size);
    return loadModule(&memoryFileCallbacks, path, error, reason);
}

brom_module* brom_load_file_ex(const char* path, brom_error* error, const char** reason) {
    if (!path) {
        report(error, reason, BROM_ERROR_ARGUMENT, "no path");
        return nullptr;
    }
    std::error_code folder;
    if (std::filesystem::is_directory(path, folder)) {
        report(error, reason, BROM_ERROR_IO, "a folder, not a file");
        return nullptr;
    }
    return loadModule(&standardFileCallbacks, path, error, reason);
}

void brom_free(brom_module* module) {
    if (!module) return;
    destroyParallelRender(module->parallel);
    if (module->subsongs) releaseSubsongs(module->subsongs);
    free(module->subsongs);
    releaseViews(&module->views, module->engine);
    if (module->song) freeSong(module->engine, module->song);
    destroyAudioEngine(module->engine);
    free(module);
}

int brom_repair_count(const brom_module* module) { return module ? module->song->repairCount : 0; }

const char* brom_repair_note(const brom_module* module, int index) {
    if (!module || index < 0 || index >= module->song->repairCount || index >= REPAIR_NOTE_SLOTS) {
        return "";
    }
    return module->song->repairNotes[index];
}

}  // extern "C"
