// The volume column and the effects, on the row's first tick and on the later ones: slides and
// their memories, portamento, vibrato, tremolo, arpeggio, retrigger, cut, delay, tremor, sample
// offset, finetune, global volume and panning.
#include <functional>
#include <vector>

#include "player/effects.h"
#include "tests/player/player_fixture.h"

namespace {

class EffectsTest : public PlayerTest {
  protected:
    // A value read after each of the next `ticks` ticks.
    std::vector<int> track(int ticks, const std::function<int()>& read) {
        std::vector<int> values;
        for (int k = 0; k < ticks; ++k) {
            tick();
            values.push_back(read());
        }
        return values;
    }
    std::vector<int> volumes(int ticks, int c = 0) {
        return track(ticks, [this, c] { return channel(c).volume; });
    }
    std::vector<int> periods(int ticks) {
        return track(ticks, [this] { return channel(0).period; });
    }
    std::vector<int> periodDeltas(int ticks, int c = 0) {
        return track(ticks, [this, c] { return channel(c).periodDelta; });
    }
};

using Values = std::vector<int>;

TEST_F(EffectsTest, VolumeColumn) {
    cell(0, 0) = {C4, 1, 0x40, 0x0C, 0x20};  // the effect acts after the volume column
    cell(1, 0) = {0, 0, 0x38, 0, 0};
    cell(2, 0) = {0, 0, 0x65, 0, 0};  // slides on every tick of the row
    cell(3, 0) = {0, 0, 0x83, 0, 0};  // fine: once
    cell(4, 0) = {0, 0, 0x9F, 0, 0};
    cell(5, 0) = {0, 0, 0x7F, 0, 0};
    cell(6, 0) = {0, 0, 0x55, 0, 0};  // nothing
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel().volume, 0x20);
    tick(5);
    EXPECT_EQ(volumes(6), (Values{40, 40, 40, 40, 40, 40}));
    EXPECT_EQ(volumes(6), (Values{35, 30, 25, 20, 15, 10}));
    EXPECT_EQ(volumes(6), (Values{7, 7, 7, 7, 7, 7}));
    EXPECT_EQ(volumes(6), (Values{22, 22, 22, 22, 22, 22}));
    EXPECT_EQ(volumes(6), (Values{37, 52, 64, 64, 64, 64}));
    EXPECT_EQ(volumes(1), (Values{64}));
}

TEST_F(EffectsTest, VolumeColumnPanningSlidesHaveNoLimitButTheFinalPanningHas) {
    cell(0, 0) = {C4, 1, 0xC0, 0, 0};
    cell(1, 0) = {0, 0, 0xD5, 0, 0};
    cell(2, 0) = {0, 0, 0, 0x19, 0x01};  // P: back into range
    cell(0, 1) = {C4, 1, 0xCF, 0, 0};
    cell(1, 1) = {0, 0, 0xEF, 0, 0};
    cell(2, 1) = {0, 0, 0, 0x19, 0x30};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel(0).panning, 0);
    EXPECT_EQ(channel(1).panning, 240);
    tick(5);
    EXPECT_EQ(track(6, [this] { return channel(0).panning; }),
              (Values{-5, -10, -15, -20, -25, -30}));
    EXPECT_EQ(voice(0).finalPanning, 0);
    EXPECT_EQ(voice(0).volumeLeft, 127);
    EXPECT_EQ(channel(1).panning, 330);
    EXPECT_EQ(voice(1).finalPanning, 255);
    EXPECT_EQ(voice(1).volumeRight, 127);
    tick(2);
    EXPECT_EQ(channel(0).panning, 0);
    EXPECT_EQ(channel(1).panning, 255);
}

TEST_F(EffectsTest, VolumeColumnTonePortamento) {
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(1, 0) = {C4 + 12, 0, 0xF2, 0, 0};  // with a note: the pitch jumps, no restart
    cell(2, 0) = {0, 0, 0, 0x0E, 0x2F};  // 60 lower
    cell(3, 0) = {0, 0, 0xF0, 0, 0};  // slides back toward the last note, at speed 32
    ASSERT_TRUE(start());
    tick(6);
    EXPECT_EQ(periods(6), (Values{3840, 3840, 3840, 3840, 3840, 3840}));
    EXPECT_EQ(voice().index, 0);
    EXPECT_EQ(channel().portaSpeed, 32);
    tick(6);
    EXPECT_EQ(periods(2), (Values{3900, 3840}));
}

