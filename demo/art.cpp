#include "demo/art.h"

uint8_t fontSheet[FONT_SHEET_SIZE * FONT_SHEET_SIZE];

void decodePicture(const uint8_t* stored, int width, int height, uint32_t* target) {
    for (int y = 0; y < height; ++y) {
        // Stored rows run bottom-up; the flip happens here once, so drawing works top-down.
        const uint8_t* row = stored + static_cast<int64_t>(height - 1 - y) * 3 * width;
        for (int x = 0; x < width; ++x) {
            uint32_t blue = row[3 * x], green = row[3 * x + 1], red = row[3 * x + 2];
            target[y * width + x] = red << 16 | green << 8 | blue;
        }
    }
}

void expandFontBitmap(const uint8_t* bitmap, uint8_t* sheet) {
    constexpr int rowBytes = FONT_SHEET_SIZE / 8;
    for (int y = 0; y < FONT_SHEET_SIZE; ++y) {
        for (int j = 0; j < rowBytes; ++j) {
            uint8_t stored = bitmap[(FONT_SHEET_SIZE - 1 - y) * rowBytes + j];
            for (int n = 7; n >= 0; --n) {
                if (!(stored >> n & 1)) sheet[y * FONT_SHEET_SIZE + 8 * j + (7 - n)] = 255;
            }
        }
    }
}

void decodeBackground(uint32_t* frame) {
    decodePicture(backgroundImage, FRAME_WIDTH, FRAME_HEIGHT, frame);
}

void decodeSprite(uint32_t* sprite) {
    decodePicture(spriteImage, SPRITE_SIZE, SPRITE_SIZE, sprite);
}

void expandFont() { expandFontBitmap(fontBitmap, fontSheet); }
