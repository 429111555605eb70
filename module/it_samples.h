// Impulse Tracker's compressed sample data (the 2.14 form, and 2.15's with a second delta): blocks
// of a 16-bit byte count and a bit stream that codes each frame's difference from the last in a
// width that the stream itself changes. A block holds 32 KiB of decoded data (32768 8-bit or 16384
// 16-bit frames); the last holds what is left.
//
//     size_t used = 0;
//     uint32_t got = decompressItSample(bytes, size, frames, length, 16, false, &used);
#pragma once

#include <cstddef>
#include <cstdint>

// Decodes up to `frameCount` frames of `bits` (8 or 16) from `size` bytes at `bytes` into `out`,
// 8-bit frames scaled to 16 bits. Returns the frames decoded: fewer when the data ends early or
// holds a width no encoder writes (the frames after stay as they are). *consumed gets the bytes the
// blocks took.
uint32_t decompressItSample(const uint8_t* bytes, size_t size, int16_t* out, uint32_t frameCount,
                            int bits, bool doubleDelta, size_t* consumed);

// The frames one block decodes.
constexpr uint32_t itBlockFrames(int bits) { return bits == 8 ? 0x8000 : 0x4000; }