TEST_F(EffectsTest, VolumeSlidesShareTheirMemory) {
    cell(0, 0) = {C4, 1, 0, 0x0A, 0x05};
    cell(1, 0) = {0, 0, 0, 0x0A, 0x00};
    cell(2, 0) = {0, 0, 0, 0x06, 0x20};
    cell(3, 0) = {0, 0, 0, 0x0A, 0x00};
    cell(4, 0) = {0, 0, 0, 0x0A, 0x21};  // up wins
    cell(5, 0) = {0, 0, 0, 0x0E, 0xB4};  // fine slides share their own memory
    cell(6, 0) = {0, 0, 0, 0x0E, 0xA0};
    ASSERT_TRUE(start());
    EXPECT_EQ(volumes(6), (Values{64, 59, 54, 49, 44, 39}));
    tick(6);
    EXPECT_EQ(channel().volume, 14);
    tick(12);
    EXPECT_EQ(channel().volume, 34);
    tick(6);
    EXPECT_EQ(channel().volume, 44);
    EXPECT_EQ(volumes(6), (Values{40, 40, 40, 40, 40, 40}));
    EXPECT_EQ(volumes(1), (Values{44}));
}

TEST_F(EffectsTest, PortamentoUpStopsAt56AndDownHasNoLimit) {
    cell(0, 0) = {C4, 1, 0, 0x01, 20};
    cell(1, 0) = {0, 0, 0, 0x02, 5};
    cell(2, 0) = {0, 0, 0, 0x02, 0};
    ASSERT_TRUE(start());
    tick();
    channel().period = 200;
    EXPECT_EQ(periods(5), (Values{120, 56, 56, 56, 56}));
    EXPECT_EQ(periods(6), (Values{56, 76, 96, 116, 136, 156}));
    tick(6);
    EXPECT_EQ(channel().period, 256);
    EXPECT_EQ(channel().portaUpMemory, 20);
}

TEST_F(EffectsTest, FineAndExtraFinePortamentoActOnceWithTheirMemories) {
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(1, 0) = {0, 0, 0, 0x0E, 0x12};
    cell(2, 0) = {0, 0, 0, 0x0E, 0x10};
    cell(3, 0) = {0, 0, 0, 0x0E, 0x21};
    cell(4, 0) = {0, 0, 0, 0x21, 0x12};
    cell(5, 0) = {0, 0, 0, 0x21, 0x10};
    cell(6, 0) = {0, 0, 0, 0x21, 0x25};
    ASSERT_TRUE(start());
    tick(6);
    const int expected[] = {4600, 4592, 4596, 4594, 4592, 4597};
    for (int period : expected) {
        EXPECT_EQ(periods(6), Values(6, period));
    }
}

TEST_F(EffectsTest, TonePortamentoSlidesToTheNoteWithoutRestartingIt) {
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(1, 0) = {C4 + 1, 1, 0, 0x03, 0x05};
    cell(2, 0) = {C4, 0, 0, 0x03, 0x00};  // speed kept; the new note is the new target
    cell(3, 0) = {C4 + 2, 0, 0, 0x05, 0x01};  // with volume slide; speed still 5
    ASSERT_TRUE(start());
    tick(6);
    voices[0].position = 300;
    EXPECT_EQ(periods(6), (Values{4608, 4588, 4568, 4548, 4544, 4544}));
    EXPECT_EQ(channel().portaTarget, 4544);
    EXPECT_EQ(voice().index, 0);
    EXPECT_EQ(voice().position, 300u);
    EXPECT_EQ(periods(6), (Values{4544, 4564, 4584, 4604, 4608, 4608}));
    EXPECT_EQ(periods(6), (Values{4608, 4588, 4568, 4548, 4528, 4508}));
    EXPECT_EQ(channel().volume, 64 - 5);
    EXPECT_EQ(voice().index, 0);
}

TEST_F(EffectsTest, VibratoSineStartsOnTheSecondLaterTick) {
    cell(0, 0) = {C4, 1, 0, 0x04, 0x48};
    ASSERT_TRUE(start());
    // Phase 4 after one step: -(trunc(sin(pi / 8) x 256) x 8 >> 7) x 4 = -(97 x 8 >> 7) x 4.
    EXPECT_EQ(periodDeltas(3), (Values{0, 0, -24}));
    EXPECT_EQ(voice().frequency, 8183);  // 8363 x 2^(-24 / 768)
    EXPECT_EQ(channel().vibratoPosition, 8);
}

