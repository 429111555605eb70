// S3M songs played where Scream Tracker 3 differs from the XM and MOD rules. Most checks put the
// command on channel 0 and what it should come to, written plainly, on channel 1, and compare the
// two channels tick by tick.
#include <gtest/gtest.h>

#include <memory>
#include <set>

#include "player/channel.h"
#include "player/sequencer.h"
#include "player/voice.h"
#include "tests/support/load_bytes.h"
#include "tests/support/s3m_writer.h"

namespace {

constexpr uint8_t NONE = 255;

struct StateDeleter {
    void operator()(PlayState* state) const { destroyPlayState(state); }
};

class S3mPlaybackTest : public ::testing::Test {
  protected:
    S3mSong s3m = makeS3mSong(2, 1);
    SongPtr song;
    std::unique_ptr<PlayState, StateDeleter> state;
    Voice voices[VOICE_COUNT];

    S3mPlaybackTest() {
        s3m.samples.push_back(makeS3mSample(s3mSquare(2000, 40, 100), 0, 2000));
        s3m.samples.push_back(makeS3mSample(s3mSquare(2000, 40, 100), 0, 2000));
    }
    S3mCell& cell(int row, int channel) { return s3mCellAt(s3m, 0, row, channel); }
    // Both channels start C-4 of sample 1 on row 0 with the given volume and effects.
    void both(uint8_t volume, uint8_t command0, uint8_t param0, uint8_t command1, uint8_t param1) {
        cell(0, 0) = {s3mNote(4, 0), 1, volume, command0, param0};
        cell(0, 1) = {s3mNote(4, 0), 1, volume, command1, param1};
    }
    bool start() {
        song = loadOwnedSong(writeS3m(s3m));
        if (!song) return false;
        state.reset(createPlayState(song.get()));
        if (!state) return false;
        resetVoices(voices);
        startSongPosition(state.get(), voices, 44100);
        return true;
    }
    void tick(int count = 1) {
        for (int k = 0; k < count; ++k) playerTick(state.get());
    }
    const ChannelState& channel(int c) const { return state->channels[c]; }
    // Plays `ticks` ticks, expecting both channels at the same volume and pitch after each.
    void expectChannelsAlike(int ticks) {
        for (int k = 0; k < ticks; ++k) {
            tick();
            ASSERT_EQ(channel(0).volume + channel(0).volumeDelta,
                      channel(1).volume + channel(1).volumeDelta)
                << "tick " << k;
            ASSERT_EQ(channel(0).period + channel(0).periodDelta,
                      channel(1).period + channel(1).periodDelta)
                << "tick " << k;
        }
    }
};

}  // namespace

TEST_F(S3mPlaybackTest, PeriodsComeFromTheMiddleCRate) {
    // C-5 at 8363 Hz and C-4 at 16726 Hz are the same pitch, the middle C's rate doubled.
    s3m.samples[1].middleC = 16726;
    cell(0, 0) = {s3mNote(5, 0), 1, 64, 0, 0};
    cell(0, 1) = {s3mNote(4, 0), 2, 64, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel(0).period, 856);
    EXPECT_EQ(channel(1).period, 856);
    EXPECT_NEAR(channel(0).voice->frequency, 16726, 1);
    EXPECT_EQ(ratePeriod(48, 8363), 1712);
    EXPECT_EQ(ratePeriod(48 + 11, 8363), 907);  // B-4
    EXPECT_EQ(ratePeriod(48 + 12 + 9, 8363), 1016 / 2);
    EXPECT_EQ(ratePeriod(48 - 12 + 1, 8363), 1616 * 2);  // C#3
}

