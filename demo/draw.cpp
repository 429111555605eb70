#include "demo/draw.h"

#include <cstdlib>

uint32_t blendPixel(uint32_t destination, uint32_t source, float weight) {
    double w = weight;
    double keep = 1.0 - w;
    // Red takes everything above bit 16, as the pixels of this program have a zero top byte.
    uint32_t red = static_cast<uint32_t>(keep * (destination >> 16) + w * (source >> 16));
    uint32_t green =
        static_cast<uint32_t>(keep * (destination >> 8 & 0xFF) + w * (source >> 8 & 0xFF));
    uint32_t blue = static_cast<uint32_t>(keep * (destination & 0xFF) + w * (source & 0xFF));
    return red << 16 | green << 8 | blue;
}

void drawSprite(uint32_t* frame, const uint32_t* sprite, uint32_t x, uint32_t y, float weight) {
    for (uint32_t i = 0; i < SPRITE_SIZE; ++i) {
        for (uint32_t j = 0; j < SPRITE_SIZE; ++j) {
            uint32_t s = sprite[SPRITE_SIZE * i + j];
            if (s == COLOUR_KEY) continue;
            uint32_t& pixel = frame[(y + i) * FRAME_WIDTH + x + j];
            pixel = blendPixel(pixel, s, weight);
        }
    }
}

void drawGlyph(uint32_t* frame, int32_t character, uint32_t x, uint32_t y, float alpha) {
    uint8_t g = static_cast<uint8_t>(character - FIRST_GLYPH);
    if (g >= GLYPH_COUNT) return;  // the font has no cell for it
    const uint8_t* cell = fontSheet + GLYPH_SIZE * (g / 8) * FONT_SHEET_SIZE + GLYPH_SIZE * (g % 8);
    for (uint32_t i = 0; i < GLYPH_SIZE; ++i) {
        for (uint32_t j = 0; j < GLYPH_SIZE; ++j) {
            uint32_t e = cell[i * FONT_SHEET_SIZE + j];
            // Ink (255) blends toward pure red with alpha x 255/256; background keeps the pixel.
            float weight = static_cast<float>(e * 0.00390625 * alpha);
            uint32_t& pixel = frame[(y + i) * FRAME_WIDTH + x + j];
            pixel = blendPixel(pixel, e << 16, weight);
        }
    }
}

int saveRect(const uint32_t* frame, RestoreList* list, uint32_t x, uint32_t y, uint32_t width,
             uint32_t height) {
    SavedRect* rect = static_cast<SavedRect*>(calloc(1, sizeof(SavedRect)));
    uint32_t* pixels = static_cast<uint32_t*>(calloc(static_cast<size_t>(width) * height, 4));
    if (!rect || !pixels) {
        free(rect);
        free(pixels);
        return 0;
    }
    rect->x = x;
    rect->y = y;
    rect->width = width;
    rect->height = height;
    rect->pixels = pixels;
    for (uint32_t r = y; r < y + height; ++r)
        for (uint32_t c = x; c < x + width; ++c)
            rect->pixels[(r - y) * width + (c - x)] = frame[r * FRAME_WIDTH + c];

    rect->next = nullptr;
    if (list->cursor) {
        rect->next = list->cursor;
        if (list->cursor == list->head) list->head = rect;
        list->cursor = rect;
    } else {
        list->cursor = rect;
        list->head = rect;
    }
    return 1;
}

void restoreRects(uint32_t* frame, RestoreList* list) {
    list->cursor = list->head;
    SavedRect* newest = list->head;
    if (!newest) return;
    for (SavedRect* rect = list->cursor; rect; rect = rect->next) {
        for (uint32_t r = rect->y; r < rect->y + rect->height; ++r)
            for (uint32_t c = rect->x; c < rect->x + rect->width; ++c)
                frame[r * FRAME_WIDTH + c] =
                    rect->pixels[(r - rect->y) * rect->width + (c - rect->x)];
    }
    for (SavedRect* rect = newest; rect;) {
        SavedRect* next = rect->next;
        free(rect->pixels);
        free(rect);
        rect = next;
    }
    list->head = nullptr;
    list->cursor = nullptr;
}