TEST_F(EffectsTest, VibratoRampAndSquareWaveforms) {
    cell(0, 0) = {C4, 1, 0, 0x0E, 0x41};
    cell(0, 1) = {C4, 1, 0, 0x0E, 0x42};
    cell(1, 0) = {0, 0, 0, 0x04, 0xF8};
    cell(1, 1) = {0, 0, 0, 0x04, 0xF8};
    ASSERT_TRUE(start());
    tick(6);
    // Phases 0, 0, 15, 30, -19: ramp (p & 31) x 8, for negative p 255 minus that.
    EXPECT_EQ(periodDeltas(5),
              (Values{0, 0, -(120 * 8 >> 7) * 4, -(240 * 8 >> 7) * 4, (151 * 8 >> 7) * 4}));
    EXPECT_EQ(channel(1).periodDelta, (255 * 8 >> 7) * 4);
}

TEST_F(EffectsTest, WaveformControlFourAndAboveKeepsThePhaseAcrossNotes) {
    cell(0, 0) = {C4, 1, 0, 0x0E, 0x44};
    cell(0, 1) = {C4, 1, 0, 0x0E, 0x40};
    for (int c = 0; c < 2; ++c) {
        cell(1, c) = {0, 0, 0, 0x04, 0x48};
        cell(2, c) = {C4, 1, 0, 0, 0};
    }
    ASSERT_TRUE(start());
    tick(12);
    EXPECT_EQ(channel(0).vibratoPosition, 20);
    tick();
    EXPECT_EQ(channel(0).vibratoPosition, 20);
    EXPECT_EQ(channel(1).vibratoPosition, 0);
}

TEST_F(EffectsTest, VolumeColumnVibratoAddsToTheEffectsVibrato) {
    cell(0, 0) = {C4, 1, 0xB4, 0x04, 0x40};
    ASSERT_TRUE(start());
    tick(2);
    EXPECT_EQ(channel().vibratoPosition, 8);
    tick();
    EXPECT_EQ(channel().vibratoPosition, 16);
    // The column's vibrato at phase 8, then the effect's at phase 12, which replaces it.
    EXPECT_EQ(channel().periodDelta, -(236 * 4 >> 7) * 4);
}

TEST_F(EffectsTest, PortamentoCancelsTheVolumeColumnVibrato) {
    cell(0, 0) = {C4, 1, 0, 0x04, 0x41};
    cell(1, 0) = {0, 0, 0xB4, 0x01, 0x01};
    ASSERT_TRUE(start());
    tick(6);
    EXPECT_EQ(channel().vibratoPosition, 20);
    EXPECT_EQ(periodDeltas(3), (Values{0, 0, 0}));
    EXPECT_EQ(channel().vibratoPosition, 28);
}

TEST_F(EffectsTest, TremoloStaysWithin0To64AndLeavesItsLastOffsetInTheVolume) {
    cell(0, 0) = {C4, 1, 0x4C, 0, 0};  // volume 60
    cell(0, 1) = {C4, 1, 0x1A, 0, 0};  // volume 10
    cell(1, 0) = {0, 0, 0, 0x07, 0x4F};
    cell(1, 1) = {0, 0, 0, 0x07, 0x8F};
    cell(2, 1) = {0, 0, 0, 0x07, 0x00};
    ASSERT_TRUE(start());
    tick(6);
    EXPECT_EQ(track(6, [this] { return channel(0).volumeDelta; }), (Values{0, 0, 4, 4, 4, 4}));
    // Phases 0, 8, 16, 24, -32, then -24 on the next row: limited at 64 and at 0.
    EXPECT_EQ(channel(1).volumeDelta, 0);
    EXPECT_EQ(voice(1).finalVolume, 10 * 255 / 128);
    tick(2);
    EXPECT_EQ(channel(1).volumeDelta, -10);
    EXPECT_EQ(voice(1).finalVolume, 0);
    EXPECT_EQ(channel(0).volume, 64);
}

TEST_F(EffectsTest, TremoloPositiveHalf) {
    cell(0, 1) = {C4, 1, 0x1A, 0x07, 0x8F};
    ASSERT_TRUE(start());
    EXPECT_EQ(track(6, [this] { return channel(1).volumeDelta; }), (Values{0, 0, 42, 54, 42, 0}));
}

TEST_F(EffectsTest, ArpeggioCyclesThroughTheRowAndItsPatternDelay) {
    cell(0, 0) = {C4, 1, 0, 0x00, 0x37};
    cell(0, 1) = {0, 0, 0, 0x0E, 0xE1};
    cell(1, 0) = {0, 0, 0, 0x00, 0xC0};
    ASSERT_TRUE(start());
    EXPECT_EQ(periodDeltas(12), (Values{0, 192, 448, 0, 192, 448, 0, 192, 448, 0, 192, 448}));
    EXPECT_EQ(periodDeltas(2), (Values{0, 768}));
}

