// Modules holding several songs, for the subsong tests: one 16-row pattern per order position at
// speed 3 (16 x 3 ticks of 882 frames at 44100 Hz, PATTERN_FRAMES), each with a note of its own
// at row 0, and where `jumps[k]` >= 0 a position jump on order k's last row to that order.
//
//     subsongXm({-1, 0, 2}): orders 0-1 loop on themselves, order 2 on itself: two songs
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

constexpr int SUBSONG_ROWS = 16;
constexpr int64_t PATTERN_FRAMES = SUBSONG_ROWS * 3 * 882;

std::vector<uint8_t> subsongXm(const std::vector<int>& jumps);
// The same as a 4-channel MOD: 64-row patterns that break to the next order at row 15.
std::vector<uint8_t> subsongMod(const std::vector<int>& jumps);
// The same as a 4-channel S3M, whose order list holds the markers (order position, ORDER_SKIP or
// ORDER_END) in place of those positions' patterns.
std::vector<uint8_t> subsongS3m(const std::vector<int>& jumps,
                                const std::vector<std::pair<int, uint16_t>>& markers);
