#include "audio/pcm.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

std::vector<int16_t> convert(const std::vector<float>& samples) {
    std::vector<int16_t> out(samples.size(), 12345);
    convertToPcm16(out.data(), samples.data(), static_cast<int32_t>(samples.size() / 2));
    return out;
}

TEST(ConvertToPcm16, RoundsToNearestWithTiesToEven) {
    EXPECT_EQ(convert({1.5f, 2.5f, -1.5f, -0.4f, 0.5f, -2.5f, 3.49f, -3.51f}),
              (std::vector<int16_t>{2, 2, -2, 0, 0, -2, 3, -4}));
}

TEST(ConvertToPcm16, SaturatesAtTheSixteenBitRange) {
    EXPECT_EQ(
        convert({32767.4f, 32767.6f, 40000.0f, 1e30f, -32768.4f, -32768.6f, -50000.0f, -1e30f}),
        (std::vector<int16_t>{32767, 32767, 32767, 32767, -32768, -32768, -32768, -32768}));
    // Just inside: ties at the edge go to the even neighbour, which is still in range.
    EXPECT_EQ(convert({32766.5f, -32767.5f}), (std::vector<int16_t>{32766, -32768}));
}

TEST(ConvertToPcm16, KeepsLeftAndRightInMemoryOrder) {
    EXPECT_EQ(convert({100.0f, -100.0f, 7.0f, 8.0f}), (std::vector<int16_t>{100, -100, 7, 8}));
}

TEST(ConvertToPcm16, WritesNothingForNoFramesOrNullPointers) {
    std::vector<float> source{1.0f, 2.0f};
    std::vector<int16_t> out{11, 22};
    convertToPcm16(out.data(), source.data(), 0);
    convertToPcm16(out.data(), source.data(), -3);
    convertToPcm16(out.data(), nullptr, 1);
    convertToPcm16(nullptr, source.data(), 1);
    EXPECT_EQ(out, (std::vector<int16_t>{11, 22}));
}

}  // namespace
