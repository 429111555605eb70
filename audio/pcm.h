// Output conversion: the single-precision mix becomes the signed 16-bit PCM the device plays.
// Every sample is rounded to the nearest integer (ties to even) and saturated to 16 bits; the mix
// is neither scaled nor dithered, so loud peaks are cut flat.
//
//     convertToPcm16(outputBuffer + 2 * frame, mixBuffer + 2 * frame, blockFrames);
#pragma once

#include <cstdint>

// Converts `frameCount` stereo frames (left, right) from `source` into `destination`. Does nothing
// when the count is 0 or less or a pointer is null.
void convertToPcm16(int16_t* destination, const float* source, int32_t frameCount);
