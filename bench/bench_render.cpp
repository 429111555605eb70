// The audio figures: the generated 16-channel module (looped, ping-pong and one-shot samples,
// notes on most rows) played through the same blocks the mixing thread makes, the same module
// rendered to a WAV file by brom-play's render code, and the voice mixer alone with all 64 voices
// sounding.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "audio/scheduler.h"
#include "bench/bench.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"
#include "tools/brom-play/brom_play.h"

#if defined(_WIN32)
#include <io.h>
#else
#include <unistd.h>
#endif

namespace {

constexpr int CHANNELS = 16;
constexpr int32_t RATE = 44100;

std::vector<int16_t> sawFrames(int count, int period, int amplitude) {
    std::vector<int16_t> frames(static_cast<size_t>(count));
    for (int k = 0; k < count; ++k)
        frames[k] = static_cast<int16_t>(amplitude * (k % period) / period - amplitude / 2);
    return frames;
}

// A decaying burst of noise: a drum-like one-shot.
std::vector<int16_t> hitFrames(int count, int amplitude) {
    std::vector<int16_t> frames(static_cast<size_t>(count));
    uint32_t seed = 12345;
    for (int k = 0; k < count; ++k) {
        seed = seed * 1103515245u + 12345u;
        double envelope = std::exp(-6.0 * k / count);
        frames[k] =
            static_cast<int16_t>(((seed >> 16) % (2 * amplitude + 1) - amplitude) * envelope);
    }
    return frames;
}

struct VoiceCount {
    int playing;  // holding a sample: the mixer moves them along
    int audible;  // of those, the ones with a gain: the mixer renders them
};

VoiceCount countVoices() {
    VoiceCount count = {0, 0};
    for (int v = 0; v < MIXED_VOICE_COUNT; ++v) {
        const Voice& voice = defaultAudioEngine()->voices[v];
        if (!voice.sample) continue;
        ++count.playing;
        count.audible += voice.volumeLeft || voice.volumeRight || voice.levelLeft ||
                         voice.levelRight || voice.rampRemaining;
    }
    return count;
}

// Standard error is closed for a moment while brom-play's code renders, so that its progress bar
// (shown when standard error is a terminal) neither clutters the figures nor costs time.
class QuietStandardError {
  public:
    QuietStandardError() {
        fflush(stderr);
        saved_ = dup(fileno(stderr));
#if defined(_WIN32)
        FILE* null = fopen("NUL", "w");
#else
        FILE* null = fopen("/dev/null", "w");
#endif
        if (null) {
            dup2(fileno(null), fileno(stderr));
            fclose(null);
        }
    }
    ~QuietStandardError() {
        fflush(stderr);
        if (saved_ >= 0) {
            dup2(saved_, fileno(stderr));
            close(saved_);
        }
    }

  private:
    int saved_;
};

}  // namespace

std::vector<uint8_t> benchModule(int orders) {
    XmSong xm = makeXmSong(CHANNELS, 4);
    xm.speed = 6;
    xm.bpm = 125;
    xm.orders.clear();
    for (int o = 0; o < orders; ++o) xm.orders.push_back(static_cast<uint8_t>(o % 4));

    XmSample pad = makeSample(sineFrames(2048, 64, 12000), true);  // forward loop
    pad.loopType = 1;
    pad.loopStart = 0;
    pad.loopLength = 2048;
    XmSample lead = makeSample(sawFrames(1000, 50, 100), false);  // ping-pong loop, 8-bit
    lead.loopType = 2;
    lead.loopStart = 200;
    lead.loopLength = 800;
    XmSample hit = makeSample(hitFrames(6000, 9000), true);  // one-shot
    XmSample pluck = makeSample(sineFrames(20000, 37, 8000), true);  // long one-shot
    for (XmSample s : {pad, lead, hit, pluck}) {
        XmInstrument ins = makeInstrument(s);
        ins.volumeEnvelope = {{0, 64}, {20, 40}, {80, 0}};
        ins.volumeFlags = 1;
        xm.instruments.push_back(ins);
    }

    for (int p = 0; p < 4; ++p) {
        for (int row = 0; row < 64; ++row) {
            for (int c = 0; c < CHANNELS; ++c) {
                if ((row + c + p) % 3 == 2) continue;  // a third of the cells rest
                XmCell& cell = cellAt(xm.patterns[p], CHANNELS, row, c);
                cell.note = static_cast<uint8_t>(25 + (c * 5 + row * 7 + p * 3) % 48);
                cell.instrument = static_cast<uint8_t>(1 + (c + row / 8) % 4);
                cell.volumeColumn = static_cast<uint8_t>(0x20 + (row * 3 + c) % 0x30);
                if (c % 4 == 1) {
                    cell.effect = 4;  // vibrato
                    cell.param = 0x46;
                } else if (c % 4 == 3) {
                    cell.effect = 0xA;  // volume slide down
                    cell.param = 0x02;
                }
            }
        }
    }
    return writeXm(xm);
}