TEST_F(EffectsTest, AmigaArpeggioUsesPeriodDifferences) {
    xm.flags = 0;
    cell(0, 0) = {C4, 1, 0, 0x00, 0x37};
    ASSERT_TRUE(start());
    EXPECT_EQ(periodDeltas(3), (Values{0, 1439 - 1712, 1142 - 1712}));
}

TEST_F(EffectsTest, RetriggerRestartsTheSampleButNotTheEnvelopes) {
    xm.instruments[0].volumeEnvelope = {{0, 64}, {100, 0}};
    xm.instruments[0].volumeFlags = 1;
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(1, 0) = {0, 0, 0, 0x0E, 0x93};
    ASSERT_TRUE(start());
    tick(9);
    EXPECT_EQ(voice().index, 0);
    voices[0].position = 300;
    tick();
    EXPECT_EQ(voice().index, 32);
    EXPECT_EQ(voice().position, 0u);
    EXPECT_EQ(channel().volumeEnvelope.tick, 10);
    tick(3);
    EXPECT_EQ(voice().index, 32);
}

TEST_F(EffectsTest, MultiRetriggerChangesTheVolumeByItsTable) {
    cell(0, 0) = {C4, 1, 0, 0x1B, 0x61};
    cell(1, 0) = {0, 0, 0, 0x1B, 0x03};
    ASSERT_TRUE(start());
    EXPECT_EQ(volumes(6), (Values{64, 42, 28, 18, 12, 8}));
    EXPECT_EQ(voice().index, 32);  // five restarts
    tick(6);
    EXPECT_EQ(channel().volume, 8);
    EXPECT_EQ(voice().index, 0);  // the one restart, on tick 3 of the next row

    const int expected[] = {19, 18, 16, 12, 4, 13, 10, 20, 21, 22, 24, 28, 36, 30, 40};
    for (int change = 1; change <= 15; ++change) {
        ChannelState retriggered{};
        retriggered.volume = 20;
        retriggered.retrigVolumeChange = static_cast<uint8_t>(change);
        retriggered.retrigInterval = 2;
        state->tick = 4;
        retrigStep(state, &retriggered);
        EXPECT_EQ(retriggered.volume, expected[change - 1]) << "change " << change;
        EXPECT_EQ(retriggered.updateFlags, UPDATE_VOLUME | UPDATE_TRIGGER);
    }
}

TEST_F(EffectsTest, NoteCut) {
    cell(0, 0) = {C4, 1, 0, 0x0E, 0xC3};
    cell(0, 1) = {C4, 1, 0, 0x0E, 0xC0};
    ASSERT_TRUE(start());
    EXPECT_EQ(volumes(6), (Values{64, 64, 64, 0, 0, 0}));
    EXPECT_EQ(voice(0).finalVolume, 0);
    EXPECT_EQ(channel(1).volume, 64);
}

TEST_F(EffectsTest, NoteDelayStartsTheNoteOnItsTick) {
    xm.instruments[0].samples[0].volume = 48;
    xm.instruments[0].samples[0].panning = 200;
    cell(0, 0) = {C4, 1, 0x20, 0x08, 0x40};
    cell(1, 0) = {C4 + 12, 0, 0, 0x0E, 0xD2};
    cell(1, 1) = {C4, 1, 0x30, 0x0E, 0xD2};
    cell(2, 0) = {C4, 1, 0, 0x0E, 0xD0};
    ASSERT_TRUE(start());
    tick(6);
    for (int k = 0; k < 2; ++k) {
        tick();
        EXPECT_EQ(channel(0).volume, 16);
        EXPECT_EQ(channel(0).panning, 64);
        EXPECT_EQ(channel(0).period, 4608);
        EXPECT_EQ(voice(0).index, 0);
        EXPECT_EQ(channel(1).volume, 0);
        EXPECT_EQ(voice(1).sample, nullptr);
    }
    tick();
    EXPECT_EQ(channel(0).volume, 48);  // the sample's, without an instrument in the cell
    EXPECT_EQ(channel(0).panning, 200);
    EXPECT_EQ(channel(0).period, 3840);
    EXPECT_EQ(voice(0).index, 32);
    EXPECT_EQ(channel(1).volume, 32);  // the cell's volume column after the reset
    EXPECT_NE(voice(1).sample, nullptr);
    tick(9);
    EXPECT_EQ(voice(0).index, 32);  // ED0 never starts its note
    EXPECT_EQ(channel(0).volume, 48);
}

