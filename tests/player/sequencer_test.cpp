// Sequencing and flow control: rows, orders, speed and tempo, jumps, breaks, loops, delays, the
// restart position, first-repeat detection, and song fields that point outside the patterns.
#include <utility>
#include <vector>

#include "tests/player/player_fixture.h"

namespace {

using Position = std::pair<int, int>;  // order, row

class SequencerTest : public PlayerTest {
  protected:
    // Order and row of each row start among the next `ticks` ticks, as the row start read them.
    std::vector<Position> rowStarts(int ticks) {
        std::vector<Position> starts;
        for (int k = 0; k < ticks; ++k) {
            const bool rowStart = state->tick == 0;
            tick();
            if (rowStart) starts.push_back({state->orderPosition, readRow()});
        }
        return starts;
    }
    int readRow() {
        const NoteCell* cells = currentRowCells(state);
        if (!cells) return -1;
        const Pattern& pattern = song->patterns[song->orderTable[state->orderPosition]];
        return static_cast<int>(cells - pattern.cells) / song->channelCount;
    }
    void useShortPatterns(int patternCount, int rows) {
        xm.patterns.clear();
        xm.orders.clear();
        for (int p = 0; p < patternCount; ++p) {
            xm.patterns.push_back(makePattern(rows, xm.channels));
            xm.orders.push_back(static_cast<uint8_t>(p));
        }
    }
};

std::vector<Position> rowsOf(int order, std::initializer_list<int> rows) {
    std::vector<Position> positions;
    for (int row : rows) positions.push_back({order, row});
    return positions;
}

std::vector<Position> operator+(std::vector<Position> a, const std::vector<Position>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

TEST_F(SequencerTest, TempoGivesFramesPerTickInExtendedPrecision) {
    ASSERT_TRUE(start());
    const std::pair<int, int> expected[] = {{125, 882}, {35, 3149},  {70, 1574},  {32, 3445},
                                            {255, 432}, {0, 110250}, {-5, 110250}};
    for (auto [bpm, frames] : expected) {
        setBpm(state, bpm);
        EXPECT_EQ(state->samplesPerTick, frames) << "bpm " << bpm;
    }
    EXPECT_EQ(state->bpm, 1);
}

TEST_F(SequencerTest, RowsLastSpeedTicksAndPatternsFollowTheOrderTable) {
    useShortPatterns(2, 32);
    ASSERT_TRUE(start());
    EXPECT_EQ(state->samplesPerTick, 882);
    tick(6 * 31);
    EXPECT_EQ(state->row, 30);
    tick(6);
    EXPECT_EQ(Position(state->orderPosition, state->row), Position(0, 31));
    tick();
    EXPECT_EQ(Position(state->orderPosition, state->row), Position(1, 0));
}

TEST_F(SequencerTest, TheEndOfTheLastOrderContinuesAtTheRestartPosition) {
    useShortPatterns(3, 2);
    xm.speed = 1;
    xm.restartPosition = 1;
    ASSERT_TRUE(start());
    EXPECT_EQ(rowStarts(8),
              rowsOf(0, {0, 1}) + rowsOf(1, {0, 1}) + rowsOf(2, {0, 1}) + rowsOf(1, {0, 1}));
}

TEST_F(SequencerTest, SpeedAndTempoEffect) {
    cell(0, 0) = {0, 0, 0, 0x0F, 0x1F};
    cell(1, 0) = {0, 0, 0, 0x0F, 0x20};
    cell(2, 0) = {0, 0, 0, 0x0F, 0x00};
    cell(2, 1) = {0, 0, 0, 0x0E, 0xE2};  // a pattern delay at speed 0 adds nothing
    ASSERT_TRUE(start());
    tick();
    EXPECT_EQ(state->speed, 31);
    tick(31);
    EXPECT_EQ(state->bpm, 32);
    EXPECT_EQ(state->samplesPerTick, 3445);
    tick(31);
    // Speed 0: every tick starts a row, as with speed 1.
    EXPECT_EQ(state->speed, 0);
    EXPECT_EQ(state->tick, 0);
    EXPECT_EQ(rowStarts(3), rowsOf(0, {3, 4, 5}));
}

TEST_F(SequencerTest, PositionJumpAndPatternBreak) {
    useShortPatterns(3, 8);
    xm.speed = 1;
    cell(1, 0, 0) = {0, 0, 0, 0x0B, 0x02};  // jump to order 2 ...
    cell(1, 1, 0) = {0, 0, 0, 0x0D, 0x05};  // ... and a break in a higher channel: row 5
    cell(6, 0, 2) = {0, 0, 0, 0x0D, 0x70};  // row 70 > 63: row 0; after the last order: order 0
    ASSERT_TRUE(start());
    EXPECT_EQ(rowStarts(5), rowsOf(0, {0, 1}) + rowsOf(2, {5, 6}) + rowsOf(0, {0}));
}

TEST_F(SequencerTest, JumpAfterBreakInTheSameRowStartsItsOrderAtRowZero) {
    useShortPatterns(3, 8);
    xm.speed = 1;
    cell(0, 0, 0) = {0, 0, 0, 0x0D, 0x05};
    cell(0, 1, 0) = {0, 0, 0, 0x0B, 0x02};
    cell(0, 0, 2) = {0, 0, 0, 0x0B, 0x09};  // beyond the song: order 0, not the restart
    xm.restartPosition = 1;
    ASSERT_TRUE(start());
    EXPECT_EQ(rowStarts(3), rowsOf(0, {0}) + rowsOf(2, {0}) + rowsOf(0, {0}));
}

TEST_F(SequencerTest, LastPatternBreakOfARowCountsAndBreakRowsBeyondTheNextPatternStartAtZero) {
    xm.speed = 1;
    xm.patterns.push_back(makePattern(16, 2));
    xm.orders.push_back(1);
    cell(0, 0) = {0, 0, 0, 0x0D, 0x12};
    cell(0, 1) = {0, 0, 0, 0x0D, 0x14};
    cell(14, 0, 1) = {0, 0, 0, 0x0D, 0x20};  // row 20 of the 64-row pattern 0
    cell(20, 0, 0) = {0, 0, 0, 0x0D, 0x40};  // row 40 of the 16-row pattern 1: row 0
    ASSERT_TRUE(start());
    EXPECT_EQ(rowStarts(4), rowsOf(0, {0}) + rowsOf(1, {14}) + rowsOf(0, {20}) + rowsOf(1, {0}));
}

TEST_F(SequencerTest, PatternLoopPlaysItsRowsAgain) {
    useShortPatterns(1, 16);
    xm.speed = 1;
    cell(4, 1) = {0, 0, 0, 0x0E, 0x60};
    cell(10, 1) = {0, 0, 0, 0x0E, 0x62};
    ASSERT_TRUE(start());
    const std::vector<Position> loop = rowsOf(0, {4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(rowStarts(30),
              rowsOf(0, {0, 1, 2, 3}) + loop + loop + loop + rowsOf(0, {11, 12, 13, 14, 15}));
    // The loop's replays are not a repeat of the song; coming back to the start is.
    EXPECT_EQ(state->hasRepeated, 0);
    tick();
    EXPECT_EQ(state->hasRepeated, 1);
}

TEST_F(SequencerTest, AfterALoopJumpTheRestOfTheRowActsOnTheRowThatJumped) {
    cell(0, 0) = {0, 0, 0, 0x0E, 0x60};
    cell(7, 0) = {0, 0, 0, 0x0E, 0x61};
    cell(7, 1) = {0, 0, 0x50, 0x0A, 0x02};  // volume 64, then 2 down on every later tick
    ASSERT_TRUE(start());
    tick(7 * 6 + 1);
    EXPECT_EQ(state->row, -1);  // loop row 0, less one, until the next row start
    tick(5);
    EXPECT_EQ(channel(1).volume, 54);
    tick();
    EXPECT_EQ(state->row, 0);
}

TEST_F(SequencerTest, BreakInTheRowOfALoopOverridesTheLoop) {
    useShortPatterns(2, 8);
    xm.speed = 1;
    cell(2, 0, 0) = {0, 0, 0, 0x0E, 0x60};
    cell(4, 0, 0) = {0, 0, 0, 0x0E, 0x63};
    cell(4, 1, 0) = {0, 0, 0, 0x0D, 0x00};
    ASSERT_TRUE(start());
    EXPECT_EQ(rowStarts(6), rowsOf(0, {0, 1, 2, 3, 4}) + rowsOf(1, {0}));
}

TEST_F(SequencerTest, PatternDelayRepeatsTheRowsTicksWithoutReadingItAgain) {
    cell(0, 0) = {0, 0, 0, 0x0E, 0xE2};
    cell(0, 1) = {0, 0, 0x50, 0x0A, 0x01};
    ASSERT_TRUE(start());
    tick(17);
    EXPECT_EQ(state->tick, 17);
    EXPECT_EQ(state->row, 0);
    tick();
    // 18 ticks, the volume slide acting on the 17 after the first.
    EXPECT_EQ(channel(1).volume, 64 - 17);
    EXPECT_EQ(state->tick, 0);
    EXPECT_EQ(state->patternDelayTicks, 0);
    tick();
    EXPECT_EQ(state->row, 1);
}

TEST_F(SequencerTest, FirstRepeatIsTheFirstRowStartOnARowAlreadyPlayed) {
    useShortPatterns(3, 4);
    xm.speed = 2;
    xm.orders = {0, 1, 2};
    cell(2, 0, 1) = {0, 0, 0, 0x0B, 0x00};  // order 1 row 2 jumps back to order 0
    ASSERT_TRUE(start());
    tick(2 * (4 + 3));
    EXPECT_EQ(state->hasRepeated, 0);
    tick();
    EXPECT_EQ(state->hasRepeated, 1);
    EXPECT_EQ(Position(state->orderPosition, state->row), Position(0, 0));
    restart();
    EXPECT_EQ(state->hasRepeated, 0);
    tick();
    EXPECT_EQ(state->hasRepeated, 0);
}

TEST_F(SequencerTest, NestedLoopsAreNotARepeat) {
    useShortPatterns(1, 12);
    xm.speed = 1;
    cell(0, 0) = {0, 0, 0, 0x0E, 0x60};
    cell(7, 0) = {0, 0, 0, 0x0E, 0x61};
    cell(2, 1) = {0, 0, 0, 0x0E, 0x60};
    cell(4, 1) = {0, 0, 0, 0x0E, 0x61};
    ASSERT_TRUE(start());
    // 0-4, 2-4, 5-7, then the outer loop again: 0-4, 2-4, 5-7, then 8-11.
    const int rows = 2 * (5 + 3 + 3) + 4;
    EXPECT_EQ(rowStarts(rows).back(), Position(0, 11));
    EXPECT_EQ(state->hasRepeated, 0);
    tick();
    EXPECT_EQ(state->hasRepeated, 1);
}

TEST_F(SequencerTest, RowStartsStayInsideThePatternsWhateverTheSongFieldsHold) {
    xm.speed = 1;
    xm.patterns.push_back(makePattern(0, 2));  // a pattern without rows
    xm.patterns.push_back(makePattern(4, 2));
    xm.orders = {0, 1, 2};
    for (int row = 0; row < 4; ++row) cell(row, 1, 2) = {C4, 1, 0, 0x0A, 0x0F};
    ASSERT_TRUE(start());
    state->row = 1000;
    song->patterns[0].rowCount = 0;
    EXPECT_EQ(rowStarts(3), rowsOf(0, {-1}) + rowsOf(1, {-1}) + rowsOf(2, {0}));
    EXPECT_EQ(state->row, 0);

    state->nextRow = 70000;
    state->nextOrderPosition = 2;
    tick();
    EXPECT_EQ(Position(state->orderPosition, state->row), Position(2, 0));
    state->nextOrderPosition = 300;
    tick();
    EXPECT_EQ(state->orderPosition, 0);

    song->orderTable[0] = 200;  // no such pattern
    song->orderTable[2] = 200;
    song->restartPosition = 250;
    for (int k = 0; k < 2000; ++k) {
        tick();
        ASSERT_GE(state->orderPosition, 0);
        ASSERT_LT(state->orderPosition, song->songLength);
        ASSERT_EQ(currentRowCells(state), nullptr);
    }
}

}  // namespace

namespace {

// Every byte value in every cell field, extreme envelope values and an instrument number the song
// lacks: the player must stay inside its records (the sanitizer builds check it).
TEST_F(SequencerTest, RandomCellsKeepThePlayerInsideItsRecords) {
    xm = makeXmSong(4, 3);
    XmInstrument loud = makeInstrument(loopedSample());
    loud.volumeEnvelope = {{0, 65535}, {3, 0}, {5, 40000}};
    loud.volumeFlags = 1 | 2 | 4;
    loud.volumeSustain = 1;
    loud.volumeLoopEnd = 2;
    loud.panningEnvelope = {{0, 65535}, {1, 0}};
    loud.panningFlags = 1;
    loud.vibratoType = 0;
    loud.vibratoDepth = 255;
    loud.vibratoRate = 255;
    loud.vibratoSweep = 1;
    loud.fadeout = 65535;
    xm.instruments.push_back(loud);
    xm.instruments.push_back(makeInstrument(makeSample({}, false)));
    uint32_t seed = 12345;
    auto next = [&seed] {
        seed = seed * 1664525u + 1013904223u;
        return static_cast<uint8_t>(seed >> 24);
    };
    for (XmPattern& pattern : xm.patterns) {
        pattern.packing = XmPacking::Mask;  // so that a note byte may be anything
        for (XmCell& c : pattern.cells) {
            c = {next(), static_cast<uint8_t>(next() % 4), next(),
                 static_cast<uint8_t>(next() % 0x24), next()};
        }
    }
    xm.flags = 0;  // Amiga periods: the integer division by the period
    ASSERT_TRUE(start()) << songLoadError();
    for (int k = 0; k < 20000; ++k) tick();
    EXPECT_GE(state->orderPosition, 0);
    EXPECT_LT(state->orderPosition, song->songLength);
    xm.flags = 1;
    ASSERT_TRUE(start());
    for (int k = 0; k < 20000; ++k) tick();
    EXPECT_LT(state->row, 64);
}

}  // namespace