void benchSong(const std::vector<uint8_t>& module, double seconds) {
    SongPtr song = loadOwnedSong(module);
    if (!song) {
        fprintf(stderr, "brom-bench: the generated module does not load: %s\n", songLoadError());
        exit(1);
    }
    prepareMixSettings(RATE);
    startSongOffline(song.get());
    int64_t blocks =
        static_cast<int64_t>(seconds * RATE / defaultAudioEngine()->settings.blockFrames);
    int64_t playingFrames = 0;
    int64_t audibleFrames = 0;
    double elapsed = 0;
    for (int64_t b = 0; b < blocks; ++b) {
        VoiceCount count = countVoices();
        playingFrames += int64_t{count.playing} * defaultAudioEngine()->settings.blockFrames;
        audibleFrames += int64_t{count.audible} * defaultAudioEngine()->settings.blockFrames;
        double start = threadCpuSeconds();
        renderNextBlock();
        elapsed += threadCpuSeconds() - start;
    }
    stopSong(song.get());
    double audio = static_cast<double>(blocks * defaultAudioEngine()->settings.blockFrames) / RATE;
    printf("song:   %d channels, %.1f s of audio in %.3f s: %.0f x real time (blocks only)\n",
           CHANNELS, audio, elapsed, audio / elapsed);
    double frames = static_cast<double>(blocks * defaultAudioEngine()->settings.blockFrames);
    printf("        voices on average: %.1f playing, %.1f of them audible\n",
           playingFrames / frames, audibleFrames / frames);
    printf("        %.1f M audible voice-frames/s (%.1f M counting voices at gain 0)\n",
           audibleFrames / elapsed / 1e6, playingFrames / elapsed / 1e6);
}

void writeFile(const std::string& path, const std::vector<uint8_t>& bytes) {
    FILE* file = fopen(path.c_str(), "wb");
    if (!file || fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size()) {
        fprintf(stderr, "brom-bench: %s: cannot write\n", path.c_str());
        exit(1);
    }
    fclose(file);
}

std::string writeTempModule(const std::vector<uint8_t>& module) {
    std::error_code error;
    std::filesystem::path folder = std::filesystem::temp_directory_path(error);
    if (error) folder = ".";
    std::string tag = std::to_string(static_cast<long long>(threadCpuSeconds() * 1e9) % 1000000007);
    std::string xmPath = (folder / ("brom-bench-" + tag + ".xm")).string();
    writeFile(xmPath, module);
    return xmPath;
}

void benchRender(const std::vector<uint8_t>& module, int rounds) {
    std::error_code error;
    std::string xmPath = writeTempModule(module);
    std::string wavPath = xmPath.substr(0, xmPath.size() - 3) + ".wav";

    Options options;
    options.mode = Mode::RENDER;
    options.renderOut = wavPath.c_str();
    options.files = {xmPath.c_str()};
    double best = 0;
    int status = 0;
    for (int r = 0; r < rounds && status == 0; ++r) {
        std::filesystem::remove(wavPath, error);  // a new file each time, as a first render makes
        QuietStandardError quiet;
        double start = threadCpuSeconds();
        status = runRender(options);
        double elapsed = threadCpuSeconds() - start;
        if (r == 0 || elapsed < best) best = elapsed;
    }
    uintmax_t bytes = std::filesystem::file_size(wavPath, error);
    std::filesystem::remove(xmPath, error);
    std::filesystem::remove(wavPath, error);
    if (status != 0 || bytes < 44) {
        fprintf(stderr, "brom-bench: rendering the module failed\n");
        exit(1);
    }
    double audio = static_cast<double>((bytes - 44) / 4) / RATE;
    printf(
        "render: brom-play --render of the module to WAV, %.1f s of audio in %.2f ms "
        "(best of %d): %.0f x real time\n",
        audio, best * 1e3, rounds, audio / best);
}

void benchMixer(double seconds, Interpolation mode) {
    static int16_t frames[4096 + 8];
    for (int k = 0; k < 4096 + 8; ++k) frames[k] = static_cast<int16_t>(10000 * std::sin(k * 0.05));
    Sample looped = {};
    looped.data = frames;
    looped.length = 4096;
    looped.loopStart = 1024;
    looped.loopLength = 3072;
    looped.loopMode = LOOP_FORWARD;
    Sample pingPong = looped;
    pingPong.loopMode = LOOP_PINGPONG;
    std::vector<Voice> voices(VOICE_COUNT);
    resetVoices(voices.data());
    const MixSettings settings = mixSettingsFor(RATE);
    for (int v = 0; v < MIXED_VOICE_COUNT; ++v) {
        Voice& voice = voices[v];
        voice.sample = v % 2 ? &pingPong : &looped;
        voice.step = v % 3;
        voice.stepFraction = 0x9E3779B9u * static_cast<uint32_t>(v + 1);
        voice.direction = DIRECTION_FORWARD;
        voice.volumeLeft = voice.rampTargetLeft = 40 + v;
        voice.volumeRight = voice.rampTargetRight = 100 - v;
        voice.levelLeft = voice.volumeLeft * 256;
        voice.levelRight = voice.volumeRight * 256;
    }
    std::vector<float> block(2 * 884);
    constexpr int ROUNDS = 10;
    int64_t blocks = static_cast<int64_t>(seconds * RATE / 884 / ROUNDS) + 1;
    double best = 0;
    for (int r = 0; r < ROUNDS; ++r) {
        double start = threadCpuSeconds();
        for (int64_t b = 0; b < blocks; ++b) {
            memset(block.data(), 0, block.size() * sizeof(float));
            mixVoices(voices.data(), settings, block.data(), 884, mode);
        }
        double elapsed = threadCpuSeconds() - start;
        if (r == 0 || elapsed < best) best = elapsed;
    }
    double voiceFrames = static_cast<double>(blocks) * 884 * MIXED_VOICE_COUNT;
    printf(
        "mixer:  %d voices sounding, %s, %s: %.1f M voice-frames/s (%.0f x real time; best of "
        "%d)\n",
        MIXED_VOICE_COUNT, interpolationName(mode), mixerPathName(mixerPath()),
        voiceFrames / best / 1e6, blocks * 884.0 / RATE / best, ROUNDS);
}
