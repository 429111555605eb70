// "brom-boogie.xm" played through the engine, as the demo plays it: long enough before it first
// comes round, loud enough without clipping, never silent, and going on into music after the
// restart.
#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <iterator>

#include "audio/scheduler.h"
#include "tests/support/load_bytes.h"

namespace {

constexpr int32_t RATE = 44100;
constexpr double AFTER_RESTART_SECONDS = 5;

struct Rendering {
    std::vector<int16_t> samples;  // interleaved left, right
    int64_t framesBeforeRepeat = -1;  // the blocks wholly before the first repeat
};

// Renders the song block by block until a few seconds past its first repeat (at most 10 minutes).
Rendering renderSong() {
    std::ifstream in(std::string(BROM_SOURCE_DIR) + "/assets/brom-boogie.xm", std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), {});
    Rendering r;
    prepareMixSettings(RATE);
    SongPtr song = loadOwnedSong(bytes);
    if (!song || !startSongOffline(song.get())) return r;
    int64_t frames = 0;
    while (frames < int64_t{600} * RATE) {
        const int16_t* block = renderNextBlock();
        if (!block) break;
        if (r.framesBeforeRepeat < 0 && defaultAudioEngine()->state->hasRepeated)
            r.framesBeforeRepeat = frames;
        r.samples.insert(r.samples.end(), block,
                         block + 2 * defaultAudioEngine()->settings.blockFrames);
        frames += defaultAudioEngine()->settings.blockFrames;
        if (r.framesBeforeRepeat >= 0 &&
            frames >= r.framesBeforeRepeat + int64_t(AFTER_RESTART_SECONDS * RATE)) {
            break;
        }
    }
    stopSong(song.get());
    return r;
}

const Rendering& rendering() {
    static const Rendering r = renderSong();
    return r;
}

// Level of samples [from, to) in dB relative to full scale (a full-scale square wave is 0 dB).
double levelDb(const std::vector<int16_t>& s, size_t from, size_t to) {
    double sum = 0;
    for (size_t k = from; k < to; ++k) sum += double(s[k]) * s[k];
    return 10 * std::log10(sum / double(to - from) / (32768.0 * 32768.0) + 1e-30);
}

TEST(SongRendering, PlaysNinetySecondsBeforeItFirstRepeats) {
    const Rendering& r = rendering();
    ASSERT_GE(r.framesBeforeRepeat, 0) << "the song never came round";
    EXPECT_GE(r.framesBeforeRepeat, int64_t{90} * RATE);
}

TEST(SongRendering, StaysInsideTheLoudnessWindowWithoutClipping) {
    const Rendering& r = rendering();
    ASSERT_GT(r.framesBeforeRepeat, 0);
    size_t end = static_cast<size_t>(r.framesBeforeRepeat) * 2;
    size_t clipped = 0;
    for (size_t k = 0; k < end; ++k) {
        if (r.samples[k] == 32767 || r.samples[k] == -32768) ++clipped;
    }
    EXPECT_LT(clipped, end / 10000) << clipped << " of " << end << " samples at the 16-bit limits";
    double level = levelDb(r.samples, 0, end);
    EXPECT_GE(level, -24.0);
    EXPECT_LE(level, -12.0);
}

TEST(SongRendering, EverySecondHasMusicAlsoAfterTheRestart) {
    const Rendering& r = rendering();
    ASSERT_GT(r.framesBeforeRepeat, 0);
    ASSERT_GE(r.samples.size(), static_cast<size_t>(r.framesBeforeRepeat + 4 * RATE) * 2);
    const size_t second = 2 * RATE;
    for (size_t from = 0; from + second <= r.samples.size(); from += second) {
        EXPECT_GT(levelDb(r.samples, from, from + second), -45.0)
            << "silence at " << from / second << " s";
    }
    // The restart lands on the first chorus in full swing, not on an ending or a gap.
    size_t restart = static_cast<size_t>(r.framesBeforeRepeat) * 2;
    EXPECT_GT(levelDb(r.samples, restart, restart + 4 * second), -24.0);
}

}  // namespace
