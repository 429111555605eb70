// The score language: where tokens land on the grid, what phrases, chords and drums expand to, and
// the mistakes it refuses. Expected cells are worked out by hand from the rules in
// assets/song/README.md (C-4 is note 49; a row is six ticks; the shuffled off-beat is tick 16).
#include <gtest/gtest.h>

#include "tools/brom-compose/score.h"

namespace {

const char HEADER[] =
    "instruments piano bass kick hat\n"
    "channel a piano\n"
    "channel b piano v30\n"
    "channel c piano\n"
    "channel k kick\n"
    "channel h hat\n"
    "group pair a c\n"
    "chord C7 E4 Bb4\n"
    "chord F7 Eb4 A4\n"
    "chord F#dim Eb4 F#4\n"
    "drum K k kick C4\n"
    "drum h h hat C4 v20\n"
    "phrase walk | C2 E2 G2 A2 Bb2 A2 G2 E2 |\n"
    "phrase stab | C7 . . . . . . . |\n";

constexpr int CHANNELS = 5;
constexpr int A = 0, B = 1, C = 2, K = 3, H = 4;

// Reads HEADER, then `body` as the lanes of one 32-row pattern "p".
Score compose(const std::string& body) {
    Score score;
    std::string error;
    std::string text = std::string(HEADER) + "pattern p 32\n" + body + "\norder p\n";
    EXPECT_TRUE(parseScore(text, ".", &score, &error)) << error;
    return score;
}

std::string failure(const std::string& body) {
    Score score;
    std::string error;
    std::string text = std::string(HEADER) + "pattern p 32\n" + body + "\norder p\n";
    EXPECT_FALSE(parseScore(text, ".", &score, &error));
    return error;
}

XmCell cell(const Score& score, int row, int channel) {
    return score.song.patterns.at(0).cells.at(static_cast<size_t>(row) * CHANNELS + channel);
}

void expectCell(const Score& score, int row, int channel, XmCell want) {
    XmCell got = cell(score, row, channel);
    EXPECT_EQ(got.note, want.note) << "row " << row << " channel " << channel;
    EXPECT_EQ(got.instrument, want.instrument) << "row " << row << " channel " << channel;
    EXPECT_EQ(got.volumeColumn, want.volumeColumn) << "row " << row << " channel " << channel;
    EXPECT_EQ(got.effect, want.effect) << "row " << row << " channel " << channel;
    EXPECT_EQ(got.param, want.param) << "row " << row << " channel " << channel;
}

bool rowEmpty(const Score& score, int row, int channel) {
    XmCell c = cell(score, row, channel);
    return !c.note && !c.instrument && !c.volumeColumn && !c.effect && !c.param;
}

TEST(ScoreGrid, EightTokensAreShuffledEighths) {
    Score s = compose("a | walk |");
    // On the beats: rows 0, 4, 8, 12. Off-beats: tick 16 of the beat = row 2 + 4 ticks.
    expectCell(s, 0, A, {25, 1, 0, 0, 0});  // C-2
    expectCell(s, 2, A, {29, 1, 0, 0xE, 0xD4});  // E-2
    expectCell(s, 4, A, {32, 1, 0, 0, 0});  // G-2
    expectCell(s, 6, A, {34, 1, 0, 0xE, 0xD4});
    expectCell(s, 8, A, {35, 1, 0, 0, 0});  // Bb-2
    expectCell(s, 14, A, {29, 1, 0, 0xE, 0xD4});
    for (int row : {1, 3, 5, 7, 9, 11, 13, 15}) EXPECT_TRUE(rowEmpty(s, row, A)) << row;
}

TEST(ScoreGrid, TwelveTokensAreTripletsAndSixteenAreRows) {
    Score s = compose(
        "a | C4 D4 E4 F4 . . . . . . . . | C4 C4 C4 C4 C4 C4 C4 C4 C4 C4 C4 C4 C4 C4 C4 C4 |");
    // Triplets every 8 ticks: row 0, row 1 + 2, row 2 + 4, row 4.
    expectCell(s, 0, A, {49, 1, 0, 0, 0});
    expectCell(s, 1, A, {51, 1, 0, 0xE, 0xD2});
    expectCell(s, 2, A, {53, 1, 0, 0xE, 0xD4});
    expectCell(s, 4, A, {54, 1, 0, 0, 0});
    for (int row = 16; row < 32; ++row) expectCell(s, row, A, {49, 1, 0, 0, 0});
}

TEST(ScoreGrid, SwingCanBeStraightened) {
    Score score;
    std::string error;
    std::string text =
        std::string("swing 12\n") + HEADER + "pattern p 16\na | C4 D4 . . . . . . |\norder p\n";
    ASSERT_TRUE(parseScore(text, ".", &score, &error)) << error;
    expectCell(score, 2, A, {51, 1, 0, 0, 0});  // tick 12: row 2 exactly
}

TEST(ScoreGrid, KeyOffsAndBareEffectsActAtTheirRowStart) {
    // A delayed key-off would start its note again when the delay ran out.
    Score s = compose("a | C4 ^ . . . !A01 . . |");
    expectCell(s, 2, A, {97, 0, 0, 0, 0});
    expectCell(s, 10, A, {0, 0, 0, 0xA, 0x01});
}

TEST(ScorePhrases, TransposeToTheNearestRootAndByOctaves) {
    Score s = compose("a | walk(G) | walk(F)+12 |");
    expectCell(s, 0, A, {20, 1, 0, 0, 0});  // G-1: down a fourth
    expectCell(s, 2, A, {24, 1, 0, 0xE, 0xD4});  // B-1
    expectCell(s, 16, A, {42, 1, 0, 0, 0});  // F-3: up a fourth and an octave
}

TEST(ScorePhrases, PercentRepeatsTheBarBefore) {
    Score s = compose("a | C4 D4 . . . . . . | % |");
    expectCell(s, 16, A, {49, 1, 0, 0, 0});
    expectCell(s, 18, A, {51, 1, 0, 0xE, 0xD4});
}

TEST(ScoreEffects, StarRepeatsTheEffectUntilTheNextToken) {
    Score s = compose("a | C4!447* . . . . . ^ . |");
    for (int row = 0; row < 12; ++row) {
        EXPECT_EQ(cell(s, row, A).effect, 4) << row;
        EXPECT_EQ(cell(s, row, A).param, 0x47) << row;
    }
    expectCell(s, 12, A, {97, 0, 0, 0, 0});
}

TEST(ScoreEffects, PortamentoAndTiedNotesKeepTheEnvelopes) {
    Score s = compose("a | C4 . D4!310 . E4~ . F4@F8 . |");
    expectCell(s, 0, A, {49, 1, 0, 0, 0});
    expectCell(s, 4, A, {51, 0, 0, 0x3, 0x10});  // no instrument: the sample does not restart
    expectCell(s, 8, A, {53, 0, 0, 0, 0});
    expectCell(s, 12, A, {54, 0, 0xF8, 0, 0});  // volume-column tone portamento
}

TEST(ScoreEffects, ModifiersWriteTheColumns) {
    Score s = compose("a | C4v40!R13 . D4@C8 . !F8C . ^!K00 . |");
    expectCell(s, 0, A, {49, 1, 0x10 + 40, 0x1B, 0x13});
    expectCell(s, 4, A, {51, 1, 0xC8, 0, 0});
    expectCell(s, 8, A, {0, 0, 0, 0xF, 0x8C});
    expectCell(s, 12, A, {97, 0, 0, 0x14, 0x00});
}

TEST(ScoreEffects, ExtraDelayAddsTicks) {
    Score s = compose("a | C4>3 . . . . . . . . . . . . . . . |");
    expectCell(s, 0, A, {49, 1, 0, 0xE, 0xD3});
}

TEST(ScoreChannels, ChannelVolumeAppliesToItsOwnInstrumentOnly) {
    Score s = compose("b | C4 . D4v50 . [bass] E4 . . . |");
    expectCell(s, 0, B, {49, 1, 0x10 + 30, 0, 0});
    expectCell(s, 4, B, {51, 1, 0x10 + 50, 0, 0});
    expectCell(s, 8, B, {53, 2, 0, 0, 0});
}

TEST(ScoreChannels, ChordLanesSpreadTheVoicingAndFollowTheRoot) {
    Score s = compose("pair | stab(F) | F#dim!EC3 . . . ^ . . . |");
    expectCell(s, 0, A, {52, 1, 0, 0, 0});  // Eb-4
    expectCell(s, 0, C, {58, 1, 0, 0, 0});
    expectCell(s, 16, A, {52, 1, 0, 0xE, 0xC3});
    expectCell(s, 16, C, {55, 1, 0, 0xE, 0xC3});  // F#-4: the sharp is not a comment
    expectCell(s, 24, A, {97, 0, 0, 0, 0});
    expectCell(s, 24, C, {97, 0, 0, 0, 0});
}

TEST(ScoreChannels, DrumLettersStrikeTheirOwnChannels) {
    Score s = compose("drums | Kh h . . . . . . |");
    expectCell(s, 0, K, {49, 3, 0, 0, 0});
    expectCell(s, 0, H, {49, 4, 0x10 + 20, 0, 0});
    expectCell(s, 2, H, {49, 4, 0x10 + 20, 0xE, 0xD4});
    EXPECT_TRUE(rowEmpty(s, 2, K));
}

TEST(ScoreSong, OrderAndRestartNameThePatterns) {
    Score score;
    std::string error;
    std::string text = std::string("title T\nbpm 132\n") + HEADER +
                       "pattern p 16\na | C4 |\npattern q 32\n"
                       "order p q\norder p\nrestart q\n";
    ASSERT_TRUE(parseScore(text, ".", &score, &error)) << error;
    EXPECT_EQ(score.song.orders, (std::vector<uint8_t>{0, 1, 0}));
    EXPECT_EQ(score.song.restartPosition, 1);
    EXPECT_EQ(score.song.channels, CHANNELS);
    EXPECT_EQ(score.song.bpm, 132);
    EXPECT_EQ(score.song.flags, 1);  // linear frequency table
    EXPECT_EQ(score.song.patterns[1].rows, 32);
    EXPECT_EQ(score.instrumentNames, (std::vector<std::string>{"piano", "bass", "kick", "hat"}));
}

TEST(ScoreErrors, ClashesAndImpossibleCellsAreRefusedWithTheirLine) {
    // Two lanes writing one channel's note in the same row.
    std::string clash = failure("a | C4 |\npair | stab |");
    EXPECT_NE(clash.find("two notes"), std::string::npos) << clash;
    EXPECT_NE(clash.find(":17:"), std::string::npos) << clash;  // the pair lane's line
    EXPECT_NE(failure("a | C4 D4!447 . . . . . . |").find("delayed note"), std::string::npos);
    EXPECT_NE(failure("a | C4>6 |").find("next row"), std::string::npos);
    EXPECT_NE(failure("a | C4 D4 E4 F4 G4 |").find("grid"), std::string::npos);
    EXPECT_NE(failure("a | H4 |").find("cannot read"), std::string::npos);
    EXPECT_NE(failure("a | C9 |").find("out of range"), std::string::npos);
    EXPECT_NE(failure("a | walk | walk | walk |").find("longer"), std::string::npos);
    EXPECT_NE(failure("nowhere | C4 |").find("no channel"), std::string::npos);
    EXPECT_NE(failure("pair | G7 |").find("no chord"), std::string::npos);
}

TEST(ScoreErrors, UnplayedPatternsAndUnknownOrdersAreRefused) {
    Score score;
    std::string error;
    EXPECT_FALSE(
        parseScore(std::string(HEADER) + "pattern p\npattern q\norder p\n", ".", &score, &error));
    EXPECT_NE(error.find("never played"), std::string::npos) << error;
    EXPECT_FALSE(parseScore(std::string(HEADER) + "pattern p\norder p r\n", ".", &score, &error));
    EXPECT_NE(error.find("no pattern 'r'"), std::string::npos) << error;
}

}  // namespace
