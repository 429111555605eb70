// Volume and panning envelopes (sustain, loop, effect L), fade-out after key-off, and the
// instrument's auto-vibrato.
#include <vector>

#include "tests/player/player_fixture.h"

namespace {

class EnvelopeTest : public PlayerTest {
  protected:
    XmInstrument& instrument() { return xm.instruments[0]; }
    // The volume envelope's output after each of the next `ticks` ticks.
    std::vector<int> volumeEnvelopeOutputs(int ticks) {
        std::vector<int> outputs;
        for (int k = 0; k < ticks; ++k) {
            tick();
            outputs.push_back(channel().volumeEnvelope.output);
        }
        return outputs;
    }
    std::vector<int> periodDeltas(int ticks) {
        std::vector<int> deltas;
        for (int k = 0; k < ticks; ++k) {
            tick();
            deltas.push_back(channel().periodDelta);
        }
        return deltas;
    }
};

TEST_F(EnvelopeTest, VolumeEnvelopeRunsToItsLastPoint) {
    instrument().volumeEnvelope = {{0, 64}, {10, 0}};
    instrument().volumeFlags = 1;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    EXPECT_EQ(volumeEnvelopeOutputs(11),
              (std::vector<int>{64, 57, 51, 44, 38, 32, 25, 19, 12, 6, 0}));
    EXPECT_EQ(channel().volumeEnvelope.slope, -419430);
    EXPECT_EQ(channel().volumeEnvelope.done, 1);
    EXPECT_EQ(voice().finalVolume, 0);
    tick();
    EXPECT_EQ(channel().volumeEnvelope.output, 0);
}

TEST_F(EnvelopeTest, SustainHoldsUntilKeyOff) {
    instrument().volumeEnvelope = {{0, 64}, {4, 32}, {8, 0}};
    instrument().volumeFlags = 1 | 2;
    instrument().volumeSustain = 1;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(2, 0) = {KEY_OFF_NOTE, 0, 0, 0, 0};
    ASSERT_TRUE(start());
    EXPECT_EQ(volumeEnvelopeOutputs(12),
              (std::vector<int>{64, 56, 48, 40, 32, 32, 32, 32, 32, 32, 32, 32}));
    EXPECT_EQ(voice().finalVolume, 32 * 255 / 128);
    EXPECT_EQ(volumeEnvelopeOutputs(5), (std::vector<int>{32, 24, 16, 8, 0}));
    EXPECT_EQ(channel().volumeEnvelope.done, 1);
    EXPECT_EQ(channel().fadeoutVolume, 65536);  // a fade-out of 0 never fades
}

TEST_F(EnvelopeTest, LoopJumpsBackAndNeverEnds) {
    instrument().volumeEnvelope = {{0, 64}, {2, 32}, {4, 0}};
    instrument().volumeFlags = 1 | 4;
    instrument().volumeLoopStart = 0;
    instrument().volumeLoopEnd = 2;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    EXPECT_EQ(volumeEnvelopeOutputs(10),
              (std::vector<int>{64, 48, 32, 16, 64, 48, 32, 16, 64, 48}));
    EXPECT_EQ(channel().volumeEnvelope.done, 0);
}

TEST_F(EnvelopeTest, SetEnvelopePositionMovesOnlyAVolumeEnvelopeThatIsOn) {
    instrument().volumeEnvelope = {{0, 64}, {20, 16}};
    instrument().volumeFlags = 1;
    xm.instruments.push_back(makeInstrument(loopedSample()));
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(0, 1) = {C4, 2, 0, 0, 0};
    cell(1, 0) = {0, 0, 0, 0x15, 5};
    cell(1, 1) = {0, 0, 0, 0x15, 5};
    cell(2, 0) = {0, 0, 0, 0x15, 21};
    ASSERT_TRUE(start());
    tick(7);
    // slope -48 x 65536 / 20 = -157286; 5 x slope + 64 x 65536 = 52.00003 in 16.16.
    EXPECT_EQ(channel().volumeEnvelope.tick, 5);
    EXPECT_EQ(channel().volumeEnvelope.output, 52);
    EXPECT_EQ(channel(1).volumeEnvelope.output, 64);
    tick();
    EXPECT_EQ(channel().volumeEnvelope.output, 49);
    tick(5);
    // Beyond the last point: done at its value.
    EXPECT_EQ(channel().volumeEnvelope.output, 16);
    EXPECT_EQ(channel().volumeEnvelope.done, 1);
}

TEST_F(EnvelopeTest, KeyOffFadesOutByTheInstrumentsFadeout) {
    instrument().volumeEnvelope = {{0, 64}, {100, 64}};
    instrument().volumeFlags = 1;
    instrument().fadeout = 1024;  // 2048 per tick once loaded
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(1, 0) = {KEY_OFF_NOTE, 0, 0, 0, 0};
    ASSERT_TRUE(start());
    tick(6);
    EXPECT_EQ(channel().fadeoutVolume, 65536);
    tick();
    EXPECT_EQ(channel().fadeoutVolume, 65536 - 2048);
    // 64 x 64 x 63488 x 64 x 255 / 2^35
    EXPECT_EQ(voice().finalVolume, 63488 * 255 / 131072);
    tick(31);
    EXPECT_EQ(channel().fadeoutVolume, 0);
    EXPECT_EQ(voice().finalVolume, 0);
    tick();
    EXPECT_EQ(channel().fadeoutVolume, 0);
}

TEST_F(EnvelopeTest, PanningEnvelopeSwingsLessNearTheEdges) {
    instrument().panningEnvelope = {{0, 0}, {4, 64}};
    instrument().panningFlags = 1;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(0, 1) = {C4, 1, 0, 0x08, 0xF0};
    ASSERT_TRUE(start());
    const int expected[] = {0, 64, 128, 192, 255};
    for (int finalPanning : expected) {
        tick();
        EXPECT_EQ(voice(0).finalPanning, finalPanning);
        EXPECT_EQ(voice(1).finalPanning, 240);  // (128 - 112) / 32 = 0: no swing
    }
    EXPECT_EQ(channel().panningEnvelope.done, 1);
}

TEST_F(EnvelopeTest, AutoVibratoSquare) {
    instrument().vibratoType = 1;
    instrument().vibratoDepth = 8;
    instrument().vibratoRate = 64;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    EXPECT_EQ(periodDeltas(6), (std::vector<int>{8, 8, -8, -8, 8, 8}));
    // Linear mode: a positive offset raises the pitch.
    EXPECT_GT(voice().frequency, 8363);
}

TEST_F(EnvelopeTest, AutoVibratoSweepGrowsTheDepth) {
    instrument().vibratoType = 1;
    instrument().vibratoDepth = 8;
    instrument().vibratoSweep = 4;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    EXPECT_EQ(periodDeltas(7), (std::vector<int>{0, 2, 4, 6, 8, 8, 8}));
}

TEST_F(EnvelopeTest, AutoVibratoSineTruncatesAndShiftsTowardMinusInfinity) {
    instrument().vibratoType = 0;
    instrument().vibratoDepth = 15;
    instrument().vibratoRate = 32;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    // trunc(sin(a x 2 x pi / 256) x 64) x 15 >> 6 for a = 0, 32, ... 224; at a = 64 the single-
    // precision pi leaves the sine just below 1, so 63.
    EXPECT_EQ(periodDeltas(8), (std::vector<int>{0, 45 * 15 >> 6, 63 * 15 >> 6, 45 * 15 >> 6, 0,
                                                 -45 * 15 >> 6, -63 * 15 >> 6, -45 * 15 >> 6}));
    EXPECT_EQ(channel().autoVibratoPosition, 0);
}

}  // namespace