TEST_F(S3mPlaybackTest, OneMemoryServesTheSlidesPortamentosAndArpeggio) {
    // F08 leaves 08 in the memory; D00 then slides the volume down by 8, as D08 does.
    both(64, s3mCommand('F'), 0x08, s3mCommand('F'), 0x08);
    cell(1, 0) = {NONE, 0, NONE, s3mCommand('D'), 0x00};
    cell(1, 1) = {NONE, 0, NONE, s3mCommand('D'), 0x08};
    // J00 repeats the last parameter too: J37, then D00 is D37 (down wins: by 7).
    cell(2, 0) = {NONE, 0, NONE, s3mCommand('J'), 0x37};
    cell(2, 1) = {NONE, 0, NONE, s3mCommand('J'), 0x37};
    cell(3, 0) = {NONE, 0, NONE, s3mCommand('J'), 0x00};
    cell(3, 1) = {NONE, 0, NONE, s3mCommand('J'), 0x37};
    cell(4, 0) = {NONE, 0, NONE, s3mCommand('D'), 0x00};
    cell(4, 1) = {NONE, 0, NONE, s3mCommand('D'), 0x37};
    ASSERT_TRUE(start());
    expectChannelsAlike(5 * 6);
    EXPECT_EQ(channel(0).volume, 64 - 5 * 8 - 5 * 7 < 0 ? 0 : 64 - 5 * 8 - 5 * 7);
}

TEST_F(S3mPlaybackTest, EveryLetterFromDToSAndUWritesTheMemoryAndS00RepeatsTheLast) {
    // G24 and U24 leave 24 for D00 (down wins: by 4 a tick), T and V leave nothing.
    for (char writer : {'G', 'U', 'O', 'T', 'V'}) {
        const bool writes = writer != 'T' && writer != 'V';
        both(64, s3mCommand(writer), 0x34, s3mCommand(writer), 0x34);
        cell(1, 0) = {NONE, 0, NONE, s3mCommand('D'), 0x00};
        cell(1, 1) = {NONE, 0, NONE, s3mCommand('D'), uint8_t(writes ? 0x34 : 0x00)};
        ASSERT_TRUE(start());
        expectChannelsAlike(2 * 6);
        EXPECT_EQ(channel(0).volume, writes ? 64 - 5 * 4 : 64) << writer;
    }
    // S00 after SC2 cuts on tick 2 again.
    both(64, s3mCommand('S'), 0xC2, s3mCommand('S'), 0xC2);
    cell(1, 0) = {s3mNote(4, 0), 1, 64, s3mCommand('S'), 0x00};
    cell(1, 1) = {s3mNote(4, 0), 1, 64, s3mCommand('S'), 0xC2};
    ASSERT_TRUE(start());
    expectChannelsAlike(2 * 6);
    EXPECT_EQ(channel(0).volume, 0);
}

TEST_F(S3mPlaybackTest, AnOffsetBeyondALoopingSampleLandsInTheLoop) {
    s3m.samples[0].loopStart = 1000;  // loops over frames 1000..2000
    both(64, s3mCommand('O'), 0x20, 0, 0);  // 8192 frames: 7192 past the loop's start
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel(0).voice->position, 1000u + 7192u % 1000u);
}

TEST_F(S3mPlaybackTest, TheMasterVolumeScalesTheOutput) {
    both(64, 0, 0, 0, 0);
    ASSERT_TRUE(start());
    tick();
    const int32_t usual = channel(0).voice->mixVolume;
    s3m.masterVolume = 0x80 | 96;
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel(0).voice->mixVolume, 2 * usual);
    EXPECT_GT(usual, 0);
    // Mono files play at 8/11 of a stereo one's level.
    s3m.masterVolume = 48;
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel(0).voice->mixVolume, usual * 8 / 11);
}

TEST_F(S3mPlaybackTest, ANoteDelayWithoutANoteDoesNothing) {
    both(40, 0, 0, 0, 0);
    cell(1, 0) = {NONE, 0, NONE, s3mCommand('S'), 0xD2};
    cell(1, 1) = {NONE, 0, NONE, 0, 0};
    ASSERT_TRUE(start());
    tick(6);
    const Voice* playing = channel(0).voice;
    tick(2);
    EXPECT_EQ(channel(0).voice, playing);  // a new note would move to the channel's other voice
    EXPECT_EQ(channel(0).voice->position, channel(1).voice->position);
}

TEST_F(S3mPlaybackTest, AGlobalVolumeReachesEveryChannelOnTheNextTick) {
    both(64, 0, 0, 0, 0);
    cell(1, 1) = {NONE, 0, NONE, s3mCommand('V'), 0x10};
    ASSERT_TRUE(start());
    tick(6 + 2);
    EXPECT_EQ(channel(0).voice->mixVolume, channel(1).voice->mixVolume);
    EXPECT_LT(channel(0).voice->mixVolume, 64);
}