TEST_F(EffectsTest, TremorCountsAcrossRows) {
    cell(0, 0) = {C4, 1, 0, 0x1D, 0x21};
    cell(1, 0) = {0, 0, 0, 0x1D, 0x00};
    ASSERT_TRUE(start());
    EXPECT_EQ(track(10, [this] { return channel(0).volumeDelta; }),
              (Values{0, 0, 0, -64, -64, 0, 0, 0, -64, -64}));
    EXPECT_EQ(voice().finalVolume, 0);
}

TEST_F(EffectsTest, GlobalVolumeReachesEachChannelAtItsNextVolumeUpdate) {
    XmInstrument withEnvelope = makeInstrument(loopedSample());
    withEnvelope.volumeEnvelope = {{0, 64}, {200, 64}};
    withEnvelope.volumeFlags = 1;
    xm.instruments.push_back(withEnvelope);
    cell(0, 0) = {C4, 1, 0, 0, 0};
    cell(0, 1) = {C4, 2, 0, 0, 0};  // its running envelope updates the volume every tick
    cell(1, 0) = {0, 0, 0, 0x10, 0x20};
    cell(2, 0) = {0, 0, 0, 0x11, 0x0F};
    cell(3, 1) = {0, 0, 0, 0x11, 0x30};
    cell(4, 0) = {0, 0, 0, 0x11, 0x00};  // the memory is the song's
    cell(5, 0) = {0, 0, 0, 0x10, 0x50};
    ASSERT_TRUE(start());
    tick(7);
    EXPECT_EQ(state->globalVolume, 32);
    EXPECT_EQ(voice(0).finalVolume, 63);
    EXPECT_EQ(voice(1).finalVolume, 63);
    tick(6);
    EXPECT_EQ(track(5, [this] { return state->globalVolume; }), (Values{17, 2, 0, 0, 0}));
    EXPECT_EQ(voice(0).finalVolume, 63);
    EXPECT_EQ(voice(1).finalVolume, 0);
    tick();
    EXPECT_EQ(track(5, [this] { return state->globalVolume; }), (Values{3, 6, 9, 12, 15}));
    EXPECT_EQ(voice(1).finalVolume, 15 * 255 / 128);
    tick();
    EXPECT_EQ(track(5, [this] { return state->globalVolume; }), (Values{18, 21, 24, 27, 30}));
    tick();
    EXPECT_EQ(state->globalVolume, 64);
}

TEST_F(EffectsTest, SetPanningEffects) {
    cell(0, 0) = {C4, 1, 0, 0x0E, 0x8F};
    cell(0, 1) = {C4, 1, 0, 0x08, 0x30};
    cell(1, 1) = {0, 0, 0, 0x19, 0x00};  // no memory yet: nothing moves
    cell(2, 1) = {0, 0, 0, 0x19, 0x05};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel(0).panning, 240);
    EXPECT_EQ(channel(1).panning, 0x30);
    tick(11);
    EXPECT_EQ(channel(1).panning, 0x30);
    tick(6);
    EXPECT_EQ(channel(1).panning, 0x30 - 25);
}

TEST_F(EffectsTest, SampleOffset) {
    cell(0, 0) = {C4, 1, 0, 0x09, 0x02};
    cell(1, 0) = {0, 0, 0, 0x09, 0x03};  // no note: stored for the next one
    cell(2, 0) = {C4, 0, 0, 0, 0};
    cell(3, 0) = {C4 + 12, 0, 0, 0x09, 0x10};  // beyond the sample: rewind, no new note
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(voice().position, 512u);
    tick(6);
    EXPECT_EQ(voice().startOffset, 768u);
    tick(6);
    EXPECT_EQ(voice().index, 32);
    EXPECT_EQ(voice().position, 768u);
    voices[32].position = 900;
    tick(6);
    EXPECT_EQ(voice().index, 32);
    EXPECT_EQ(voice().position, 0u);
    EXPECT_EQ(voice().frequency, 16726);
}

TEST_F(EffectsTest, SetFinetuneChangesTheSampleForEveryLaterNote) {
    cell(0, 0) = {C4, 1, 0, 0x0E, 0x58};
    cell(1, 1) = {C4, 1, 0, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel(0).period, 4608);
    tick(6);
    EXPECT_EQ(channel(1).period, 4608 - 4);  // finetune 8 stored as it is: trunc(8 / 2)
    // The song itself is untouched: a new start plays the file's finetune again.
    EXPECT_EQ(song->samples[0].finetune, 0);
    restart();
    tick();
    EXPECT_EQ(channel(0).period, 4608);
}

}  // namespace
