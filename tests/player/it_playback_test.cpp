// What Impulse Tracker modules do that the other formats do not: each new-note action and the
// duplicate checks with the notes they leave in the background, the past-note and NNA commands,
// envelope carry, the sample's middle-C rate and the layered volumes, sustain loops, surround and
// pan separation, and the resonant filter (the player's settings and the mixer's sound). Each
// check sets one thing against its opposite.
#include <cmath>

#include "audio/mixer.h"
#include "player/voice_pool.h"
#include "tests/player/player_fixture.h"
#include "tests/support/it_writer.h"

namespace {

constexpr int16_t C5 = 60;

class ItPlayerTest : public ::testing::Test {
  protected:
    ItSong it = makeItSong(2, 1);
    SongPtr song;
    PlayState* state = nullptr;
    Voice voices[VOICE_COUNT];

    ItPlayerTest() {
        it.speed = 4;
        it.samples.push_back(makeItSample(sineFrames(1000, 50, 100), true));
        it.instruments.push_back(makeItInstrument(1));
    }
    ~ItPlayerTest() override { destroyPlayState(state); }

    ItInstrument& instrument() { return it.instruments[0]; }
    ItCell& cell(int row, int channel) { return itCellAt(it, 0, row, channel); }
    bool start() {
        song = loadOwnedSong(writeIt(it));
        if (!song) return false;
        state = createPlayState(song.get());
        if (!state) return false;
        resetVoices(voices);
        startSongPosition(state, voices, 44100);
        return true;
    }
    void tick(int count = 1) {
        for (int k = 0; k < count; ++k) playerTick(state);
    }
    ChannelState& channel(int c = 0) { return state->channels[c]; }
    Voice& voice(int c = 0) { return *channel(c).voice; }
    // The background channel holding a note of channel 0, or null.
    ChannelState* pastNote() {
        for (ChannelState& slot : state->background) {
            if (slot.active && slot.owner == 0) return &slot;
        }
        return nullptr;
    }
};

class NewNoteAction : public ItPlayerTest, public testing::WithParamInterface<uint8_t> {};

// C-5 then E-5 on one channel: the first note is cut, goes on, is released or fades.
TEST_P(NewNoteAction, DecidesWhatBecomesOfTheNotePlaying) {
    const uint8_t action = GetParam();
    instrument().newNoteAction = action;
    instrument().fadeout = 128;
    cell(0, 0) = {C5, 1, -1, 0, 0};
    cell(1, 0) = {C5 + 4, 1, -1, 0, 0};
    ASSERT_TRUE(start());
    tick(4);
    EXPECT_EQ(backgroundNotesOf(state, 0), 0);
    tick();  // row 1
    ChannelState* past = pastNote();
    if (action == NNA_CUT) {
        EXPECT_EQ(past, nullptr);
        return;
    }
    ASSERT_NE(past, nullptr);
    EXPECT_EQ(past->noteIndex, C5);
    EXPECT_EQ(past->keyOff, action == NNA_NOTE_OFF ? 1 : 0);
    EXPECT_GT(past->voice->volumeLeft, 0);
    EXPECT_NE(past->voice->frequency, voice().frequency);
    const int32_t fadeBefore = past->fadeoutVolume;
    tick(2);
    // Off without a volume envelope fades too; continue never does.
    if (action == NNA_CONTINUE) {
        EXPECT_EQ(past->fadeoutVolume, fadeBefore);
    } else {
        EXPECT_LT(past->fadeoutVolume, fadeBefore);
    }
    tick(40);  // 128 x 64 of 65536 a tick: faded out within 8 ticks
    EXPECT_EQ(backgroundNotesOf(state, 0), action == NNA_CONTINUE ? 1 : 0);
}

INSTANTIATE_TEST_SUITE_P(EveryAction, NewNoteAction,
                         testing::Values(NNA_CUT, NNA_CONTINUE, NNA_NOTE_OFF, NNA_NOTE_FADE));

// With a note duplicate check cutting, the same note again cuts the note sent to the
// background; another note leaves it sounding.
TEST_F(ItPlayerTest, DuplicateCheckActsOnMatchingPastNotesOnly) {
    for (int16_t second : {C5, int16_t(C5 + 2)}) {
        instrument().newNoteAction = NNA_CONTINUE;
        instrument().duplicateCheck = DUPLICATE_NOTE;
        instrument().duplicateAction = DUPLICATE_ACTION_CUT;
        cell(0, 0) = {C5, 1, -1, 0, 0};
        cell(1, 0) = {second, 1, -1, 0, 0};
        ASSERT_TRUE(start());
        tick(5);
        EXPECT_EQ(backgroundNotesOf(state, 0), second == C5 ? 0 : 1) << "second note " << second;
        destroyPlayState(state);
        state = nullptr;
    }
}

// S70, S71, S72 cut, release and fade the channel's past notes; S73..S76 set the NNA of the note
// playing, over its instrument's.
TEST_F(ItPlayerTest, PastNoteCommandsAndNnaOverrides) {
    instrument().newNoteAction = NNA_CONTINUE;
    instrument().fadeout = 64;
    cell(0, 0) = {C5, 1, -1, 0, 0};
    cell(1, 0) = {C5 + 4, 1, -1, 0, 0};
    cell(2, 0) = {-1, 0, -1, 19, 0x71};  // past notes off
    cell(3, 0) = {-1, 0, -1, 19, 0x70};  // past notes cut
    cell(4, 0) = {C5 + 7, 1, -1, 19, 0x73};  // this note's NNA: cut
    cell(5, 0) = {C5, 1, -1, 0, 0};
    ASSERT_TRUE(start());
    tick(5);
    ASSERT_NE(pastNote(), nullptr);
    EXPECT_EQ(pastNote()->keyOff, 0);
    tick(4);
    ASSERT_NE(pastNote(), nullptr);
    EXPECT_EQ(pastNote()->keyOff, 1);
    EXPECT_EQ(pastNote()->fading, 1);
    tick(4);
    EXPECT_EQ(backgroundNotesOf(state, 0), 0) << "cut";
    tick(8);  // row 5: E-5 went on; G-5, set to be cut, did not
    EXPECT_EQ(backgroundNotesOf(state, 0), 1);
    ASSERT_NE(pastNote(), nullptr);
    EXPECT_EQ(pastNote()->noteIndex, C5 + 4);
}

// A carried envelope goes on from where the last note of the instrument left it; one that is
// not carried starts again.
TEST_F(ItPlayerTest, EnvelopeCarry) {
    for (bool carry : {false, true}) {
        instrument().volumeEnvelope.flags = static_cast<uint8_t>(1 | (carry ? 8 : 0));
        instrument().volumeEnvelope.points = {{64, 0}, {0, 100}};
        cell(0, 0) = {C5, 1, -1, 0, 0};
        cell(2, 0) = {C5, 1, -1, 0, 0};
        ASSERT_TRUE(start());
        tick(9);  // the second note's first tick
        if (carry) {
            EXPECT_EQ(channel().volumeEnvelope.tick, 9);
            EXPECT_LT(channel().volumeEnvelope.output, 64);
        } else {
            EXPECT_EQ(channel().volumeEnvelope.tick, 1);
            EXPECT_EQ(channel().volumeEnvelope.output, 64);
        }
        destroyPlayState(state);
        state = nullptr;
    }
}

// C-5 plays at the sample's middle-C rate and an octave up at twice it; the sample's, the
// instrument's and the channel's volumes each scale the note.
TEST_F(ItPlayerTest, MiddleCRateAndLayeredVolumes) {
    it.samples[0].middleCRate = 22050;
    cell(0, 0) = {C5, 1, -1, 0, 0};
    cell(0, 1) = {C5 + 12, 1, -1, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(voice(0).frequency, 22050);
    EXPECT_EQ(voice(1).frequency, 44100);
    const int32_t full = voice(0).finalVolume;
    EXPECT_GT(full, 0);
    destroyPlayState(state);

    it.samples[0].globalVolume = 32;
    instrument().globalVolume = 64;
    it.channelVolume[1] = 16;
    ASSERT_TRUE(start());
    tick();
    EXPECT_NEAR(voice(0).finalVolume, full / 4, 1);
    EXPECT_NEAR(voice(1).finalVolume, full / 16, 1);
}

// Surround plays in the centre; the song's separation narrows the channels' pannings.
TEST_F(ItPlayerTest, SurroundAndPanSeparation) {
    it.channelPanning[0] = 0;
    it.channelPanning[1] = 100;  // surround
    it.separation = 64;
    cell(0, 0) = {C5, 1, -1, 0, 0};
    cell(0, 1) = {C5, 1, -1, 24, 0};  // X00: hard left, surround off
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(voice(0).finalPanning, 64) << "hard left at half separation";
    EXPECT_EQ(voice(1).finalPanning, 64) << "X00 ends the surround";
    destroyPlayState(state);
    cell(0, 1) = {C5, 1, -1, 0, 0};
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(voice(1).finalPanning, 128);
}

// A sample's sustain loop holds the voice while the key is down; released, it plays on into the
// sample's loop.
TEST_F(ItPlayerTest, SustainLoopHoldsUntilRelease) {
    ItSample& s = it.samples[0];
    s.sustain = true;
    s.sustainStart = 0;
    s.sustainEnd = 100;
    s.loopStart = 500;
    s.loopEnd = 1000;
    cell(0, 0) = {C5, 1, -1, 0, 0};
    cell(1, 0) = {255, 0, -1, 0, 0};
    ASSERT_TRUE(start());
    const MixSettings settings = mixSettingsFor(44100);
    std::vector<float> out(2 * 4096);
    tick();
    EXPECT_EQ(voice().sustainHeld, 1);
    mixVoice(&voice(), settings, out.data(), 4096);
    EXPECT_LT(voice().position, 100u);
    tick(4);  // the release
    EXPECT_EQ(voice().sustainHeld, 0);
    mixVoice(&voice(), settings, out.data(), 4096);
    EXPECT_GE(voice().position, 500u);
}

// The instrument's cutoff and resonance switch the voice's filter on; Z7F opens the cutoff, and
// with Z80 (resonance 0 through the default macros) the filter is off. The mixer's filter takes the
// highs away.
TEST_F(ItPlayerTest, ResonantFilter) {
    instrument().filterCutoff = 40;
    instrument().filterResonance = 20;
    cell(0, 0) = {C5, 1, -1, 0, 0};
    cell(1, 0) = {-1, 0, -1, 26, 0x7F};  // Z7F: cutoff at the top
    cell(2, 0) = {-1, 0, -1, 26, 0x80};  // Z80: resonance 0
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(voice().filterOn, 1);
    const Voice low = voice();
    tick(4);
    EXPECT_EQ(voice().filterOn, 1);
    EXPECT_GT(voice().filterA, low.filterA);
    tick(4);
    EXPECT_EQ(voice().filterOn, 0);

    // The mixer: a sine at a quarter of the rate through the filter at cutoff 40 (about 340 Hz)
    // against the same unfiltered.
    Sample high = song->samples[0];
    std::vector<int16_t> frames = sineFrames(4104, 4, 20000);
    high.data = frames.data();
    high.length = 4096;
    high.loopMode = LOOP_NONE;
    high.loopStart = 0;
    high.loopLength = 4096;
    const MixSettings settings = mixSettingsFor(44100);
    double energy[2] = {0, 0};
    for (int filtered = 0; filtered < 2; ++filtered) {
        Voice v = {};
        v.sample = &high;
        v.step = 1;
        v.direction = DIRECTION_FORWARD;
        v.volumeLeft = v.volumeRight = 100;
        v.levelLeft = v.levelRight = 100 * 255 * 256;
        v.filterOn = static_cast<uint8_t>(filtered);
        v.filterA = low.filterA;
        v.filterB = low.filterB;
        v.filterC = low.filterC;
        std::vector<float> out(2 * 2048, 0.0f);
        mixVoice(&v, settings, out.data(), 2048);
        for (size_t k = 1024; k < out.size(); ++k) energy[filtered] += out[k] * out[k];
    }
    EXPECT_GT(energy[0], 0.0);
    EXPECT_LT(energy[1], energy[0] / 10);
}

}  // namespace

namespace {

// The commands only IT has, each on a note at C-5 and checked after the ticks given.
struct ItCommand {
    const char* name;
    uint8_t effect;
    uint8_t param;
    int ticks;  // from play start, speed 4
    bool (*holds)(const PlayState* state, const ChannelState& channel);
};

class ImpulseCommand : public ItPlayerTest, public testing::WithParamInterface<ItCommand> {};

TEST_P(ImpulseCommand, ActsAsImpulseTrackerDoes) {
    const ItCommand& c = GetParam();
    it.samples[0].frames = sineFrames(70000, 50, 100);
    it.samples[0].loopEnd = 70000;
    cell(0, 0) = {C5, 1, 32, c.effect, c.param};
    ASSERT_TRUE(start());
    tick(c.ticks);
    EXPECT_TRUE(c.holds(state, channel())) << c.name;
}

const ItCommand COMMANDS[] = {
    {"M20 channel volume", 13, 0x20, 1,
     [](const PlayState*, const ChannelState& ch) { return ch.channelVolume == 32; }},
    {"N02 channel volume slide down", 14, 0x02, 4,
     [](const PlayState*, const ChannelState& ch) { return ch.channelVolume == 64 - 3 * 2; }},
    {"NF2 fine channel volume slide, once", 14, 0xF2, 4,
     [](const PlayState*, const ChannelState& ch) { return ch.channelVolume == 62; }},
    {"D2F fine volume slide up, once", 4, 0x2F, 4,
     [](const PlayState*, const ChannelState& ch) { return ch.volume == 34; }},
    {"D0F slides down on the first tick too", 4, 0x0F, 2,
     [](const PlayState*, const ChannelState& ch) { return ch.volume == 2; }},
    {"T12 tempo slide up", 20, 0x12, 4,
     [](const PlayState* s, const ChannelState&) { return s->bpm == 125 + 3 * 2; }},
    {"T05 tempo slide down", 20, 0x05, 4,
     [](const PlayState* s, const ChannelState&) { return s->bpm == 125 - 3 * 5; }},
    {"V80 global volume to 128", 22, 0x80, 1,
     [](const PlayState* s, const ChannelState&) { return s->globalVolume == 128; }},
    {"W0F global volume slide down on the first tick too", 23, 0x0F, 2,
     [](const PlayState* s, const ChannelState&) { return s->globalVolume == 128 - 30; }},
    {"Y48 panbrello swings the panning", 25, 0x48, 3,
     [](const PlayState*, const ChannelState& ch) { return ch.panningDelta != 0; }},
    {"SA1 sets the high offset", 19, 0xA1, 1,
     [](const PlayState*, const ChannelState& ch) { return ch.highOffset == 1; }},
    {"S91 surround", 19, 0x91, 1,
     [](const PlayState*, const ChannelState& ch) { return ch.surround == 1; }},
    {"SF3 chooses the macro", 19, 0xF3, 1,
     [](const PlayState*, const ChannelState& ch) { return ch.midiMacro == 3; }},
    {"SC2 cuts the note on tick 2", 19, 0xC2, 3,
     [](const PlayState*, const ChannelState& ch) { return ch.volume == 0; }},
};

INSTANTIATE_TEST_SUITE_P(Commands, ImpulseCommand, testing::ValuesIn(COMMANDS),
                         [](const testing::TestParamInfo<ItCommand>& info) {
                             std::string name;
                             for (const char* c = info.param.name; *c && *c != ' '; ++c) name += *c;
                             return name;
                         });

}  // namespace