TEST_F(S3mPlaybackTest, GlissandoMakesTonePortamentosSoundInSemitones) {
    for (uint8_t glissando : {0, 1}) {
        cell(0, 0) = {s3mNote(4, 0), 1, 64, s3mCommand('S'), uint8_t(0x10 | glissando)};
        cell(1, 0) = {s3mNote(4, 1), 0, NONE, s3mCommand('G'), 0x02};
        for (int row = 2; row < 4; ++row) cell(row, 0) = {NONE, 0, NONE, s3mCommand('G'), 0};
        ASSERT_TRUE(start());
        std::set<int32_t> heard;  // the pitches the voice plays
        for (int k = 0; k < 4 * 6; ++k) {
            tick();
            heard.insert(channel(0).voice->frequency);
        }
        EXPECT_EQ(channel(0).period, ratePeriod(49, 8363));
        if (glissando) {
            EXPECT_EQ(heard.size(), 2u);  // C-4 and C#4
        } else {
            EXPECT_GT(heard.size(), 5u);
        }
    }
}

TEST_F(S3mPlaybackTest, TremoloSoundsOnTheFirstTickAndTheVolumeReturnsAfterIt) {
    both(32, s3mCommand('R'), 0x48, 0, 0);
    cell(1, 0) = {NONE, 0, NONE, s3mCommand('R'), 0x00};
    ASSERT_TRUE(start());
    tick(6);
    const int32_t lastOfRow = channel(0).volumeDelta;
    tick();  // the next row's first tick: the phase the tick after it plays
    const int32_t firstOfRow = channel(0).volumeDelta;
    tick();
    EXPECT_NE(firstOfRow, 0);
    EXPECT_NE(firstOfRow, lastOfRow);
    EXPECT_EQ(channel(0).volumeDelta, firstOfRow);
    tick(5);  // row 2 has no tremolo: the volume is 32 again
    EXPECT_EQ(channel(0).volume + channel(0).volumeDelta, 32);
}

TEST_F(S3mPlaybackTest, FineFormsActOnceOnTheFirstTick) {
    // DF4 takes 4 off at once; EF2 lowers the pitch by 2 Amiga units at once, as EE8 does.
    both(64, s3mCommand('D'), 0xF4, 0, 0);
    cell(0, 1).volume = 60;
    cell(1, 0) = {NONE, 0, NONE, s3mCommand('E'), 0xF2};
    cell(1, 1) = {NONE, 0, NONE, s3mCommand('E'), 0xE8};
    cell(2, 0) = {NONE, 0, NONE, s3mCommand('D'), 0x2F};
    cell(2, 1) = {NONE, 0, 62, 0, 0};
    ASSERT_TRUE(start());
    expectChannelsAlike(3 * 6);
    EXPECT_EQ(channel(0).volume, 62);
    EXPECT_EQ(channel(0).period, 1712 + 8);
}

TEST_F(S3mPlaybackTest, FastVolumeSlidesActOnEveryTickForScreamTracker300) {
    const struct {
        uint16_t tracker;
        uint16_t flags;
        int volume;  // after one row of D04 at speed 6
    } cases[] = {{0x1320, 0, 64 - 5 * 4}, {0x1300, 0, 64 - 6 * 4}, {0x1320, 64, 64 - 6 * 4}};
    for (const auto& c : cases) {
        s3m.trackerVersion = c.tracker;
        s3m.flags = c.flags;
        both(64, s3mCommand('D'), 0x04, 0, 0);
        ASSERT_TRUE(start());
        tick(6);
        EXPECT_EQ(channel(0).volume, c.volume) << std::hex << c.tracker << " " << c.flags;
    }
}

TEST_F(S3mPlaybackTest, ASlideWithBothNibblesSlidesDown) {
    both(40, s3mCommand('D'), 0x23, 0, 0);
    cell(1, 1).volume = 40 - 5 * 3;
    ASSERT_TRUE(start());
    tick(7);
    EXPECT_EQ(channel(0).volume, channel(1).volume);
}

