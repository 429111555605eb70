#include "demo/draw.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>

namespace {

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

std::vector<uint32_t> patternedFrame() {
    std::vector<uint32_t> frame(FRAME_WIDTH * FRAME_HEIGHT);
    for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i)
        frame[i] = static_cast<uint32_t>(i * 2654435761u) & 0xFFFFFF;
    return frame;
}

TEST(Blend, RedTextWeightIntoGreyWhiteAndBlack) {
    EXPECT_EQ(blendPixel(rgb(128, 128, 128), 0xFF0000, 0.796875f), rgb(229, 26, 26));
    EXPECT_EQ(blendPixel(rgb(255, 255, 255), 0xFF0000, 0.796875f), rgb(255, 51, 51));
    EXPECT_EQ(blendPixel(rgb(0, 0, 0), 0xFF0000, 0.796875f), rgb(203, 0, 0));
}

TEST(Blend, HalfWeightIsTheMeanRoundedDown) {
    EXPECT_EQ(blendPixel(rgb(16, 32, 48), rgb(64, 80, 96), 0.5f), rgb(40, 56, 72));
    EXPECT_EQ(blendPixel(rgb(1, 1, 1), rgb(2, 2, 2), 0.5f), rgb(1, 1, 1));
}

TEST(Blend, WeightZeroKeepsTheDestinationAndOneTakesTheSource) {
    EXPECT_EQ(blendPixel(rgb(12, 200, 7), rgb(250, 1, 99), 0.0f), rgb(12, 200, 7));
    EXPECT_EQ(blendPixel(rgb(12, 200, 7), rgb(250, 1, 99), 1.0f), rgb(250, 1, 99));
}

TEST(Sprite, SkipsTheColourKeyAndBlendsEverythingElseInPlace) {
    std::vector<uint32_t> frame(FRAME_WIDTH * FRAME_HEIGHT, rgb(100, 100, 100));
    std::vector<uint32_t> sprite(SPRITE_SIZE * SPRITE_SIZE, COLOUR_KEY);
    sprite[0] = rgb(254, 0, 255);  // one step off the key: drawn
    sprite[5 * SPRITE_SIZE + 7] = rgb(200, 50, 0);
    drawSprite(frame.data(), sprite.data(), 40, 60, 0.5f);
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        for (int x = 0; x < FRAME_WIDTH; ++x) {
            uint32_t expected = rgb(100, 100, 100);
            if (x == 40 && y == 60) expected = rgb(177, 50, 177);
            if (x == 47 && y == 65) expected = rgb(150, 75, 50);
            ASSERT_EQ(frame[y * FRAME_WIDTH + x], expected) << x << "," << y;
        }
    }
}

class Glyph : public ::testing::Test {
  protected:
    // A font with ink only in the cell of 'A' (code 65: cell 33, columns 8-15, rows 32-39): a
    // diagonal from its top-left corner.
    void SetUp() override {
        memset(fontSheet, 0, sizeof fontSheet);
        for (int i = 0; i < 8; ++i) fontSheet[(32 + i) * FONT_SHEET_SIZE + 8 + i] = 255;
    }
};

TEST_F(Glyph, BlendsInkTowardRedWithAlphaTimes255Over256) {
    std::vector<uint32_t> frame(FRAME_WIDTH * FRAME_HEIGHT, rgb(128, 128, 128));
    drawGlyph(frame.data(), 'A', 30, 20, 0.8f);
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        for (int x = 0; x < FRAME_WIDTH; ++x) {
            bool ink = x >= 30 && x < 38 && x - 30 == y - 20;
            ASSERT_EQ(frame[y * FRAME_WIDTH + x], ink ? rgb(229, 26, 26) : rgb(128, 128, 128))
                << x << "," << y;
        }
    }
}

TEST_F(Glyph, OnlyTheLowEightBitsOfTheCodeCount) {
    std::vector<uint32_t> frame(FRAME_WIDTH * FRAME_HEIGHT, 0);
    drawGlyph(frame.data(), 'A' + 256, 0, 0, 0.8f);
    EXPECT_EQ(frame[0], rgb(203, 0, 0));
    EXPECT_EQ(frame[1 * FRAME_WIDTH + 1], rgb(203, 0, 0));
}

