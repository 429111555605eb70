// The synthesised instruments: in tune, and looped where the wave really repeats, so the loops
// neither click nor buzz.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "tools/brom-compose/instruments.h"

namespace {

XmInstrument build(const std::string& name) {
    XmInstrument ins;
    EXPECT_TRUE(makeSongInstrument(name, &ins)) << name;
    return ins;
}

// The largest difference between the loop and the stretch of the same length just before it.
int loopMismatch(const XmSample& s) {
    int worst = 0;
    for (uint32_t k = 0; k < s.loopLength; ++k) {
        int inLoop = s.frames[s.loopStart + k];
        int before = s.frames[s.loopStart + k - s.loopLength];
        worst = std::max(worst, std::abs(inLoop - before));
    }
    return worst;
}

int largestFrame(const XmSample& s) {
    int largest = 0;
    for (int16_t f : s.frames) largest = std::max(largest, std::abs(int(f)));
    return largest;
}

TEST(Instruments, EveryNameBuildsAndUnknownNamesDoNot) {
    for (const std::string& name : songInstrumentNames()) {
        XmInstrument ins = build(name);
        ASSERT_FALSE(ins.samples.empty()) << name;
        for (const XmSample& s : ins.samples) {
            EXPECT_FALSE(s.frames.empty()) << name;
            EXPECT_LE(s.loopStart + s.loopLength, s.frames.size()) << name;
            // Loud enough to use the sample's range, never beyond it.
            int full = s.sixteenBit ? 32767 : 127;
            EXPECT_GT(largestFrame(s), full * 9 / 10) << name;
            EXPECT_LE(largestFrame(s), full) << name;
        }
    }
    XmInstrument none;
    EXPECT_FALSE(makeSongInstrument("kazoo", &none));
}

TEST(Instruments, TonalSamplesPlayMiddleCAtMiddleC) {
    // A sample whose loop is one period plays note C-4 at 8363 x 2^(relative note / 12) frames per
    // second; that over the period must be middle C, 261.63 Hz, within ten cents.
    for (const char* name : {"piano", "organ", "sax"}) {
        for (const XmSample& s : build(name).samples) {
            double hz = 8363 * std::pow(2.0, s.relativeNote / 12.0) / s.loopLength;
            EXPECT_LT(std::fabs(1200 * std::log2(hz / 261.63)), 10) << name << " " << hz;
        }
    }
    // The bass loops half a period back and forth.
    XmSample bass = build("bass").samples[0];
    double hz = 8363 * std::pow(2.0, bass.relativeNote / 12.0) / (2 * bass.loopLength);
    EXPECT_LT(std::fabs(1200 * std::log2(hz / 261.63)), 10) << hz;
}

TEST(Instruments, ForwardLoopsRepeatTheWaveBeforeThem) {
    for (const char* name : {"piano", "organ", "sax"}) {
        for (const XmSample& s : build(name).samples) {
            ASSERT_EQ(s.loopType, 1) << name;
            // The attack has died away by the loop: a period before it equals the loop within a
            // hair of the full scale.
            EXPECT_LT(loopMismatch(s), 32767 / 200) << name;
        }
    }
}

TEST(Instruments, TheBassPingPongLoopIsAMirror) {
    XmSample s = build("bass").samples[0];
    ASSERT_EQ(s.loopType, 2);
    ASSERT_FALSE(s.sixteenBit);
    // Played back and forth, the loop must sound like the wave going on: the held wave is symmetric
    // about the loop start, so the frames before it mirror the loop.
    int worst = 0;
    for (uint32_t k = 1; k < s.loopLength; ++k) {
        worst = std::max(worst, std::abs(s.frames[s.loopStart + k] - s.frames[s.loopStart - k]));
    }
    EXPECT_LE(worst, 2);  // 8-bit steps
}

TEST(Instruments, ThePianoSplitsItsRangeBetweenTwoSamples) {
    XmInstrument piano = build("piano");
    ASSERT_EQ(piano.samples.size(), 2u);
    EXPECT_EQ(piano.noteSampleMap[47], 0);  // B-3
    EXPECT_EQ(piano.noteSampleMap[48], 1);  // C-4
}

}  // namespace