TEST_F(S3mPlaybackTest, TheAmigaLimitsFlagStopsPortamentosAtTheAmigasEnds) {
    for (uint16_t flags : {0, 16}) {
        s3m.flags = flags;
        cell(0, 0) = {s3mNote(5, 0), 1, 64, s3mCommand('F'), 0x40};
        for (int row = 1; row < 8; ++row) cell(row, 0) = {NONE, 0, NONE, s3mCommand('F'), 0x40};
        ASSERT_TRUE(start());
        tick(8 * 6);
        if (flags) {
            EXPECT_EQ(channel(0).period, 4 * 113);
        } else {
            EXPECT_LT(channel(0).period, 4 * 113);
        }
    }
}

TEST_F(S3mPlaybackTest, TheNoteCutNoteSilencesTheChannel) {
    both(50, 0, 0, 0, 0);
    cell(2, 0) = {254, 0, NONE, 0, 0};
    cell(2, 1) = {NONE, 0, 0, 0, 0};
    ASSERT_TRUE(start());
    expectChannelsAlike(3 * 6);
    EXPECT_EQ(channel(0).volume, 0);
}

TEST_F(S3mPlaybackTest, VibratoSwingsDownwardFirstAndFineVibratoAQuarterAsFar) {
    both(64, s3mCommand('H'), 0x4C, s3mCommand('U'), 0x4C);
    ASSERT_TRUE(start());
    int widest = 0;
    for (int k = 0; k < 12; ++k) {
        tick();
        EXPECT_EQ(channel(0).periodDelta / 4, channel(1).periodDelta) << k;
        widest = std::max(widest, std::abs(channel(0).periodDelta));
    }
    EXPECT_GT(widest, 60);
    // Downward in pitch first: the period grows on the first ticks.
    ASSERT_TRUE(start());
    tick(3);
    EXPECT_GT(channel(0).periodDelta, 0);
}

TEST_F(S3mPlaybackTest, FinetuneCommandPlaysTheNoteAtTheTablesRate) {
    s3m.samples[1].middleC = 8757;
    cell(0, 0) = {s3mNote(4, 0), 1, 64, s3mCommand('S'), 0x2F};
    cell(0, 1) = {s3mNote(4, 0), 2, 64, 0, 0};
    ASSERT_TRUE(start());
    expectChannelsAlike(6);
    EXPECT_EQ(channel(0).period, ratePeriod(48, 8757));
}

TEST_F(S3mPlaybackTest, TempoSlidesOnlyInLaterTrackersFiles) {
    for (uint16_t tracker : {0x1320, 0x3214}) {
        s3m.trackerVersion = tracker;
        both(64, s3mCommand('T'), 0x05, 0, 0);
        cell(1, 0) = {NONE, 0, NONE, s3mCommand('T'), 0x12};
        ASSERT_TRUE(start());
        tick(6);
        EXPECT_EQ(state->bpm, tracker == 0x1320 ? 125 : 125 - 5 * 5) << std::hex << tracker;
        tick(6);
        EXPECT_EQ(state->bpm, tracker == 0x1320 ? 125 : 100 + 5 * 2) << std::hex << tracker;
    }
}

TEST_F(S3mPlaybackTest, ChannelsSitWhereTheSettingsAndPanTableSayAndMonoCentresThem) {
    both(64, 0, 0, 0, 0);
    ASSERT_TRUE(start());
    tick();
    // Left channel 1 and right channel 1: 3 and C of sixteen steps.
    EXPECT_GT(channel(0).voice->volumeLeft, 3 * channel(0).voice->volumeRight);
    EXPECT_GT(channel(1).voice->volumeRight, 3 * channel(1).voice->volumeLeft);

    s3m.panTable = true;
    s3m.pans[0] = 0x20 | 0xF;
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(channel(0).voice->volumeLeft, 0);

    // A mono file: both sides alike (the centre of 0..255 lies between two steps), even after a
    // panning command.
    s3m.masterVolume = 48;
    cell(1, 0) = {NONE, 0, NONE, s3mCommand('S'), 0x80};
    ASSERT_TRUE(start());
    for (int k = 0; k < 12; ++k) {
        tick();
        for (int c = 0; c < 2; ++c)
            EXPECT_NEAR(channel(c).voice->volumeLeft, channel(c).voice->volumeRight, 1) << c << k;
    }
}
