#include "display/pixel_formats.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

namespace {

struct Expected {
    const char* name;
    PixelConverter converter;
    int bytesPerPixel;
    // The destination value of one pixel, written from the channel layout of its format.
    uint32_t (*value)(uint32_t red, uint32_t green, uint32_t blue, uint32_t top);
};

const Expected FORMATS[] = {
    {"copy32", convertCopy32, 4,
     [](uint32_t r, uint32_t g, uint32_t b, uint32_t t) { return t << 24 | r << 16 | g << 8 | b; }},
    {"swap32", convertSwap32, 4,
     [](uint32_t r, uint32_t g, uint32_t b, uint32_t) { return b << 16 | g << 8 | r; }},
    {"to24", convertTo24, 3,
     [](uint32_t r, uint32_t g, uint32_t b, uint32_t) { return r << 16 | g << 8 | b; }},
    {"swapTo24", convertSwapTo24, 3,
     [](uint32_t r, uint32_t g, uint32_t b, uint32_t) { return b << 16 | g << 8 | r; }},
    {"to565", convertTo565, 2,
     [](uint32_t r, uint32_t g, uint32_t b, uint32_t) {
         return (r / 8) << 11 | (g / 4) << 5 | b / 8;
     }},
    {"toBgr565", convertToBgr565, 2,
     [](uint32_t r, uint32_t g, uint32_t b, uint32_t) {
         return (b / 8) << 11 | (g / 4) << 5 | r / 8;
     }},
    {"to555", convertTo555, 2,
     [](uint32_t r, uint32_t g, uint32_t b, uint32_t) {
         return (r / 8) << 10 | (g / 8) << 5 | b / 8;
     }},
    {"toBgr555", convertToBgr555, 2,
     [](uint32_t r, uint32_t g, uint32_t b, uint32_t) {
         return (b / 8) << 10 | (g / 8) << 5 | r / 8;
     }},
};

std::vector<uint8_t> convertRow(PixelConverter converter, const std::vector<uint32_t>& row,
                                int bytesPerPixel, int guard) {
    std::vector<uint8_t> out(row.size() * bytesPerPixel + guard, 0xEE);
    converter(row.data(), out.data(), static_cast<int>(row.size()));
    return out;
}

uint32_t readLittleEndian(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

TEST(PixelFormats, OnePixelInEachFormat) {
    const std::vector<uint32_t> pixel = {0x00123456};
    const std::vector<std::vector<uint8_t>> bytes = {
        {0x56, 0x34, 0x12, 0x00},
        {0x12, 0x34, 0x56, 0x00},
        {0x56, 0x34, 0x12},
        {0x12, 0x34, 0x56},
        {0xAA, 0x11},
        {0xA2, 0x51},
        {0xCA, 0x08},
        {0xC2, 0x28},
    };
    for (int f = 0; f < 8; ++f) {
        std::vector<uint8_t> out =
            convertRow(FORMATS[f].converter, pixel, FORMATS[f].bytesPerPixel, 0);
        EXPECT_EQ(out, bytes[f]) << FORMATS[f].name;
    }
}

TEST(PixelFormats, WhiteFillsEveryChannelButThe555TopBit) {
    const std::vector<uint32_t> white(9, 0x00FFFFFF);
    for (PixelConverter c : {convertTo565, convertToBgr565, convertTo555, convertToBgr555}) {
        std::vector<uint8_t> out = convertRow(c, white, 2, 0);
        uint32_t expected = (c == convertTo565 || c == convertToBgr565) ? 0xFFFF : 0x7FFF;
        for (int i = 0; i < 9; ++i) EXPECT_EQ(readLittleEndian(&out[2 * i], 2), expected);
    }
}

// Every length from 0 to 40 and the 321 of an odd display row: the grouped part and the tail must
// both give the per-pixel result, and not one byte after the row may change.
TEST(PixelFormats, EveryPixelOfRowsOfAnyLength) {
    std::mt19937 random(12345);
    std::vector<int> lengths;
    for (int n = 0; n <= 40; ++n) lengths.push_back(n);
    lengths.push_back(321);
    for (const Expected& f : FORMATS) {
        for (int n : lengths) {
            std::vector<uint32_t> row(n);
            for (uint32_t& p : row) p = random();  // top byte set too: only copy32 keeps it
            std::vector<uint8_t> out = convertRow(f.converter, row, f.bytesPerPixel, 16);
            for (int i = 0; i < n; ++i) {
                uint32_t p = row[i];
                uint32_t expected = f.value(p >> 16 & 0xFF, p >> 8 & 0xFF, p & 0xFF, p >> 24);
                ASSERT_EQ(readLittleEndian(&out[i * f.bytesPerPixel], f.bytesPerPixel), expected)
                    << f.name << " length " << n << " pixel " << i;
            }
            for (int i = n * f.bytesPerPixel; i < static_cast<int>(out.size()); ++i)
                ASSERT_EQ(out[i], 0xEE) << f.name << " wrote past a row of " << n;
        }
    }
}

TEST(PixelFormats, SelectsTheConverterOfEachListedFormat) {
    EXPECT_EQ(selectConverter(32, 0xFF0000, 0xFF00, 0xFF), convertCopy32);
    EXPECT_EQ(selectConverter(32, 0xFF, 0xFF00, 0xFF0000), convertSwap32);
    EXPECT_EQ(selectConverter(24, 0xFF0000, 0xFF00, 0xFF), convertTo24);
    EXPECT_EQ(selectConverter(24, 0xFF, 0xFF00, 0xFF0000), convertSwapTo24);
    EXPECT_EQ(selectConverter(16, 0xF800, 0x7E0, 0x1F), convertTo565);
    EXPECT_EQ(selectConverter(16, 0x1F, 0x7E0, 0xF800), convertToBgr565);
    EXPECT_EQ(selectConverter(16, 0x7C00, 0x3E0, 0x1F), convertTo555);
    EXPECT_EQ(selectConverter(16, 0x1F, 0x3E0, 0x7C00), convertToBgr555);
}

TEST(PixelFormats, SelectsNothingForOtherFormats) {
    EXPECT_EQ(selectConverter(8, 0xE0, 0x1C, 0x3), nullptr);
    EXPECT_EQ(selectConverter(16, 0xF00, 0xF0, 0xF), nullptr);  // four bits a channel
    EXPECT_EQ(selectConverter(24, 0xF800, 0x7E0, 0x1F), nullptr);  // masks of another depth
    EXPECT_EQ(selectConverter(32, 0xFF0000, 0xFF, 0xFF00), nullptr);
    EXPECT_EQ(selectConverter(0, 0, 0, 0), nullptr);
}

}  // namespace
