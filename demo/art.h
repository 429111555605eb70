// The demo's art: the background picture, the sprite, the 8 x 8 font and the scroll text, all
// compiled into the program in their stored forms, and the decoders that turn them into the forms
// the drawing uses. The stored forms are made at build time from the readable sources in assets/.
//
//     decodeBackground(frame);     // 320 x 200 pixels, 0x00RRGGBB, rows top to bottom
//     decodeSprite(spritePixels);  // 32 x 32 pixels, magenta (COLOUR_KEY) where it is see-through
//     expandFont();                // fills fontSheet (expects it all zero)
//
// Stored pictures are rows of blue-green-red byte triples, bottom row first. The stored font is a
// 64 x 64 one-bit picture, 8 bytes a row with the leftmost pixel in the top bit, bottom row first,
// 0 for ink; its 8 x 8 cells hold the codes 32 to 95, eight to a row.
#pragma once

#include <cstdint>

constexpr int FRAME_WIDTH = 320;
constexpr int FRAME_HEIGHT = 200;
constexpr int SPRITE_SIZE = 32;
constexpr int FONT_SHEET_SIZE = 64;  // pixels on each side of the font picture
constexpr int GLYPH_SIZE = 8;
constexpr int FIRST_GLYPH = 32;  // the code of the font's first cell
constexpr int GLYPH_COUNT = 64;

constexpr uint32_t COLOUR_KEY = 0xFF00FF;  // sprite pixels of this value are never drawn

extern const uint8_t backgroundImage[FRAME_WIDTH * FRAME_HEIGHT * 3];
extern const uint8_t spriteImage[SPRITE_SIZE * SPRITE_SIZE * 3];
extern const uint8_t fontBitmap[FONT_SHEET_SIZE * FONT_SHEET_SIZE / 8];
// Zero-terminated; framed by spaces so that it enters and leaves an empty screen.
extern const char scrollText[];

// The upright font, one byte a pixel: 255 for ink, 0 for background; rows top to bottom.
extern uint8_t fontSheet[FONT_SHEET_SIZE * FONT_SHEET_SIZE];

void decodeBackground(uint32_t* frame);
void decodeSprite(uint32_t* sprite);
void expandFont();

// The decoders behind those three, for any stored picture or font bitmap.
void decodePicture(const uint8_t* stored, int width, int height, uint32_t* target);
void expandFontBitmap(const uint8_t* bitmap, uint8_t* sheet);
