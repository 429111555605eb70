#include "demo/art.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

TEST(Art, StoredPicturesAreBlueGreenRedFromTheBottomRowUp) {
    std::vector<uint8_t> stored(FRAME_WIDTH * FRAME_HEIGHT * 3, 0);
    stored[0] = 1, stored[1] = 2, stored[2] = 3;  // the first stored pixel
    stored[(FRAME_HEIGHT - 1) * FRAME_WIDTH * 3 + 3 * 4] = 0xAA;  // last stored row, pixel 4: blue
    std::vector<uint32_t> frame(FRAME_WIDTH * FRAME_HEIGHT, 0xDEAD);
    decodePicture(stored.data(), FRAME_WIDTH, FRAME_HEIGHT, frame.data());
    EXPECT_EQ(frame[199 * FRAME_WIDTH + 0], 0x00030201u);  // the bottom-left corner
    EXPECT_EQ(frame[0 * FRAME_WIDTH + 4], 0x000000AAu);  // the top row
    EXPECT_EQ(frame[0], 0u);
}

TEST(Art, TheSpriteIsSeeThroughAroundAFigure) {
    std::vector<uint32_t> sprite(SPRITE_SIZE * SPRITE_SIZE);
    decodeSprite(sprite.data());
    EXPECT_EQ(sprite[31 * SPRITE_SIZE + 0], COLOUR_KEY);  // the first stored pixel
    int keyed = 0;
    for (uint32_t p : sprite) {
        keyed += p == COLOUR_KEY;
        if (p != COLOUR_KEY) {  // the figure is grey
            EXPECT_EQ(p >> 16, p & 0xFF);
            EXPECT_EQ(p >> 8 & 0xFF, p & 0xFF);
        }
    }
    EXPECT_GT(keyed, 200);
    EXPECT_LT(keyed, 800);
}

TEST(Art, FontBitsAreClearForInkAndTheStoredTopRowComesLast) {
    std::vector<uint8_t> bitmap(FONT_SHEET_SIZE * FONT_SHEET_SIZE / 8, 0xFF);
    bitmap[bitmap.size() - 8] = 0x7F;  // top row, leftmost pixel clear
    bitmap[0] = 0xFE;  // bottom row, pixel 7 clear
    std::vector<uint8_t> sheet(FONT_SHEET_SIZE * FONT_SHEET_SIZE, 0);
    expandFontBitmap(bitmap.data(), sheet.data());
    int ink = 0;
    for (uint8_t e : sheet) ink += e == 255;
    EXPECT_EQ(ink, 2);
    EXPECT_EQ(sheet[0], 255);
    EXPECT_EQ(sheet[63 * FONT_SHEET_SIZE + 7], 255);
}

bool cellHasInk(int code) {
    int g = code - FIRST_GLYPH;
    for (int i = 0; i < 8; ++i)
        for (int j = 0; j < 8; ++j)
            if (fontSheet[(8 * (g / 8) + i) * FONT_SHEET_SIZE + 8 * (g % 8) + j]) return true;
    return false;
}

TEST(Art, TheFontHasAGlyphForEveryCodeButSpace) {
    memset(fontSheet, 0, sizeof fontSheet);
    expandFont();
    EXPECT_FALSE(cellHasInk(' '));
    for (int code = 33; code <= 95; ++code)
        EXPECT_TRUE(cellHasInk(code)) << static_cast<char>(code);
    // 'A' is cell 33: columns 8 to 15, rows 32 to 39; its top row has ink, the cell's last row not.
    bool topInk = false;
    for (int x = 8; x < 16; ++x) topInk |= fontSheet[32 * FONT_SHEET_SIZE + x] == 255;
    EXPECT_TRUE(topInk);
}

TEST(Art, TheScrollTextIsFramedBySpacesAndUsesOnlyTheFontsCodes) {
    std::string text = scrollText;
    ASSERT_GT(text.size(), 44u + 54 + 53);
    EXPECT_EQ(text.find_first_not_of(' '), 54u);
    EXPECT_EQ(text.size() - 1 - text.find_last_not_of(' '), 53u);
    for (char c : text) {
        EXPECT_GE(c, 32);
        EXPECT_LE(c, 95);
    }
}

}  // namespace
