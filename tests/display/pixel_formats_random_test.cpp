// The grouped (vector) parts of the converters against each format's per-pixel rule, on random
// rows of random lengths at random alignments: every pixel must match, and not one byte before or
// after the row may change.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "display/pixel_formats.h"

namespace {

struct Format {
    const char* name;
    PixelConverter converter;
    int bytesPerPixel;
    uint32_t (*pixel)(uint32_t p);  // the destination value, from the format's channel layout
};

uint32_t r8(uint32_t p) { return p >> 16 & 0xFF; }
uint32_t g8(uint32_t p) { return p >> 8 & 0xFF; }
uint32_t b8(uint32_t p) { return p & 0xFF; }

const Format FORMATS[] = {
    {"copy32", convertCopy32, 4, [](uint32_t p) { return p; }},
    {"swap32", convertSwap32, 4, [](uint32_t p) { return b8(p) << 16 | g8(p) << 8 | r8(p); }},
    {"to24", convertTo24, 3, [](uint32_t p) { return r8(p) << 16 | g8(p) << 8 | b8(p); }},
    {"swapTo24", convertSwapTo24, 3, [](uint32_t p) { return b8(p) << 16 | g8(p) << 8 | r8(p); }},
    {"to565", convertTo565, 2,
     [](uint32_t p) { return (r8(p) >> 3) << 11 | (g8(p) >> 2) << 5 | b8(p) >> 3; }},
    {"toBgr565", convertToBgr565, 2,
     [](uint32_t p) { return (b8(p) >> 3) << 11 | (g8(p) >> 2) << 5 | r8(p) >> 3; }},
    {"to555", convertTo555, 2,
     [](uint32_t p) { return (r8(p) >> 3) << 10 | (g8(p) >> 3) << 5 | b8(p) >> 3; }},
    {"toBgr555", convertToBgr555, 2,
     [](uint32_t p) { return (b8(p) >> 3) << 10 | (g8(p) >> 3) << 5 | r8(p) >> 3; }},
};

// Random pixels with a fair share of the extremes: black, white, the top byte set.
uint32_t randomPixel(std::mt19937& rng) {
    switch (rng() % 6) {
        case 0: return 0;
        case 1: return 0xFFFFFFFF;
        case 2: return 0x00FFFFFF;
        default: return rng();
    }
}

TEST(PixelFormatsRandom, RandomRowsMatchThePerPixelRuleAndStayInsideTheRow) {
    constexpr int GUARD = 64;
    constexpr uint8_t FILL = 0x5A;
    std::mt19937 rng(4242);
    for (const Format& f : FORMATS) {
        for (int trial = 0; trial < 400; ++trial) {
            int count = trial < 40 ? trial : static_cast<int>(rng() % 2000);
            int sourceOffset = static_cast<int>(rng() % 4);  // pixels: the source's alignment
            int destinationOffset = static_cast<int>(rng() % 16);  // bytes
            std::vector<uint32_t> source(sourceOffset + count);
            for (uint32_t& p : source) p = randomPixel(rng);
            size_t rowBytes = static_cast<size_t>(count) * f.bytesPerPixel;
            std::vector<uint8_t> destination(GUARD + destinationOffset + rowBytes + GUARD, FILL);
            uint8_t* row = destination.data() + GUARD + destinationOffset;
            f.converter(source.data() + sourceOffset, row, count);
            for (int i = 0; i < count; ++i) {
                uint32_t value = 0;
                for (int b = f.bytesPerPixel - 1; b >= 0; --b)
                    value = value << 8 | row[i * f.bytesPerPixel + b];
                ASSERT_EQ(value, f.pixel(source[sourceOffset + i]))
                    << f.name << ", " << count << " pixels, pixel " << i;
            }
            for (uint8_t* p = destination.data(); p < row; ++p)
                ASSERT_EQ(*p, FILL) << f.name << " wrote before a row of " << count;
            for (uint8_t* p = row + rowBytes; p < destination.data() + destination.size(); ++p)
                ASSERT_EQ(*p, FILL) << f.name << " wrote after a row of " << count;
        }
    }
}

}  // namespace
