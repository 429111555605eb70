// File access: the five process-wide callbacks through which every module byte is read.
//
// A host registers one complete set with setFileCallbacks before it opens the audio device or
// loads a song. The loader only ever talks to a ModuleStream, which forwards each request to the
// set registered at the moment of the call. Two sets come with the engine: the standard-file set
// (buffered C file functions) and a memory set that reads a module from a byte range.
//
//     setFileCallbacks(stdFileOpen, stdFileClose, stdFileRead, stdFileSeek, stdFileTell);
//     ModuleStream* stream = streamOpen("song.xm");
#pragma once

#include <cstddef>
#include <cstdint>

using FileOpenFn = void* (*)(const char* path);
using FileCloseFn = int (*)(void* handle);
using FileReadFn = int (*)(void* buffer, int size, void* handle);
using FileSeekFn = int (*)(void* handle, int32_t offset, int8_t origin);
using FileTellFn = int (*)(void* handle);

struct FileCallbacks {
    FileOpenFn open;
    FileCloseFn close;
    FileReadFn read;
    FileSeekFn seek;
    FileTellFn tell;
};

struct ModuleStream {
    void* handle;
    const FileCallbacks* callbacks;  // the set it was opened with; null: the registered set
};

constexpr int8_t STREAM_SEEK_SET = 0;
constexpr int8_t STREAM_SEEK_CUR = 1;

// The registered set; all null until a complete set is registered.
extern FileCallbacks fileCallbacks;

// Stores the five callbacks if all are non-null; otherwise clears the whole set.
void setFileCallbacks(FileOpenFn open, FileCloseFn close, FileReadFn read, FileSeekFn seek,
                      FileTellFn tell);
// 1 when a complete set is registered.
int fileCallbacksComplete();

// Null when no set is registered or the file cannot be opened. Every later request goes to the
// set registered at the moment of the request.
ModuleStream* streamOpen(const char* path);
// Opens `path` with the given set, which serves every request of the stream whatever is
// registered: for a library whose callers each read in their own way. Null set: streamOpen.
ModuleStream* streamOpenWith(const FileCallbacks* set, const char* path);
void streamClose(ModuleStream* stream);
int streamRead(void* buffer, int size, ModuleStream* stream);
int streamSeek(ModuleStream* stream, int32_t offset, int8_t origin);
int streamTell(ModuleStream* stream);

// The standard-file set: fopen "rb", fclose, fread with element size 1, fseek, ftell.
void* stdFileOpen(const char* path);
int stdFileClose(void* handle);
int stdFileRead(void* buffer, int size, void* handle);
int stdFileSeek(void* handle, int32_t offset, int8_t origin);
int stdFileTell(void* handle);

// The memory set. A path of the form made by memoryModulePath names a byte range that the caller
// keeps alive while the stream is open; reads past the end return fewer bytes, seeks beyond the end
// are allowed and read nothing.
void* memFileOpen(const char* path);
int memFileClose(void* handle);
int memFileRead(void* buffer, int size, void* handle);
int memFileSeek(void* handle, int32_t offset, int8_t origin);
int memFileTell(void* handle);

// Writes into `path` (at least 64 bytes) the name under which memFileOpen opens `size` bytes at
// `data`. Returns 0 when `path` is null.
int memoryModulePath(char* path, size_t pathSize, const void* data, size_t size);

// The two sets as records, for streamOpenWith.
extern const FileCallbacks standardFileCallbacks;
extern const FileCallbacks memoryFileCallbacks;

// Registers the memory set.
void useMemoryFiles();
// Registers the standard-file set.
void useStandardFiles();
