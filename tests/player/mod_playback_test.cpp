// MOD songs played where ProTracker and the XM rules differ: fixed channel panning that samples
// leave alone, the PAL clock, the portamento limits, the vibrato's direction
// and first tick, the end of a tremolo, the signed E5x and a slide without memory.
#include <gtest/gtest.h>

#include "player/channel.h"
#include "player/sequencer.h"
#include "player/voice.h"
#include "tests/support/load_bytes.h"
#include "tests/support/mod_writer.h"

namespace {

constexpr int C3 = 37;  // the cell note of the file's C-1 (period 856)

class ModPlaybackTest : public ::testing::Test {
  protected:
    ModSong mod = makeModSong(4, 1);
    SongPtr song;
    PlayState* state = nullptr;
    Voice voices[VOICE_COUNT];

    ~ModPlaybackTest() override { destroyPlayState(state); }
    ModPlaybackTest() {
        mod.samples[0] = makeModSample(squareWave(200, 20, 100), 0, 100);
        mod.samples[0].volume = 40;
    }
    ModCell& cell(int row, int channel) { return modCellAt(mod, 0, row, channel); }
    bool start() {
        song = loadOwnedSong(writeMod(mod));
        if (!song) return false;
        resetVoices(voices);
        destroyPlayState(state);
        state = createPlayState(song.get());
        if (!state) return false;
        startSongPosition(state, voices, 44100);
        return true;
    }
    // Plays `rows` rows at speed 6.
    void playRows(int rows) {
        for (int k = 0; k < 6 * rows; ++k) playerTick(state);
    }
    ChannelState& channel(int c = 0) { return state->channels[c]; }
};

}  // namespace

TEST_F(ModPlaybackTest, ChannelsSitLeftRightRightLeftAndSamplesLeaveThem) {
    for (int c = 0; c < 4; ++c) cell(0, c) = {modPeriod(2, 0), 1, 0, 0};
    cell(1, 1) = {0, 0, 0x8, 0x80};  // the panning effect still pans
    ASSERT_TRUE(start());
    playRows(1);
    const int panning[4] = {0, 255, 255, 0};
    for (int c = 0; c < 4; ++c) {
        EXPECT_EQ(channel(c).panning, panning[c]) << c;
        const Voice& voice = *channel(c).voice;
        EXPECT_EQ(panning[c] == 0 ? voice.volumeRight : voice.volumeLeft, 0) << c;
        EXPECT_GT(panning[c] == 0 ? voice.volumeLeft : voice.volumeRight, 0) << c;
    }
    playRows(1);
    EXPECT_EQ(channel(1).panning, 0x80);
}

TEST_F(ModPlaybackTest, PeriodsCountThePalClock) {
    cell(0, 0) = {modPeriod(2, 0), 1, 0, 0};  // 428
    ASSERT_TRUE(start());
    playRows(1);
    EXPECT_EQ(channel().period, 4 * 428);
    EXPECT_EQ(channel().voice->frequency, 4 * 3546895 / (4 * 428));
}

TEST_F(ModPlaybackTest, PortamentosStopAtTheEndsOfTheThreeOctaves) {
    cell(0, 0) = {modPeriod(1, 2), 1, 0x2, 0x40};
    cell(0, 1) = {modPeriod(3, 9), 1, 0x1, 0x40};
    cell(1, 0) = {0, 0, 0xE, 0x2F};
    cell(1, 1) = {0, 0, 0xE, 0x1F};
    ASSERT_TRUE(start());
    playRows(1);
    EXPECT_EQ(channel(0).period, 4 * 856);
    EXPECT_EQ(channel(1).period, 4 * 113);
    playRows(1);
    EXPECT_EQ(channel(0).period, 4 * 856);
    EXPECT_EQ(channel(1).period, 4 * 113);
}

TEST_F(ModPlaybackTest, VibratoWaitsForTheSecondTickAndStartsDownward) {
    cell(0, 0) = {modPeriod(2, 0), 1, 0x4, 0x48};
    cell(1, 0) = {0, 0, 0x4, 0x00};
    ASSERT_TRUE(start());
    playRows(1);
    playerTick(state);  // the second row's first tick
    EXPECT_EQ(channel().periodDelta, 0);
    playerTick(state);
    EXPECT_GT(channel().periodDelta, 0);  // a longer period: a lower pitch
}

TEST_F(ModPlaybackTest, TheVolumeComesBackWhenATremoloEnds) {
    cell(0, 0) = {modPeriod(2, 0), 1, 0x7, 0x4F};
    cell(1, 0) = {0, 0, 0, 0};
    ASSERT_TRUE(start());
    playRows(1);
    EXPECT_NE(channel().volumeDelta, 0);
    playRows(1);
    EXPECT_EQ(channel().volume, 40);
}

TEST_F(ModPlaybackTest, FinetuneEffectIsSignedAndTunesTheNoteOnItsRow) {
    cell(0, 0) = {modPeriod(1, 0), 1, 0xE, 0x5F};  // -1/8 semitone
    cell(0, 1) = {modPeriod(1, 0), 1, 0, 0};
    ASSERT_TRUE(start());
    playRows(1);
    EXPECT_EQ(channel(0).period, 4 * 862);  // ProTracker's C-1 at finetune -1
    EXPECT_EQ(channel(1).period, 4 * 856);  // the sample keeps its finetune
}

TEST_F(ModPlaybackTest, AVolumeSlideWithoutParameterSlidesNothing) {
    cell(0, 0) = {modPeriod(2, 0), 1, 0xA, 0x04};
    cell(1, 0) = {0, 0, 0xA, 0x00};
    ASSERT_TRUE(start());
    playRows(1);
    EXPECT_EQ(channel().volume, 40 - 5 * 4);
    playRows(1);
    EXPECT_EQ(channel().volume, 40 - 5 * 4);
}
