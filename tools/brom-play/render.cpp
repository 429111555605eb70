// --render: writes what the sound device would play, frame for frame, as a 16-bit 44100 Hz stereo
// WAV file. The blocks come from the same mixBlock the mixing thread runs, in the order the device
// would play them; no device is opened, so rendering works on a machine without sound.
#include <unistd.h>

#include <bit>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/scheduler.h"
#include "player/sequencer.h"
#include "tools/brom-play/brom_play.h"

namespace {

constexpr int32_t RENDER_RATE = 44100;
// A song that never comes back to a row it has played stops here.
constexpr int64_t LONGEST_SONG_FRAMES = int64_t{60} * 60 * RENDER_RATE;
// The WAV header counts data bytes in 32 bits.
constexpr int64_t LONGEST_WAV_FRAMES = (int64_t{0xFFFFFFFF} - 36) / 4;

// Frames from the start to the tick at which the song first comes back to a row it has played,
// found by running the player on its own (no mixing, so it takes a moment). `limit` when sooner.
int64_t framesUntilRepeat(AudioEngine* engine, Song* song, int64_t limit) {
    startSongPosition(song, engine->voices, RENDER_RATE);
    int64_t frames = 0;
    while (frames < limit && song->tickHandler) {
        song->tickHandler(song);
        if (song->hasRepeated) return frames;
        frames += song->samplesPerTick > 0 ? song->samplesPerTick : 1;
    }
    return frames < limit ? frames : limit;
}

void putLe16(uint8_t* at, uint32_t value) {
    at[0] = static_cast<uint8_t>(value);
    at[1] = static_cast<uint8_t>(value >> 8);
}

void putLe32(uint8_t* at, uint32_t value) {
    putLe16(at, value & 0xFFFF);
    putLe16(at + 2, value >> 16);
}

bool writeWavHeader(FILE* file, int64_t frames) {
    uint32_t dataBytes = static_cast<uint32_t>(frames * 4);
    uint8_t header[44];
    memcpy(header, "RIFF", 4);
    putLe32(header + 4, 36 + dataBytes);
    memcpy(header + 8, "WAVEfmt ", 8);
    putLe32(header + 16, 16);  // size of the format record
    putLe16(header + 20, 1);  // PCM
    putLe16(header + 22, 2);  // stereo
    putLe32(header + 24, RENDER_RATE);
    putLe32(header + 28, RENDER_RATE * 4);  // bytes per second
    putLe16(header + 32, 4);  // bytes per frame
    putLe16(header + 34, 16);  // bits per sample
    memcpy(header + 36, "data", 4);
    putLe32(header + 40, dataBytes);
    return fwrite(header, 1, sizeof header, file) == sizeof header;
}

// Frames on their way to the file, gathered into pieces of a hundred kilobytes or so: a block
// of a few kilobytes each would cost a system call apiece, and a buffer of megabytes more in
// fresh memory than the calls save.
struct FrameWriter {
    FILE* file;
    std::vector<uint8_t> bytes;  // little-endian, as WAV files are, whatever the machine
    size_t used;
};

bool flushFrames(FrameWriter& writer) {
    bool written = fwrite(writer.bytes.data(), 1, writer.used, writer.file) == writer.used;
    writer.used = 0;
    return written;
}

bool writeFrames(FrameWriter& writer, const int16_t* pcm, int32_t frames) {
    size_t size = static_cast<size_t>(frames) * 4;
    if (writer.used + size > writer.bytes.size() && !flushFrames(writer)) return false;
    if (size > writer.bytes.size()) writer.bytes.resize(size);
    uint8_t* at = writer.bytes.data() + writer.used;
    if constexpr (std::endian::native == std::endian::little) {
        memcpy(at, pcm, size);
    } else {
        for (int32_t k = 0; k < frames * 2; ++k) putLe16(at + 2 * k, static_cast<uint16_t>(pcm[k]));
    }
    writer.used += size;
    return true;
}

void showProgress(int64_t done, int64_t total) {
    constexpr int WIDTH = 40;
    int filled = total > 0 ? static_cast<int>(done * WIDTH / total) : WIDTH;
    char bar[WIDTH + 1];
    for (int k = 0; k < WIDTH; ++k) bar[k] = k < filled ? '#' : '.';
    bar[WIDTH] = '\0';
    int seconds = static_cast<int>(done / RENDER_RATE);
    int totalSeconds = static_cast<int>(total / RENDER_RATE);
    fprintf(stderr, "\r[%s] %3d%%  %d:%02d / %d:%02d", bar,
            total > 0 ? static_cast<int>(done * 100 / total) : 100, seconds / 60, seconds % 60,
            totalSeconds / 60, totalSeconds % 60);
    fflush(stderr);
}

void warnIfEndless(const char* songPath, bool untilRepeat, int64_t frames) {
    if (untilRepeat && frames == LONGEST_SONG_FRAMES) {
        fprintf(stderr,
                "brom-play: %s: the song does not repeat within an hour; rendering an hour\n",
                songPath);
    }
}

// Renders `limit` frames, or up to where the song first repeats when that is sooner.
int renderSong(Song* song, const char* outPath, const char* songPath, int64_t limit,
               bool untilRepeat) {
    FILE* file = fopen(outPath, "wb");
    if (!file) {
        fprintf(stderr, "brom-play: %s: %s\n", outPath, strerror(errno));
        return 1;
    }
    bool progress = isatty(fileno(stderr));
    // The header holds the length. A progress bar needs it before rendering and a pipe cannot
    // take the header again afterwards: then the player runs through the song once on its own to
    // find it. Otherwise the repeat is found while rendering and the header is written at the end.
    bool findWhileRendering = !progress && song->tickHandler && fseek(file, 0, SEEK_CUR) == 0;
    int64_t frames = limit;
    AudioEngine* engine = defaultAudioEngine();
    prepareMixSettings(engine, RENDER_RATE);
    if (!findWhileRendering) {
        frames = framesUntilRepeat(engine, song, limit);
        warnIfEndless(songPath, untilRepeat, frames);
        prepareMixSettings(engine, RENDER_RATE);  // fresh voices: the measuring run played them
    }
    startSongOffline(engine, song);
    const int32_t blockFrames = engine->settings.blockFrames;
    bool written = writeWavHeader(file, frames);
    FrameWriter writer = {file, std::vector<uint8_t>(size_t{96} << 10), 0};
    int64_t done = 0;
    int64_t shownAt = -RENDER_RATE;
    while (written && done < frames) {
        const int16_t* pcm = renderNextBlock(engine);
        // The tick that repeats started within this block.
        if (findWhileRendering && engine->repeatFrame >= 0 && engine->repeatFrame < frames) {
            frames = engine->repeatFrame;
        }
        int64_t piece = frames - done < blockFrames ? frames - done : blockFrames;
        written = writeFrames(writer, pcm, static_cast<int32_t>(piece));
        done += piece;
        if (progress && done - shownAt >= RENDER_RATE / 4) {
            showProgress(done, frames);
            shownAt = done;
        }
    }
    if (written) written = flushFrames(writer);
    if (findWhileRendering) {
        warnIfEndless(songPath, untilRepeat, frames);
        written = written && fseek(file, 0, SEEK_SET) == 0 && writeWavHeader(file, frames);
    }
    stopSong(engine, song);
    if (progress) {
        showProgress(done, frames);
        fputc('\n', stderr);
    }
    if (fclose(file) != 0) written = false;
    if (!written) {
        fprintf(stderr, "brom-play: %s: cannot write the file\n", outPath);
        return 1;
    }
    return 0;
}

}  // namespace

int runRender(const char* outPath, const char* path, double seconds) {
    int64_t limit = LONGEST_SONG_FRAMES;
    if (seconds >= 0) {
        if (seconds * RENDER_RATE > static_cast<double>(LONGEST_WAV_FRAMES)) {
            fprintf(stderr, "brom-play: --seconds %g: a WAV file holds at most %lld seconds\n",
                    seconds, static_cast<long long>(LONGEST_WAV_FRAMES / RENDER_RATE));
            return 2;
        }
        limit = std::llround(seconds * RENDER_RATE);
    }
    Song* song = loadSongOrComplain(path);
    if (!song) return 1;
    int status = renderSong(song, outPath, path, limit, seconds < 0);
    freeSong(song);
    return status;
}
