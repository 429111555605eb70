// --render in an encoded format: the output opened, the module's title and tracker made tags,
// the encoder of the format loaded and fed (encode_flac.cpp, encode_opus.cpp, encode_mp3.cpp).
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#include <cctype>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "tools/brom-play/encode.h"
#include "tools/brom-play/encoder.h"
#include "tools/brom-play/text.h"

namespace {

// Frames handed to an encoder at a time.
constexpr size_t PIECE_FRAMES = 8192;

struct Format {
    Encoding encoding;
    const char* name;
    const char* extension;
    const char* title;  // for messages
    int32_t lowestQuality, highestQuality;
    const char* qualityMeaning;
};

const Format FORMATS[] = {
    {Encoding::WAV, "wav", ".wav", "WAV", 0, -1, ""},
    {Encoding::FLAC, "flac", ".flac", "FLAC", 0, 8, "a compression level from 0 to 8"},
    {Encoding::OPUS, "opus", ".opus", "Opus", 6, 510, "a bit rate from 6 to 510 kbit/s"},
    {Encoding::MP3, "mp3", ".mp3", "MP3", 8, 320, "a bit rate from 8 to 320 kbit/s"},
};

const Format& formatOf(Encoding encoding) {
    for (const Format& format : FORMATS) {
        if (format.encoding == encoding) return format;
    }
    return FORMATS[0];
}

// "FLAC" and "flac" alike.
bool sameLetters(const char* text, const char* lower) {
    for (; *text && *lower; ++text, ++lower) {
        if (std::tolower(static_cast<unsigned char>(*text)) != *lower) return false;
    }
    return *text == *lower;
}

bool encode(Encoding encoding, Source* source, const EncodeTarget& target, std::string* error) {
    switch (encoding) {
        case Encoding::FLAC: return encodeFlac(source, target, error);
        case Encoding::OPUS: return encodeOpus(source, target, error);
        case Encoding::MP3: return encodeMp3(source, target, error);
        case Encoding::WAV: break;
    }
    *error = "not an encoded format";
    return false;
}

}  // namespace

bool encodingByName(const char* name, Encoding* encoding) {
    for (const Format& format : FORMATS) {
        if (sameLetters(name, format.name)) {
            *encoding = format.encoding;
            return true;
        }
    }
    return false;
}

Encoding outputEncoding(const Options& options, const char* outPath) {
    Encoding encoding = Encoding::WAV;
    if (options.format && encodingByName(options.format, &encoding)) return encoding;
    const std::string extension = std::filesystem::path(outPath).extension().string();
    if (extension.size() > 1) encodingByName(extension.c_str() + 1, &encoding);
    return encoding;
}

const char* encodingExtension(Encoding encoding) { return formatOf(encoding).extension; }

int renderEncoded(Encoding encoding, const char* outPath, const char* songPath,
                  const Options& options) {
    const Format& format = formatOf(encoding);
    if (options.floatSamples) {
        fprintf(stderr, "brom-play: --float is for WAV files; %s is made from the %s\n",
                format.title, encoding == Encoding::FLAC ? "16-bit frames" : "float mix already");
        return 1;
    }
    if (options.quality >= 0 &&
        (options.quality < format.lowestQuality || options.quality > format.highestQuality)) {
        fprintf(stderr, "brom-play: --quality %d: %s takes %s\n", options.quality, format.title,
                format.qualityMeaning);
        return 1;
    }
    Source source;
    if (!openSource(&source, songPath, options)) return 1;
    const bool toStdout = strcmp(outPath, "-") == 0;
#ifdef _WIN32
    if (toStdout) _setmode(_fileno(stdout), _O_BINARY);
#endif
    FILE* out = toStdout ? stdout : fopen(outPath, "w+b");
    if (!out) {
        fprintf(stderr, "brom-play: %s: %s\n", outPath, strerror(errno));
        closeSource(&source);
        return 1;
    }
    const EncodeTarget target = {out,
                                 !toStdout && fseek(out, 0, SEEK_CUR) == 0,
                                 outPath,
                                 options.rate,
                                 options.quality,
                                 utf8Text(brom_title(source.module)),
                                 utf8Text(brom_tracker(source.module))};
    std::string error;
    bool done = encode(encoding, &source, target, &error);
    if ((toStdout ? fflush(out) : fclose(out)) != 0 && done) {
        done = false;
        error = "cannot write the file";
    }
    closeSource(&source);
    if (!done) {
        fprintf(stderr, "brom-play: %s: %s\n", outPath, error.c_str());
        if (!toStdout) remove(outPath);
        return 1;
    }
    return 0;
}

int64_t pumpFrames(Source* source, bool floats, FeedFrames feed, void* encoder) {
    std::vector<float> f32(floats ? 2 * PIECE_FRAMES : 0);
    std::vector<int16_t> s16(floats ? 0 : 2 * PIECE_FRAMES);
    int64_t done = 0;
    for (;;) {
        const size_t got = floats ? pullF32(source, f32.data(), PIECE_FRAMES)
                                  : pullS16(source, s16.data(), PIECE_FRAMES);
        if (got == 0) return done;
        const void* samples = floats ? static_cast<const void*>(f32.data()) : s16.data();
        if (!feed(encoder, samples, got)) return -1;
        done += static_cast<int64_t>(got);
        if (got < PIECE_FRAMES) return done;
    }
}

bool openCodecLibrary(CodecLibrary* library, const char* file, const char* package) {
    library->file = file;
    library->package = package;
#ifdef _WIN32
    library->handle = reinterpret_cast<void*>(LoadLibraryA(file));
    if (!library->handle) {
        snprintf(library->error, sizeof library->error, "cannot load %s", file);
    }
#else
    library->handle = dlopen(file, RTLD_NOW | RTLD_LOCAL);
    if (!library->handle) {
        snprintf(library->error, sizeof library->error, "cannot load %s (Debian's %s): %s", file,
                 package, dlerror());
    }
#endif
    return library->handle != nullptr;
}

void* codecFunction(CodecLibrary* library, const char* name) {
    if (!library->handle) return nullptr;
#ifdef _WIN32
    void* function =
        reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library->handle), name));
#else
    void* function = dlsym(library->handle, name);
#endif
    if (!function && !library->error[0]) {
        snprintf(library->error, sizeof library->error, "%s (Debian's %s) has no %s", library->file,
                 library->package, name);
    }
    return function;
}

void closeCodecLibrary(CodecLibrary* library) {
    if (!library->handle) return;
#ifdef _WIN32
    FreeLibrary(static_cast<HMODULE>(library->handle));
#else
    dlclose(library->handle);
#endif
    library->handle = nullptr;
}
