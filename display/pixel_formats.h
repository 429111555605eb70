// Pixel-format converters: turn one row of 0x00RRGGBB frame-buffer pixels into the display's
// format. The display is opened once, reports its bit depth and channel masks, and
// selectConverter picks the matching converter; presenting a frame then calls it once per row.
//
//     PixelConverter convert = selectConverter(16, 0xF800, 0x7E0, 0x1F);   // convertTo565
//     if (convert) convert(frameRow, displayRow, 320);
//
// A converter writes exactly `count` packed destination pixels (little-endian) and nothing more.
// Channels are narrowed by dropping their low bits: no rounding, no dithering. Every converter
// except convertCopy32 ignores the source's top byte.
#pragma once

#include <cstdint>

using PixelConverter = void (*)(const uint32_t* source, uint8_t* destination, int count);

void convertCopy32(const uint32_t* source, uint8_t* destination, int count);  // 0x00RRGGBB as is
void convertSwap32(const uint32_t* source, uint8_t* destination, int count);  // 0x00BBGGRR
void convertTo24(const uint32_t* source, uint8_t* destination, int count);  // bytes B, G, R
void convertSwapTo24(const uint32_t* source, uint8_t* destination, int count);  // bytes R, G, B
void convertTo565(const uint32_t* source, uint8_t* destination, int count);  // RRRRRGGGGGGBBBBB
void convertToBgr565(const uint32_t* source, uint8_t* destination, int count);  // BBBBBGGGGGGRRRRR
void convertTo555(const uint32_t* source, uint8_t* destination, int count);  // 0RRRRRGGGGGBBBBB
void convertToBgr555(const uint32_t* source, uint8_t* destination, int count);  // 0BBBBBGGGGGRRRRR

// The converter whose bit count and red, green and blue masks all equal the arguments, or null
// when the display's format is not one of the eight.
PixelConverter selectConverter(uint32_t bitCount, uint32_t redMask, uint32_t greenMask,
                               uint32_t blueMask);
