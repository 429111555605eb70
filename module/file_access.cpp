#include "module/file_access.h"

#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>

FileCallbacks fileCallbacks = {};

void setFileCallbacks(FileOpenFn open, FileCloseFn close, FileReadFn read, FileSeekFn seek,
                      FileTellFn tell) {
    if (open && close && read && seek && tell) {
        fileCallbacks = {open, close, read, seek, tell};
    } else {
        fileCallbacks = {};  // a partial set is never kept
    }
}

int fileCallbacksComplete() {
    const FileCallbacks& f = fileCallbacks;
    return (f.open && f.close && f.read && f.seek && f.tell) ? 1 : 0;
}

namespace {

const FileCallbacks& callbacksOf(const ModuleStream* stream) {
    return stream->callbacks ? *stream->callbacks : fileCallbacks;
}

}  // namespace

ModuleStream* streamOpen(const char* path) { return streamOpenWith(nullptr, path); }

ModuleStream* streamOpenWith(const FileCallbacks* set, const char* path) {
    const FileCallbacks& callbacks = set ? *set : fileCallbacks;
    if (!callbacks.open) return nullptr;
    auto* stream = static_cast<ModuleStream*>(calloc(1, sizeof(ModuleStream)));
    if (!stream) return nullptr;
    stream->callbacks = set;
    stream->handle = callbacks.open(path);
    if (!stream->handle) {
        free(stream);
        return nullptr;
    }
    return stream;
}

void streamClose(ModuleStream* stream) {
    if (!stream) return;
    callbacksOf(stream).close(stream->handle);
    free(stream);
}

int streamRead(void* buffer, int size, ModuleStream* stream) {
    if (!stream) return 0;
    return callbacksOf(stream).read(buffer, size, stream->handle);
}

int streamSeek(ModuleStream* stream, int32_t offset, int8_t origin) {
    if (!stream) return 0;
    return callbacksOf(stream).seek(stream->handle, offset, origin);
}

int streamTell(ModuleStream* stream) {
    if (!stream) return 0;
    return callbacksOf(stream).tell(stream->handle);
}

// ---- standard files ----

void* stdFileOpen(const char* path) { return fopen(path, "rb"); }

int stdFileClose(void* handle) { return fclose(static_cast<FILE*>(handle)); }

int stdFileRead(void* buffer, int size, void* handle) {
    if (size <= 0) return 0;
    return static_cast<int>(
        fread(buffer, 1, static_cast<size_t>(size), static_cast<FILE*>(handle)));
}

int stdFileSeek(void* handle, int32_t offset, int8_t origin) {
    return fseek(static_cast<FILE*>(handle), offset, origin);
}

int stdFileTell(void* handle) { return static_cast<int>(ftell(static_cast<FILE*>(handle))); }

const FileCallbacks standardFileCallbacks = {stdFileOpen, stdFileClose, stdFileRead, stdFileSeek,
                                             stdFileTell};

void useStandardFiles() {
    setFileCallbacks(stdFileOpen, stdFileClose, stdFileRead, stdFileSeek, stdFileTell);
}

// ---- memory files ----

namespace {

struct MemoryFile {
    const uint8_t* data;
    int64_t size;
    int64_t position;  // may lie beyond size after a seek; reads there return 0 bytes
};

const char MEMORY_PREFIX[] = "mem:";

}  // namespace

int memoryModulePath(char* path, size_t pathSize, const void* data, size_t size) {
    if (!path) return 0;
    snprintf(path, pathSize, "%s%" PRIxPTR ":%zx", MEMORY_PREFIX, reinterpret_cast<uintptr_t>(data),
             size);
    return 1;
}

void* memFileOpen(const char* path) {
    if (!path || strncmp(path, MEMORY_PREFIX, sizeof MEMORY_PREFIX - 1) != 0) return nullptr;
    uintptr_t address = 0;
    size_t size = 0;
    if (sscanf(path + sizeof MEMORY_PREFIX - 1, "%" SCNxPTR ":%zx", &address, &size) != 2) {
        return nullptr;
    }
    if (address == 0 && size != 0) return nullptr;
    auto* file = static_cast<MemoryFile*>(calloc(1, sizeof(MemoryFile)));
    if (!file) return nullptr;
    file->data = reinterpret_cast<const uint8_t*>(address);
    file->size = static_cast<int64_t>(size);
    return file;
}

int memFileClose(void* handle) {
    free(handle);
    return 0;
}

int memFileRead(void* buffer, int size, void* handle) {
    auto* file = static_cast<MemoryFile*>(handle);
    if (size <= 0 || file->position >= file->size) return 0;
    int64_t count = file->size - file->position;
    if (count > size) count = size;
    memcpy(buffer, file->data + file->position, static_cast<size_t>(count));
    file->position += count;
    return static_cast<int>(count);
}

int memFileSeek(void* handle, int32_t offset, int8_t origin) {
    auto* file = static_cast<MemoryFile*>(handle);
    int64_t base = (origin == STREAM_SEEK_CUR) ? file->position : 0;
    if (origin != STREAM_SEEK_SET && origin != STREAM_SEEK_CUR) return -1;
    int64_t target = base + offset;
    if (target < 0) return -1;  // like fseek: a position before the start is refused
    file->position = target;
    return 0;
}

int memFileTell(void* handle) {
    auto* file = static_cast<MemoryFile*>(handle);
    return file->position > INT32_MAX ? INT32_MAX : static_cast<int>(file->position);
}

const FileCallbacks memoryFileCallbacks = {memFileOpen, memFileClose, memFileRead, memFileSeek,
                                           memFileTell};

void useMemoryFiles() {
    setFileCallbacks(memFileOpen, memFileClose, memFileRead, memFileSeek, memFileTell);
}
