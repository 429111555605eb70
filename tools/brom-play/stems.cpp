// --stems DIR: one WAV file per channel of the song (DIR/01.wav, DIR/02.wav, ...), or per
// instrument with --stems-by instrument (DIR/01-bass_drum.wav: the number, then the name made
// safe for any file system). The stems come from the library in the same pass as the mix, with
// the options that shape the sound applied; a stem that stays silent from start to end gets no
// file, and the run says which. With --float the files add up to the float mix within the bound
// brom.h states; 16-bit files are each rounded to the 16-bit step.
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "tools/brom-play/brom_play.h"
#include "tools/brom-play/source.h"
#include "tools/brom-play/wav.h"

namespace {

constexpr size_t PIECE_FRAMES = 4096;

struct StemFile {
    std::string path;
    FILE* file = nullptr;
    bool heard = false;
};

// Letters, digits, '-' and '.' kept (a leading dot dropped); every other run of characters
// becomes one '_'; at most 40 characters.
std::string safeName(const char* name) {
    std::string safe;
    for (const char* c = name; *c && safe.size() < 40; ++c) {
        const unsigned char ch = static_cast<unsigned char>(*c);
        const bool kept = (ch < 128 && isalnum(ch)) || ch == '-' || (ch == '.' && !safe.empty());
        if (kept) {
            safe += static_cast<char>(ch);
        } else if (!safe.empty() && safe.back() != '_') {
            safe += '_';
        }
    }
    while (!safe.empty() && (safe.back() == '_' || safe.back() == '.')) safe.pop_back();
    return safe;
}

// "07.wav", or "07-name.wav" by instrument; three digits past 99 stems.
std::string stemFileName(brom_module* module, int stem, int count, bool byInstrument) {
    char number[8];
    snprintf(number, sizeof number, count > 99 ? "%03d" : "%02d", stem + 1);
    std::string name = number;
    if (byInstrument) {
        const std::string safe = safeName(brom_instrument_name(module, stem));
        if (!safe.empty()) name.append(1, '-').append(safe);
    }
    return name + ".wav";
}

// Numbers counted from 1, runs joined: "3, 5-8".
std::string numberList(const std::vector<int>& numbers) {
    std::string list;
    for (size_t k = 0; k < numbers.size(); ++k) {
        size_t last = k;
        while (last + 1 < numbers.size() && numbers[last + 1] == numbers[last] + 1) ++last;
        if (!list.empty()) list += ", ";
        list += std::to_string(numbers[k] + 1);
        if (last > k) list.append(1, '-').append(std::to_string(numbers[last] + 1));
        k = last;
    }
    return list;
}

int16_t toPcm16(float x) {
    const float scaled = x * 32768.0f;
    if (scaled >= 32767.0f) return 32767;
    if (scaled <= -32768.0f) return -32768;
    return static_cast<int16_t>(std::lrint(scaled));
}

// Renders the source's stems into the files; false when writing failed.
bool renderStems(Source* source, std::vector<StemFile>* files, const WavFormat& format) {
    const size_t count = files->size();
    std::vector<std::vector<float>> stems(count, std::vector<float>(2 * PIECE_FRAMES));
    std::vector<float*> pointers;
    for (auto& stem : stems) pointers.push_back(stem.data());
    std::vector<int16_t> pcm(2 * PIECE_FRAMES);
    const int64_t most = wavMostFrames(format);
    int64_t done = 0;
    for (;;) {
        int64_t want = static_cast<int64_t>(PIECE_FRAMES);
        if (source->frameLimit >= 0) want = std::min(want, source->frameLimit - done);
        want = std::min(want, most - done);
        if (want <= 0) break;
        const size_t got = brom_render_stems_f32(source->module, nullptr, pointers.data(),
                                                 static_cast<size_t>(want));
        for (size_t s = 0; s < count; ++s) {
            StemFile& stem = (*files)[s];
            const float* frames = stems[s].data();
            const void* samples = frames;
            if (!format.floatSamples) {
                for (size_t k = 0; k < 2 * got; ++k) pcm[k] = toPcm16(frames[k]);
                samples = pcm.data();
            }
            for (size_t k = 0; k < 2 * got && !stem.heard; ++k) stem.heard = frames[k] != 0;
            if (!writeWavFrames(stem.file, format, samples, got)) return false;
        }
        done += static_cast<int64_t>(got);
        if (got < static_cast<size_t>(want)) break;
    }
    for (StemFile& stem : *files) {
        if (fseek(stem.file, 0, SEEK_SET) != 0 || !writeWavHeader(stem.file, format, done)) {
            return false;
        }
    }
    return true;
}

// Whether every stem file may be written: over an existing file only with --force.
bool mayWriteAll(const std::vector<StemFile>& files, const Options& options) {
    std::error_code error;
    for (const StemFile& stem : files) {
        if (options.force || !std::filesystem::exists(stem.path, error)) continue;
        fprintf(stderr, "brom-play: %s: exists; --force writes over it\n", stem.path.c_str());
        return false;
    }
    return true;
}

// Closes the files, removing the silent ones (and all of them when the render failed).
void closeStems(std::vector<StemFile>* files, bool written, std::vector<int>* silent) {
    for (size_t s = 0; s < files->size(); ++s) {
        StemFile& stem = (*files)[s];
        if (stem.file && fclose(stem.file) != 0) written = false;
        stem.file = nullptr;
    }
    for (size_t s = 0; s < files->size(); ++s) {
        StemFile& stem = (*files)[s];
        if (written && stem.heard) continue;
        remove(stem.path.c_str());
        if (written) silent->push_back(static_cast<int>(s));
    }
}

}  // namespace

