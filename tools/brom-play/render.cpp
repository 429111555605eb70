// --render: the frames of the public library, as a WAV file. One file renders to OUT (or to
// standard output for "-"); into a folder OUT (options.renderFolder) each input renders to a file
// named after it, on as many threads as --jobs says, each with a module of its own. No sound
// device is opened. No render writes over an input, nor over another file without --force.
//
// The header holds the length, which is known only once the song has ended. A file gets a
// header, the frames, and the header again at the end; a pipe cannot take the header again, so
// the frames wait in a temporary file until the length is known.
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#else
#include <unistd.h>
#endif

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "tools/brom-play/brom_play.h"
#include "tools/brom-play/encode.h"
#include "tools/brom-play/source.h"
#include "tools/brom-play/wav.h"

namespace {

// Frames asked of the library at a time: about a hundred kilobytes, one write apiece.
constexpr size_t PIECE_FRAMES = 24576;
// The library ends a song that never comes round after an hour of each pass.
constexpr int64_t LONGEST_PASS_SECONDS = 3600;

struct RenderJob {
    const char* outPath;
    const char* songPath;
    const Options* options;
    WavFormat format;
    bool progress;  // a bar on stderr
};

void showProgress(int64_t done, int64_t total, int32_t rate) {
    constexpr int WIDTH = 40;
    if (total < done) total = done;
    const int filled = total > 0 ? static_cast<int>(done * WIDTH / total) : WIDTH;
    char bar[WIDTH + 1];
    for (int k = 0; k < WIDTH; ++k) bar[k] = k < filled ? '#' : '.';
    bar[WIDTH] = '\0';
    const int seconds = static_cast<int>(done / rate);
    const int totalSeconds = static_cast<int>(total / rate);
    fprintf(stderr, "\r[%s] %3d%%  %d:%02d / %d:%02d", bar,
            total > 0 ? static_cast<int>(done * 100 / total) : 100, seconds / 60, seconds % 60,
            totalSeconds / 60, totalSeconds % 60);
    fflush(stderr);
}

// What the progress bar counts to: the passes' length, or --seconds when sooner. An estimate
// (a start other than the beginning shortens it), never the header's length.
int64_t expectedFrames(Source* source, const Options& options) {
    const int64_t pass = brom_duration_ms(source->module) * options.rate / 1000;
    const int64_t fade =
        options.end == BROM_END_FADE ? int64_t{options.fadeMs} * options.rate / 1000 : 0;
    int64_t total = options.repeat < 0 || options.end == BROM_END_LOOP
                        ? source->frameLimit
                        : pass * (options.repeat + 1) + fade;
    if (source->frameLimit >= 0 && source->frameLimit < total) total = source->frameLimit;
    if (options.seekMs >= 0) total -= options.seekMs * options.rate / 1000;
    return total > 0 ? total : 0;
}

// Whether any of `count` samples is not zero.
template <typename Sample>
bool sounds(const Sample* samples, size_t count) {
    for (size_t k = 0; k < count; ++k) {
        if (samples[k] != 0) return true;
    }
    return false;
}

// Pulls the source's frames into `file` until it ends or the WAV file is full; the frame count,
// -1 when writing failed. `heard` tells whether any frame was not silent.
int64_t renderFrames(Source* source, FILE* file, const RenderJob& job, bool* heard) {
    const bool floats = job.format.floatSamples;
    std::vector<float> f32(floats ? 2 * PIECE_FRAMES : 0);
    std::vector<int16_t> s16(floats ? 0 : 2 * PIECE_FRAMES);
    const int64_t most = wavMostFrames(job.format);
    const int64_t expected = job.progress ? expectedFrames(source, *job.options) : 0;
    int64_t done = 0;
    int64_t shownAt = -job.format.rate;
    for (;;) {
        const size_t want =
            most - done < int64_t{PIECE_FRAMES} ? static_cast<size_t>(most - done) : PIECE_FRAMES;
        const size_t got =
            floats ? pullF32(source, f32.data(), want) : pullS16(source, s16.data(), want);
        if (!writeWavFrames(file, job.format,
                            floats ? static_cast<const void*>(f32.data())
                                   : static_cast<const void*>(s16.data()),
                            got)) {
            return -1;
        }
        if (!*heard) *heard = floats ? sounds(f32.data(), 2 * got) : sounds(s16.data(), 2 * got);
        done += static_cast<int64_t>(got);
        if (job.progress && (got < want || done - shownAt >= job.format.rate / 4)) {
            showProgress(done, expected, job.format.rate);
            shownAt = done;
        }
        if (got < want || got == 0) break;
    }
    if (job.progress) fputc('\n', stderr);
    return done;
}

// The warnings of a render that did not end where the song comes round.
void warnIfCut(Source* source, const RenderJob& job, int64_t frames) {
    const Options& options = *job.options;
    if (frames == wavMostFrames(job.format)) {
        int16_t probe[2];
        if (pullS16(source, probe, 1) == 1) {
            fprintf(stderr, "brom-play: %s: a WAV file holds at most %lld seconds; cut there\n",
                    job.songPath, static_cast<long long>(frames / job.format.rate));
        }
    } else if (options.seconds < 0 &&
               frames >= (options.repeat + 1) * LONGEST_PASS_SECONDS * job.format.rate) {
        fprintf(stderr,
                "brom-play: %s: the song does not repeat within an hour; rendering an hour\n",
                job.songPath);
    }
}

// Copies the frames kept in `data` after the header into the pipe `out`.
bool writeThroughPipe(FILE* data, FILE* out, const WavFormat& format, int64_t frames) {
    if (!writeWavHeader(out, format, frames) || fseek(data, 0, SEEK_SET) != 0) return false;
    std::vector<char> bytes(size_t{1} << 16);
    size_t got;
    while ((got = fread(bytes.data(), 1, bytes.size(), data)) > 0) {
        if (fwrite(bytes.data(), 1, got, out) != got) return false;
    }
    return !ferror(data);
}

FILE* openOutput(const char* outPath) {
    if (strcmp(outPath, "-") != 0) return fopen(outPath, "wb");
#ifdef _WIN32
    _setmode(_fileno(stdout), _O_BINARY);
#endif
    return stdout;
}

// Whether the render may write `outPath`: never over an input, over another existing file only
// with --force; one line on stderr when not.
bool mayWrite(const char* outPath, const Options& options) {
    if (strcmp(outPath, "-") == 0) return true;
    std::error_code error;
    for (const char* input : options.files) {
        if (!std::filesystem::equivalent(outPath, input, error)) continue;
        fprintf(stderr, "brom-play: %s: is an input; the render would write over it\n", outPath);
        return false;
    }
    if (!options.force && std::filesystem::is_regular_file(outPath, error)) {
        fprintf(stderr, "brom-play: %s: exists; --force writes over it\n", outPath);
        return false;
    }
    return true;
}

// Renders one input into `job.outPath`; the process status for it.
int renderOne(const RenderJob& job) {
    if (!mayWrite(job.outPath, *job.options)) return 1;
    const Encoding encoding = outputEncoding(*job.options, job.outPath);
    if (encoding != Encoding::WAV) {
        return renderEncoded(encoding, job.outPath, job.songPath, *job.options);
    }
    Source source;
    if (!openSource(&source, job.songPath, *job.options)) return 1;
    FILE* out = openOutput(job.outPath);
    if (!out) {
        fprintf(stderr, "brom-play: %s: %s\n", job.outPath, strerror(errno));
        closeSource(&source);
        return 1;
    }
    const bool seekable = fseek(out, 0, SEEK_CUR) == 0;
    FILE* data = seekable ? out : tmpfile();
    bool written = data != nullptr;
    if (written && seekable) written = writeWavHeader(out, job.format, 0);
    bool heard = false;
    const int64_t frames = written ? renderFrames(&source, data, job, &heard) : -1;
    written = frames >= 0;
    if (written) warnIfCut(&source, job, frames);
    if (written && frames > 0 && !heard) {
        fprintf(stderr, "brom-play: %s: the render is silent from start to end\n", job.songPath);
    }
    if (written && seekable) {
        written = fseek(out, 0, SEEK_SET) == 0 && writeWavHeader(out, job.format, frames);
    } else if (written) {
        written = writeThroughPipe(data, out, job.format, frames);
    }
    if (data && data != out) fclose(data);
    if ((out == stdout ? fflush(out) : fclose(out)) != 0) written = false;
    closeSource(&source);
    if (!written) {
        fprintf(stderr, "brom-play: %s: cannot write the file\n", job.outPath);
        return 1;
    }
    return 0;
}

// "songs/boogie.xm" -> "OUT/boogie.wav" (or the extension of --format); subsong 2 of it with
// --subsongs all -> "OUT/boogie-song2.wav".
std::string outputPathIn(const char* folder, const char* songPath, const Options& options) {
    std::filesystem::path name = std::filesystem::path(songPath).filename();
    if (options.allSubsongs) {
        name.replace_extension();
        name += "-song" + std::to_string(options.subsong + 1);
    }
    name.replace_extension(encodingExtension(outputEncoding(options, "")));
    return (std::filesystem::path(folder) / name).string();
}

// What a folder render makes: one file per input, or with --subsongs all, one per subsong of
// each input (an input that does not load gets one, which fails).
struct FolderRender {
    const char* songPath;
    Options options;
};

std::vector<FolderRender> folderRenders(const Options& options) {
    std::vector<FolderRender> renders;
    for (const char* path : options.files) {
        FolderRender one = {path, options};
        int count = 1;
        if (options.allSubsongs) {
            brom_module* module = brom_load_file(path, nullptr);
            count = module ? brom_subsong_count(module) : 0;
            brom_free(module);
        }
        for (int k = 0; k < (count > 0 ? count : 1); ++k) {
            one.options.subsong = options.allSubsongs && count > 0 ? k : options.subsong;
            renders.push_back(one);
        }
    }
    return renders;
}

// Renders every input into the folder `folder`, `jobs` at a time.
int renderIntoFolder(const Options& options, const WavFormat& format) {
    const char* folder = options.renderOut;
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (!std::filesystem::is_directory(folder, error)) {
        fprintf(stderr, "brom-play: %s: not a folder%s%s\n", folder, error ? ": " : "",
                error ? error.message().c_str() : "");
        return 1;
    }
    std::vector<FolderRender> renders = folderRenders(options);
    const size_t count = renders.size();
    std::vector<std::string> outPaths(count);
    std::vector<int> status(count, 0);
    for (size_t i = 0; i < count; ++i) {
        outPaths[i] = outputPathIn(folder, renders[i].songPath, renders[i].options);
        for (size_t j = 0; j < i && status[i] == 0; ++j) {
            if (outPaths[j] != outPaths[i]) continue;
            fprintf(stderr, "brom-play: %s: %s is already the render of %s\n", renders[i].songPath,
                    outPaths[i].c_str(), renders[j].songPath);
            status[i] = 1;
        }
    }
    size_t jobs =
        options.jobs > 0 ? static_cast<size_t>(options.jobs) : std::thread::hardware_concurrency();
    jobs = jobs < 1 ? 1 : jobs > count ? count : jobs;
    // Files rendering at once keep the processors busy already: one thread each, unless asked.
    for (FolderRender& each : renders) {
        if (each.options.threads == 0 && jobs > 1) each.options.threads = 1;
    }
    std::atomic<size_t> next{0};
    auto work = [&] {
        for (size_t i; (i = next.fetch_add(1)) < count;) {
            if (status[i] != 0) continue;
            status[i] = renderOne(
                {outPaths[i].c_str(), renders[i].songPath, &renders[i].options, format, false});
        }
    };
    std::vector<std::thread> threads;
    for (size_t t = 1; t < jobs; ++t) threads.emplace_back(work);
    work();
    for (std::thread& thread : threads) thread.join();
    for (int s : status) {
        if (s != 0) return 1;
    }
    return 0;
}

}  // namespace

int runRender(const Options& options) {
    const WavFormat format = {options.rate, options.floatSamples};
    const int64_t most = wavMostFrames(format);
    if (options.seconds * options.rate > static_cast<double>(most)) {
        fprintf(stderr, "brom-play: --seconds %g: a WAV file holds at most %lld seconds\n",
                options.seconds, static_cast<long long>(most / options.rate));
        return 2;
    }
    if (options.renderFolder) return renderIntoFolder(options, format);
    if (strcmp(options.renderOut, "-") == 0 && isatty(fileno(stdout))) {
        fprintf(stderr, "brom-play: --render -: standard output is a terminal, not a file\n");
        return 1;
    }
    return renderOne(
        {options.renderOut, options.files[0], &options, format, isatty(fileno(stderr)) != 0});
}