TEST_F(Glyph, CodesWithoutACellDrawNothing) {
    memset(fontSheet, 255, sizeof fontSheet);  // every cell solid ink
    std::vector<uint32_t> frame = patternedFrame();
    std::vector<uint32_t> before = frame;
    for (int code : {0, 31, 96, 127, 200, 255, -1}) drawGlyph(frame.data(), code, 100, 100, 0.8f);
    EXPECT_EQ(frame, before);
    drawGlyph(frame.data(), 95, 100, 100, 0.8f);  // the last cell is drawn
    EXPECT_NE(frame, before);
}

TEST_F(Glyph, AGlyphWithoutInkChangesNoPixel) {
    std::vector<uint32_t> frame = patternedFrame();
    std::vector<uint32_t> before = frame;
    drawGlyph(frame.data(), ' ', 10, 10, 0.8f);
    EXPECT_EQ(frame, before);
}

TEST(RestoreList, EntriesAreKeptNewestFirst) {
    std::vector<uint32_t> frame = patternedFrame();
    RestoreList list = {};
    saveRect(frame.data(), &list, 1, 2, 3, 4);
    saveRect(frame.data(), &list, 10, 20, 8, 8);
    ASSERT_NE(list.head, nullptr);
    EXPECT_EQ(list.head, list.cursor);
    EXPECT_EQ(list.head->x, 10u);
    EXPECT_EQ(list.head->width, 8u);
    ASSERT_NE(list.head->next, nullptr);
    EXPECT_EQ(list.head->next->y, 2u);
    EXPECT_EQ(list.head->next->height, 4u);
    EXPECT_EQ(list.head->next->next, nullptr);
    // The saved pixels are the rectangle's, row by row.
    EXPECT_EQ(list.head->next->pixels[1 * 3 + 2], frame[3 * FRAME_WIDTH + 3]);
    restoreRects(frame.data(), &list);
}

TEST(RestoreList, OverlappingSpritesLeaveTheExactBackground) {
    std::vector<uint32_t> frame = patternedFrame();
    const std::vector<uint32_t> background = frame;
    std::vector<uint32_t> sprite(SPRITE_SIZE * SPRITE_SIZE);
    for (int i = 0; i < SPRITE_SIZE * SPRITE_SIZE; ++i)
        sprite[i] = i % 3 ? rgb(255, 255, 255) : COLOUR_KEY;
    RestoreList list = {};
    saveRect(frame.data(), &list, 50, 60, 32, 32);  // A
    drawSprite(frame.data(), sprite.data(), 50, 60, 0.5f);
    saveRect(frame.data(), &list, 66, 70, 32, 32);  // B, over A
    drawSprite(frame.data(), sprite.data(), 66, 70, 0.5f);
    saveRect(frame.data(), &list, 60, 64, 32, 32);  // C, over both
    drawSprite(frame.data(), sprite.data(), 60, 64, 0.5f);
    ASSERT_NE(frame, background);
    restoreRects(frame.data(), &list);
    EXPECT_EQ(frame, background);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.cursor, nullptr);
}

TEST(RestoreList, ReplayingAnEmptyListChangesNothing) {
    std::vector<uint32_t> frame = patternedFrame();
    const std::vector<uint32_t> before = frame;
    RestoreList list = {};
    restoreRects(frame.data(), &list);
    EXPECT_EQ(frame, before);
    EXPECT_EQ(list.head, nullptr);
    EXPECT_EQ(list.cursor, nullptr);
}

TEST(RestoreList, TheListCanBeFilledAgainAfterAReplay) {
    std::vector<uint32_t> frame = patternedFrame();
    const std::vector<uint32_t> background = frame;
    RestoreList list = {};
    for (int round = 0; round < 3; ++round) {
        saveRect(frame.data(), &list, 5 + round, 5, 4, 4);
        frame[5 * FRAME_WIDTH + 6 + round] = 0;
        restoreRects(frame.data(), &list);
        EXPECT_EQ(frame, background);
    }
}

}  // namespace
