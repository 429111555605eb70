// The committed "brom-boogie.xm": small, loadable, laid out as the demo needs it, and using what an
// XM module offers (the effects, both sample widths and loop kinds, envelopes, auto-vibrato).
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <set>

#include "tests/support/load_bytes.h"
#include "tools/brom-compose/instruments.h"
#include "tools/brom-compose/score.h"

namespace {

const std::string SONG_PATH = std::string(BROM_SOURCE_DIR) + "/assets/brom-boogie.xm";
const std::string SCORE_PATH = std::string(BROM_SOURCE_DIR) + "/assets/song/song.txt";

std::vector<uint8_t> songBytes() {
    std::ifstream in(SONG_PATH, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(SongFile, IsSmallAndLoadsWithAtLeastEightChannels) {
    std::vector<uint8_t> bytes = songBytes();
    ASSERT_FALSE(bytes.empty()) << SONG_PATH;
    EXPECT_LT(bytes.size(), 300u * 1024);
    SongPtr song = loadOwnedSong(bytes);
    ASSERT_TRUE(song);
    EXPECT_GE(song->channelCount, 8);
    EXPECT_LE(song->channelCount, 32);
    EXPECT_EQ(song->songFlags & 1, 1);  // linear frequency table
    // The song goes round again from a chorus, not from its introduction or past its end.
    EXPECT_GT(song->restartPosition, 0);
    EXPECT_LT(song->restartPosition, song->songLength);
}

// What the patterns do, as the player will read them.
std::set<std::string> effectsUsed(const Song& song) {
    std::set<std::string> used;
    for (int p = 0; p < song.patternCount; ++p) {
        const Pattern& pattern = song.patterns[p];
        for (int k = 0; k < pattern.rowCount * song.channelCount; ++k) {
            const NoteCell& c = pattern.cells[k];
            if (c.note == NOTE_KEY_OFF || c.effect.command == CMD_KEY_OFF) used.insert("key-off");
            if (c.volume.command == VOL_SET_PANNING) used.insert("panning");
            switch (c.effect.command) {
                case CMD_ARPEGGIO: used.insert("arpeggio"); break;
                case CMD_PORTA_UP: used.insert("portamento up"); break;
                case CMD_PORTA_DOWN: used.insert("portamento down"); break;
                case CMD_TONE_PORTA: used.insert("tone portamento"); break;
                case CMD_VIBRATO: used.insert("vibrato"); break;
                case CMD_TONE_PORTA_VOLUME_SLIDE:
                case CMD_VIBRATO_VOLUME_SLIDE:
                case CMD_VOLUME_SLIDE: used.insert("volume slide"); break;
                case CMD_TREMOLO: used.insert("tremolo"); break;
                case CMD_SET_PANNING: used.insert("panning"); break;
                case CMD_SAMPLE_OFFSET: used.insert("sample offset"); break;
                case CMD_PATTERN_BREAK: used.insert("pattern break"); break;
                case CMD_SET_SPEED: used.insert("speed"); break;
                case CMD_SET_TEMPO: used.insert("tempo"); break;
                case CMD_MULTI_RETRIGGER:
                case CMD_RETRIGGER: used.insert("retrigger"); break;
                case CMD_PATTERN_LOOP: used.insert("pattern loop"); break;
                case CMD_NOTE_CUT: used.insert("note cut"); break;
                case CMD_NOTE_DELAY: used.insert("note delay"); break;
                case CMD_PATTERN_DELAY: used.insert("pattern delay"); break;
                default: break;
            }
        }
    }
    return used;
}

TEST(SongFile, UsesTheEffectsARealModuleUses) {
    SongPtr song = loadOwnedSong(songBytes());
    ASSERT_TRUE(song);
    std::set<std::string> used = effectsUsed(*song);
    for (const char* effect :
         {"arpeggio", "portamento up", "portamento down", "tone portamento", "vibrato", "tremolo",
          "volume slide", "panning", "sample offset", "retrigger", "note cut", "note delay",
          "key-off", "speed", "tempo", "pattern loop", "pattern break"}) {
        EXPECT_TRUE(used.count(effect)) << effect;
    }
}

TEST(SongFile, InstrumentsUseEnvelopesLoopsAndBothSampleWidths) {
    SongPtr song = loadOwnedSong(songBytes());
    ASSERT_TRUE(song);
    bool forward = false, pingPong = false, sustainAndFade = false, panningEnvelope = false,
         autoVibrato = false;
    for (int i = 0; i < song->instrumentCount; ++i) {
        const Instrument& ins = song->instruments[i];
        for (int j = 0; j < ins.sampleCount; ++j) {
            forward |= instrumentSample(song.get(), i, j)->loopMode == LOOP_FORWARD;
            pingPong |= instrumentSample(song.get(), i, j)->loopMode == LOOP_PINGPONG;
        }
        sustainAndFade |= (ins.volumeEnvelope.flags & (ENVELOPE_ON | ENVELOPE_SUSTAIN)) ==
                              (ENVELOPE_ON | ENVELOPE_SUSTAIN) &&
                          ins.fadeout > 0;
        panningEnvelope |= (ins.panningEnvelope.flags & ENVELOPE_ON) != 0;
        autoVibrato |= ins.vibratoDepth > 0 && ins.vibratoRate > 0;
    }
    EXPECT_TRUE(forward);
    EXPECT_TRUE(pingPong);
    EXPECT_TRUE(sustainAndFade);
    EXPECT_TRUE(panningEnvelope);
    EXPECT_TRUE(autoVibrato);

    // The loader widens every sample to 16 bits, so the widths are read from the score's build.
    Score score;
    std::string error;
    ASSERT_TRUE(readScore(SCORE_PATH, &score, &error)) << error;
    bool eightBit = false, sixteenBit = false;
    for (const std::string& name : score.instrumentNames) {
        XmInstrument ins;
        ASSERT_TRUE(makeSongInstrument(name, &ins)) << name;
        for (const XmSample& s : ins.samples) (s.sixteenBit ? sixteenBit : eightBit) = true;
    }
    EXPECT_TRUE(eightBit);
    EXPECT_TRUE(sixteenBit);
}

}  // namespace
