// Drawing into a frame buffer (320 x 200 pixels of 0x00RRGGBB, rows top to bottom) and the
// restore list that takes it back to the background afterwards. Before drawing an item, save the
// rectangle it will cover; once the frame has been shown, replay the list:
//
//     if (!saveRect(frame, &list, x, y, 32, 32)) ...;    // memory is short
//     drawSprite(frame, spritePixels, x, y, 0.5f);
//     ... present frame ...
//     restoreRects(frame, &list);        // the background is back, the list is empty
//
// Nothing here clips or checks bounds: callers keep their rectangles inside the frame.
#pragma once

#include <cstdint>

#include "demo/art.h"

// One saved rectangle: its place and size, and the pixels that were there.
struct SavedRect {
    uint32_t x;
    uint32_t y;
    uint32_t width;
    uint32_t height;
    uint32_t* pixels;  // width x height, row by row; owned by the record
    SavedRect* next;  // the next older entry, or null
};

// Saved rectangles, newest first. Both links are null when the list is empty.
struct RestoreList {
    SavedRect* cursor;  // where the next entry is linked in; the replay's walking position
    SavedRect* head;  // the newest entry
};

// (1 - weight) x destination + weight x source per channel, truncated.
uint32_t blendPixel(uint32_t destination, uint32_t source, float weight);
// Blends a 32 x 32 picture in with its top-left corner at (x, y), skipping COLOUR_KEY pixels.
void drawSprite(uint32_t* frame, const uint32_t* sprite, uint32_t x, uint32_t y, float weight);
// Blends the 8 x 8 glyph of `character` (low 8 bits; codes 32 to 95) in red at (x, y). Other
// codes draw nothing.
void drawGlyph(uint32_t* frame, int32_t character, uint32_t x, uint32_t y, float alpha);
// Saves the rectangle into the list: 1, or 0 when memory is short (nothing is saved then, and what
// was to cover the rectangle must not be drawn).
int saveRect(const uint32_t* frame, RestoreList* list, uint32_t x, uint32_t y, uint32_t width,
             uint32_t height);
// Writes the saved rectangles back, newest first, so the oldest copy of a pixel wins; then frees
// them and leaves the list empty.
void restoreRects(uint32_t* frame, RestoreList* list);
