// Brom's background picture, painted by code: a sunset sky with stars, a striped sun going down
// behind two mountain ridges, a glowing grid floor, and the name in chrome letters on top.
#pragma once

#include <cstdint>

constexpr int PICTURE_WIDTH = 320;
constexpr int PICTURE_HEIGHT = 200;

struct Rgb {
    uint8_t red, green, blue;
};

// Whether the font's glyph for `code` has ink at column x, row y (0 to 7, top row 0).
using GlyphInk = bool (*)(int code, int x, int y);

// Paints the picture, rows top to bottom, PICTURE_WIDTH pixels a row.
void paintBackground(Rgb* picture, GlyphInk glyphInk);
