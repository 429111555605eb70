// What the encoders (encode_flac.cpp, encode_opus.cpp, encode_mp3.cpp) share with the render
// (encode.cpp): the output and its settings, the library loader and the pump that feeds them the
// source's frames.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "tools/brom-play/source.h"

struct EncodeTarget {
    FILE* file;
    bool seekable;  // a file, which can be rewound to complete its header
    const char* path;  // for messages
    int32_t rate;
    int32_t quality;  // --quality, -1: the encoder's default
    std::string title;  // UTF-8, empty when the module has none
    std::string tracker;
};

// A shared library opened with dlopen, and the functions looked up in it. Any failure is kept
// as one line naming the library and the Debian package that has it.
struct CodecLibrary {
    void* handle = nullptr;
    const char* file = "";
    const char* package = "";
    char error[256] = "";
};

bool openCodecLibrary(CodecLibrary* library, const char* file, const char* package);
void* codecFunction(CodecLibrary* library, const char* name);
void closeCodecLibrary(CodecLibrary* library);

// Looks up `name` into `*function`; false (with the library's error set) when it is missing.
template <typename Function>
bool lookUp(CodecLibrary* library, const char* name, Function* function) {
    *function = reinterpret_cast<Function>(codecFunction(library, name));
    return *function != nullptr;
}

// Hands the source's frames to `feed`, a piece at a time, as 16-bit or float samples (1.0 full
// scale); the frames fed, or -1 when `feed` failed.
using FeedFrames = bool (*)(void* encoder, const void* samples, size_t frames);
int64_t pumpFrames(Source* source, bool floats, FeedFrames feed, void* encoder);

// Each encodes the whole source into the target: true when done, else false with the reason in
// `error`.
bool encodeFlac(Source* source, const EncodeTarget& target, std::string* error);
bool encodeOpus(Source* source, const EncodeTarget& target, std::string* error);
bool encodeMp3(Source* source, const EncodeTarget& target, std::string* error);
