// The demo scene: two frame buffers that take turns, a scroll text that runs down a column on
// the right and leftwards along the bottom, and sixteen half-transparent sprites on sine paths
// over the background. The animation advances one step per pass, whatever the clock says.
//
//     Scene scene = {};
//     if (!sceneStart(&scene, scrollText)) ...; // buffers, art and font, animation at its start
//     while (!displayQuitRequested())           // present the last frame, draw the next
//         if (!scenePass(&scene)) ...;          // memory is short
//     sceneFinish(&scene);                      // releases the buffers and saved rectangles
//
// A pass presents the buffer drawn in the pass before, restores that buffer's background, and
// draws the next frame into the other buffer. The first frame presented is the bare background.
#pragma once

#include <cstdint>

#include "demo/draw.h"

constexpr int SPRITE_COUNT = 16;
constexpr int BOTTOM_SLOTS = 31;  // glyph cells along the bottom row
constexpr int COLUMN_SLOTS = 12;  // glyph cells up the right column
constexpr int SCROLL_WINDOW = BOTTOM_SLOTS + COLUMN_SLOTS;  // characters on screen at once

struct Scene {
    uint32_t* frameBuffers[2];  // FRAME_WIDTH x FRAME_HEIGHT each
    RestoreList restoreLists[2];  // list k records what was drawn into buffer k
    uint8_t drawIndex;  // at the top of a pass: the buffer to present
    uint32_t* spritePixels;  // SPRITE_SIZE x SPRITE_SIZE
    const char* scrollText;  // zero-terminated, at least SCROLL_WINDOW + 1 characters

    int32_t scrollFine;  // 7 down to 0: pixel offset within one character step
    int32_t scrollIndex;  // the text's first character on screen
    float fadeLevel;  // the running fade of the text's ends, reset each frame

    float frameTime;  // drives the sprite paths: 0.01 more per pass
    uint16_t spriteX[SPRITE_COUNT];
    uint16_t spriteY[SPRITE_COUNT];
};

// Allocates the buffers, decodes the art into them, expands the font into fontSheet and sets the
// animation to its start. `text` is the scroll text; it must outlive the scene. 0 when memory is
// short, with nothing left allocated.
int sceneStart(Scene* scene, const char* text);
// Releases the buffers and the saved rectangles (none is fine).
void sceneFinish(Scene* scene);
// Presents the buffer drawn last, then draws the next frame. 0 when memory for the next frame's
// restore list is short: the frame is left part drawn, everything drawn in it saved first.
int scenePass(Scene* scene);
// A pass without the presentation: restores the buffer just shown, switches buffers, draws the
// scroller and the sprites into the other one and advances the animation. 0 as scenePass.
int sceneStep(Scene* scene);
