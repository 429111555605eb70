#include "demo/scene.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "display/display.h"

namespace {

constexpr uint32_t BOTTOM_ROW_Y = 191;
constexpr uint32_t COLUMN_X = 248;
// The fade is a single-precision running value; these are its single-precision steps.
constexpr float FADE_STEP = 0.1f;
constexpr float COLUMN_FADE_STEP = 0.2f;
constexpr float FULL_ALPHA = 0.8f;
constexpr float BOTTOM_FINE_FADE = 0.012f;
constexpr float COLUMN_FINE_FADE = 0.025f;
constexpr float SPRITE_PHASE = 0.3f;
constexpr float SPRITE_WEIGHT = 0.5f;
constexpr float TIME_STEP = 0.01f;

uint32_t* allocatePixels(int count) {
    return static_cast<uint32_t*>(calloc(static_cast<size_t>(count), sizeof(uint32_t)));
}

int glyphAt(const Scene* scene, int32_t index) {
    return static_cast<unsigned char>(scene->scrollText[index]);
}

// The drawing steps return false when memory for a saved rectangle is short; they stop there.

// Fades in the text's left end by slot and by pixel: 0.1 more per slot up to the full 0.8.
bool drawBottomRow(Scene* scene, uint32_t* frame, RestoreList* list) {
    scene->fadeLevel = 0.0f;
    for (int32_t s = 0; s < BOTTOM_SLOTS; ++s) {
        uint32_t x = static_cast<uint32_t>(scene->scrollFine + 8 * s + 1);
        if (!saveRect(frame, list, x, BOTTOM_ROW_Y, GLYPH_SIZE, GLYPH_SIZE)) return false;
        float alpha =
            scene->fadeLevel < FULL_ALPHA
                ? static_cast<float>(static_cast<double>(scene->fadeLevel) +
                                     static_cast<double>(BOTTOM_FINE_FADE) * scene->scrollFine)
                : FULL_ALPHA;
        drawGlyph(frame, glyphAt(scene, scene->scrollIndex + s), x, BOTTOM_ROW_Y, alpha);
        if (scene->fadeLevel < FULL_ALPHA) scene->fadeLevel += FADE_STEP;
    }
    return true;
}

// Bottom slot first, top slot last; the top three characters fade in as they come down.
bool drawColumn(Scene* scene, uint32_t* frame, RestoreList* list) {
    for (int32_t s = COLUMN_SLOTS; s >= 1; --s) {
        uint32_t y = static_cast<uint32_t>(8 * s - scene->scrollFine + 95);
        if (!saveRect(frame, list, COLUMN_X, y, GLYPH_SIZE, GLYPH_SIZE)) return false;
        float alpha =
            scene->fadeLevel < FULL_ALPHA
                ? static_cast<float>(static_cast<double>(scene->fadeLevel) -
                                     static_cast<double>(COLUMN_FINE_FADE) * scene->scrollFine)
                : FULL_ALPHA;
        drawGlyph(frame, glyphAt(scene, scene->scrollIndex + SCROLL_WINDOW - s), COLUMN_X, y,
                  alpha);
        if (s <= 4) scene->fadeLevel -= COLUMN_FADE_STEP;
    }
    return true;
}

void advanceScroller(Scene* scene) {
    scene->scrollFine = (scene->scrollFine - 1) & 7;
    if (scene->scrollFine != 7) return;
    scene->scrollIndex++;
    // Back to the start once the window's end reaches the terminating zero.
    if (scene->scrollText[scene->scrollIndex + SCROLL_WINDOW] == '\0') scene->scrollIndex = 0;
}

bool drawSprites(Scene* scene, uint32_t* frame, RestoreList* list) {
    double time = scene->frameTime;
    for (int i = 0; i < SPRITE_COUNT; ++i) {
        // Sines in double precision from the single-precision time; Y's phase is rounded to
        // single precision before it joins the sum.
        double phaseX = static_cast<double>(SPRITE_PHASE) * i;
        float phaseY = SPRITE_PHASE * static_cast<float>(i);
        scene->spriteX[i] =
            static_cast<uint16_t>(static_cast<int32_t>(90.0 * sin(5.0 * time + phaseX) + 100.0));
        scene->spriteY[i] = static_cast<uint16_t>(
            static_cast<int32_t>(50.0 * sin(2.0 * time + static_cast<double>(phaseY)) + 90.0));
        if (!saveRect(frame, list, scene->spriteX[i], scene->spriteY[i], SPRITE_SIZE, SPRITE_SIZE))
            return false;
        drawSprite(frame, scene->spritePixels, scene->spriteX[i], scene->spriteY[i], SPRITE_WEIGHT);
    }
    return true;
}

}  // namespace

int sceneStart(Scene* scene, const char* text) {
    scene->drawIndex = 0;
    scene->restoreLists[0] = {};
    scene->restoreLists[1] = {};
    memset(fontSheet, 0, sizeof fontSheet);
    scene->frameBuffers[0] = allocatePixels(FRAME_WIDTH * FRAME_HEIGHT);
    scene->frameBuffers[1] = allocatePixels(FRAME_WIDTH * FRAME_HEIGHT);
    scene->spritePixels = allocatePixels(SPRITE_SIZE * SPRITE_SIZE);
    if (!scene->frameBuffers[0] || !scene->frameBuffers[1] || !scene->spritePixels) {
        sceneFinish(scene);
        return 0;
    }
    decodeBackground(scene->frameBuffers[0]);
    decodeBackground(scene->frameBuffers[1]);
    decodeSprite(scene->spritePixels);
    expandFont();
    scene->scrollText = text;
    scene->scrollFine = 7;
    scene->scrollIndex = 0;
    scene->fadeLevel = 0.0f;
    scene->frameTime = 0.0f;
    return 1;
}

void sceneFinish(Scene* scene) {
    for (int k = 0; k < 2; ++k) {
        if (scene->frameBuffers[k]) restoreRects(scene->frameBuffers[k], &scene->restoreLists[k]);
    }
    free(scene->frameBuffers[0]);
    free(scene->frameBuffers[1]);
    free(scene->spritePixels);
    scene->frameBuffers[0] = scene->frameBuffers[1] = scene->spritePixels = nullptr;
}

int sceneStep(Scene* scene) {
    uint8_t shown = scene->drawIndex;
    restoreRects(scene->frameBuffers[shown], &scene->restoreLists[shown]);
    scene->drawIndex = shown ^ 1;
    uint32_t* frame = scene->frameBuffers[scene->drawIndex];
    RestoreList* list = &scene->restoreLists[scene->drawIndex];

    if (!drawBottomRow(scene, frame, list) || !drawColumn(scene, frame, list)) return 0;
    advanceScroller(scene);
    if (!drawSprites(scene, frame, list)) return 0;
    scene->frameTime += TIME_STEP;
    return 1;
}

int scenePass(Scene* scene) {
    displayPresent(scene->frameBuffers[scene->drawIndex]);
    return sceneStep(scene);
}