int runStems(const Options& options) {
    const char* folder = options.stemsDir;
    const char* path = options.files[0];
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error)) {
        fprintf(stderr, "brom-play: %s: not a folder\n", folder);
        return 1;
    }
    Source source;
    if (!openSource(&source, path, options)) return 1;
    const bool byInstrument = options.stemsByInstrument;
    brom_set_stems(source.module, byInstrument ? BROM_STEMS_BY_INSTRUMENT : BROM_STEMS_BY_CHANNEL);
    const int count = brom_stem_count(source.module);
    const WavFormat format = {options.rate, options.floatSamples};
    std::vector<StemFile> files(static_cast<size_t>(count));
    for (int s = 0; s < count; ++s) {
        files[static_cast<size_t>(s)].path =
            (std::filesystem::path(folder) / stemFileName(source.module, s, count, byInstrument))
                .string();
    }
    if (count == 0 || !mayWriteAll(files, options)) {
        if (count == 0)
            fprintf(stderr, "brom-play: %s: no %s\n", path,
                    byInstrument ? "instruments" : "channels");
        closeSource(&source);
        return 1;
    }
    bool written = true;
    for (StemFile& stem : files) {
        stem.file = fopen(stem.path.c_str(), "wb");
        if (!stem.file || !writeWavHeader(stem.file, format, 0)) {
            fprintf(stderr, "brom-play: %s: %s\n", stem.path.c_str(), strerror(errno));
            written = false;
            break;
        }
    }
    written = written && renderStems(&source, &files, format);
    closeSource(&source);
    std::vector<int> silent;
    closeStems(&files, written, &silent);
    if (!written) {
        fprintf(stderr, "brom-play: %s: cannot write the stems\n", folder);
        return 1;
    }
    const char* what = byInstrument ? "instrument" : "channel";
    printf("%s: %d %s stems in %s\n", path, count - static_cast<int>(silent.size()), what, folder);
    if (!silent.empty()) {
        printf("silent, no file: %s%s %s\n", what, silent.size() > 1 ? "s" : "",
               numberList(silent).c_str());
    }
    return 0;
}
