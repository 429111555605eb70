#include "demo/scene.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "display/display.h"
#include "display/display_memory.h"

namespace {

// Every calloc of the program comes here (demo_tests links with --wrap=calloc): at n >= 0, n more
// succeed and the next one fails.
int callocsBeforeFailure = -1;

}  // namespace

extern "C" void* __real_calloc(size_t count, size_t size);
extern "C" void* __wrap_calloc(size_t count, size_t size) {
    if (callocsBeforeFailure == 0) {
        callocsBeforeFailure = -1;
        return nullptr;
    }
    if (callocsBeforeFailure > 0) --callocsBeforeFailure;
    return __real_calloc(count, size);
}

namespace {

uint32_t rgb(uint32_t r, uint32_t g, uint32_t b) { return r << 16 | g << 8 | b; }

// A scene presenting to the in-memory display at 32 bits per pixel (so shown bytes are the frame's
// pixels as they are).
class SceneTest : public ::testing::Test {
  protected:
    Scene scene = {};
    std::string text;

    void SetUp() override {
        MemoryDisplayConfig config = memoryDisplayDefaults();
        config.keepFrames = 2;
        memoryDisplayConfigure(config);
        displayUseBackend(&memoryDisplayBackend);
        ASSERT_EQ(displayOpen("test", FRAME_WIDTH, FRAME_HEIGHT), 1);
        memoryDisplayPushEvent({DISPLAY_EVENT_ACTIVATE, 1});
    }

    void TearDown() override {
        displayClose();
        sceneFinish(&scene);
    }

    // Starts the scene with `message`, one colour for the whole background and a font in which
    // only the listed codes have ink, as solid cells.
    void start(std::string message, uint32_t background, std::vector<int> inkedCodes) {
        text = std::move(message);
        ASSERT_EQ(sceneStart(&scene, text.c_str()), 1);
        for (int k = 0; k < 2; ++k)
            for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i)
                scene.frameBuffers[k][i] = background;
        memset(fontSheet, 0, sizeof fontSheet);
        for (int code : inkedCodes) {
            int g = code - FIRST_GLYPH;
            for (int i = 0; i < 8; ++i)
                memset(&fontSheet[(8 * (g / 8) + i) * FONT_SHEET_SIZE + 8 * (g % 8)], 255, 8);
        }
    }

    // The pixel at (x, y) of the last frame the display showed.
    static uint32_t shownPixel(int x, int y) {
        const std::vector<uint8_t>& bytes = memoryDisplayRecord().frames.back();
        const uint8_t* p = &bytes[y * memoryDisplayRecord().pitch + 4 * x];
        return static_cast<uint32_t>(p[0] | p[1] << 8 | p[2] << 16 | p[3] << 24);
    }
    // The glyph cell at (x, y) is judged by a pixel inside it, clear of its neighbours.
    static uint32_t cellColour(int x, int y) { return shownPixel(x + 3, y + 3); }
};

TEST_F(SceneTest, TheFirstFrameShownIsTheBareBackground) {
    ASSERT_EQ(sceneStart(&scene, scrollText), 1);
    std::vector<uint32_t> background(FRAME_WIDTH * FRAME_HEIGHT);
    decodeBackground(background.data());
    scenePass(&scene);
    ASSERT_EQ(memoryDisplayRecord().flipCount, 1u);
    for (int y = 0; y < FRAME_HEIGHT; ++y)
        for (int x = 0; x < FRAME_WIDTH; ++x)
            ASSERT_EQ(shownPixel(x, y), background[y * FRAME_WIDTH + x]);
}

// Solid glyphs over grey 128: each cell's red shows its alpha (see the blend's worked examples).
TEST_F(SceneTest, TextFadesByCellAndByPixelOnTheFirstTwoFrames) {
    start(std::string(100, 'X'), rgb(128, 128, 128), {'X'});
    scenePass(&scene);
    scenePass(&scene);  // shows the frame drawn in the first pass: fine offset 7
    EXPECT_EQ(cellColour(8, 191), rgb(138, 117, 117));  // bottom slot 0: alpha 0.084
    EXPECT_EQ(cellColour(64, 191), rgb(227, 28, 28));  // slot 7: 0.7 + 0.084
    EXPECT_EQ(cellColour(72, 191), rgb(229, 26, 26));  // slot 8 onwards: 0.8
    EXPECT_EQ(cellColour(248, 191), rgb(229, 26, 26));  // slot 30
    EXPECT_EQ(cellColour(248, 184), rgb(229, 26, 26));  // lowest column slot
    EXPECT_EQ(cellColour(248, 120), rgb(229, 26, 26));  // column slot 4
    EXPECT_EQ(cellColour(248, 112), rgb(181, 73, 73));  // slot 3: 0.6 - 0.175
    EXPECT_EQ(cellColour(248, 104), rgb(156, 99, 99));  // slot 2: 0.4 - 0.175
    EXPECT_EQ(cellColour(248, 96), rgb(131, 124, 124));  // top slot: 0.2 - 0.175
    scenePass(&scene);  // fine offset 6: everything one pixel on
    EXPECT_EQ(cellColour(7, 191), rgb(137, 118, 118));  // bottom slot 0: alpha 0.072
    EXPECT_EQ(cellColour(248, 97), rgb(134, 121, 121));  // top slot: 0.2 - 0.15
}

// One inked character in a text of spaces: find it in each shown frame and follow it.
TEST_F(SceneTest, ACharacterComesDownTheColumnTurnsAndLeavesAlongTheBottom) {
    std::string message(120, ' ');
    message[50] = 'A';
    start(message, 0, {'A'});
    std::vector<std::pair<int, int>> path;  // top-left of the lit cell, per shown frame
    for (int pass = 0; pass < 8 * 60; ++pass) {
        scenePass(&scene);
        int left = FRAME_WIDTH, top = FRAME_HEIGHT;
        for (int y = 96; y < FRAME_HEIGHT; ++y) {
            for (int x = 0; x < FRAME_WIDTH; ++x) {
                bool scroller = y >= 191 || (x >= 248 && x < 256);
                if (scroller && shownPixel(x, y) != 0)
                    left = std::min(left, x), top = std::min(top, y);
            }
        }
        if (left < FRAME_WIDTH) path.emplace_back(left, top);
    }
    ASSERT_FALSE(path.empty());
    EXPECT_EQ(path.front(), std::make_pair(248, 96));  // enters at the top of the column
    size_t i = 1;
    for (; i < path.size() && path[i].second > path[i - 1].second; ++i)
        ASSERT_EQ(path[i], std::make_pair(248, path[i - 1].second + 1)) << "down one pixel a frame";
    ASSERT_EQ(path[i - 1], std::make_pair(248, 191));
    ASSERT_EQ(path[i], std::make_pair(248, 191)) << "turns the corner in place";
    for (++i; i < path.size(); ++i)
        ASSERT_EQ(path[i], std::make_pair(path[i - 1].first - 1, 191)) << "left one pixel a frame";
    EXPECT_EQ(path.back(), std::make_pair(2, 191));  // at fine offset 0 slot 0 has alpha 0
    EXPECT_EQ(path.size(), 96u + 248u - 1u);
}

// With a text of N characters the window's start runs 0 ... N - 44 and then starts again at 0.
TEST_F(SceneTest, TheScrollerWrapsBeforeTheTextsEnd) {
    const int n = 50;
    std::string message(n, ' ');
    message[n - 2] = 'A';  // the last character ever shown
    start(message, 0, {'A'});
    int largest = 0;
    bool shownAtTheTop = false;
    for (int pass = 1; pass <= 8 * (n - 43); ++pass) {
        scenePass(&scene);
        if (pass == 8) {
            EXPECT_EQ(scene.scrollFine, 7);
            EXPECT_EQ(scene.scrollIndex, 1);
        }
        largest = std::max(largest, static_cast<int>(scene.scrollIndex));
        shownAtTheTop |=
            cellColour(248, 103 - scene.scrollFine) != 0 && scene.scrollIndex == n - 44;
    }
    EXPECT_EQ(largest, n - 44);
    EXPECT_EQ(scene.scrollIndex, 0);
    EXPECT_EQ(scene.scrollFine, 7);
    EXPECT_TRUE(shownAtTheTop);
}

TEST_F(SceneTest, SpritesFollowTheirSinePaths) {
    start(std::string(100, ' '), 0, {});
    sceneStep(&scene);  // frame time 0
    EXPECT_EQ(scene.spriteX[0], 100);
    EXPECT_EQ(scene.spriteY[0], 90);
    EXPECT_EQ(scene.spriteX[1], 126);  // 90 sin 0.3 + 100 = 126.6
    EXPECT_EQ(scene.spriteY[1], 104);  // 50 sin 0.3 + 90 = 104.8
    EXPECT_EQ(scene.spriteX[15], 12);  // 90 sin 4.5 + 100 = 12.02
    EXPECT_EQ(scene.spriteY[15], 41);  // 50 sin 4.5 + 90 = 41.1
    sceneStep(&scene);  // frame time 0.01
    EXPECT_EQ(scene.spriteX[0], 104);  // 90 sin 0.05 + 100 = 104.5
    EXPECT_EQ(scene.spriteY[0], 90);  // 50 sin 0.02 + 90 = 90.9999
    EXPECT_EQ(scene.frameTime, 0.02f);
    for (int pass = 0; pass < 3000; ++pass) {
        sceneStep(&scene);
        for (int i = 0; i < SPRITE_COUNT; ++i) {
            ASSERT_GE(scene.spriteX[i], 10);
            ASSERT_LE(scene.spriteX[i], 190);
            ASSERT_GE(scene.spriteY[i], 40);
            ASSERT_LE(scene.spriteY[i], 140);
        }
    }
}

// Over many frames with the real sprite, font and text on black: every shown frame is black
// except under that frame's sprites and glyph cells, so nothing is left behind.
TEST_F(SceneTest, NothingIsLeftBehindFrameAfterFrame) {
    start(scrollText, 0, {});
    memset(fontSheet, 0, sizeof fontSheet);
    expandFont();
    uint16_t drawnX[SPRITE_COUNT] = {}, drawnY[SPRITE_COUNT] = {};
    for (int pass = 0; pass < 700; ++pass) {
        scenePass(&scene);
        if (pass > 0) {
            for (int y = 0; y < FRAME_HEIGHT; ++y) {
                for (int x = 0; x < FRAME_WIDTH; ++x) {
                    bool drawn = y >= 191 || (x >= 248 && x < 256 && y >= 96);
                    for (int i = 0; i < SPRITE_COUNT && !drawn; ++i)
                        drawn = x >= drawnX[i] && x < drawnX[i] + 32 && y >= drawnY[i] &&
                                y < drawnY[i] + 32;
                    if (!drawn) {
                        ASSERT_EQ(shownPixel(x, y), 0u)
                            << "pass " << pass << " at " << x << "," << y;
                    }
                }
            }
        }
        memcpy(drawnX, scene.spriteX, sizeof drawnX);
        memcpy(drawnY, scene.spriteY, sizeof drawnY);
    }
    // And the sprites were there: sprite 15 is drawn last, so its centre shows it.
    EXPECT_NE(shownPixel(drawnX[15] + 16, drawnY[15] + 16), 0u);
}

TEST_F(SceneTest, TheAnimationGoesOnWhileNothingIsShown) {
    start(std::string(100, ' '), 0, {});
    memoryDisplayPushEvent({DISPLAY_EVENT_ACTIVATE, 0});
    for (int pass = 0; pass < 16; ++pass) scenePass(&scene);
    EXPECT_EQ(memoryDisplayRecord().flipCount, 0u);
    EXPECT_EQ(scene.scrollIndex, 2);
    EXPECT_NEAR(scene.frameTime, 0.16f, 1e-5);
}

// Memory short at any of the scene's allocations. The start fails with nothing left allocated. A
// pass stops before drawing what it could not save, so that replaying the restore lists brings
// both buffers back to the background.
TEST_F(SceneTest, ShortMemoryEndsAStartOrAPassCleanly) {
    for (int failing = 0; failing < 3; ++failing) {
        callocsBeforeFailure = failing;
        EXPECT_EQ(sceneStart(&scene, scrollText), 0) << failing;
        EXPECT_EQ(callocsBeforeFailure, -1) << failing;
        EXPECT_EQ(scene.frameBuffers[0], nullptr);
        EXPECT_EQ(scene.frameBuffers[1], nullptr);
        EXPECT_EQ(scene.spritePixels, nullptr);
    }
    std::vector<uint32_t> background(FRAME_WIDTH * FRAME_HEIGHT);
    decodeBackground(background.data());
    // 59 rectangles a pass, two allocations each: the first, in the column, the very last.
    for (int failing : {0, 1, 2 * 31 + 5, 2 * 59 - 1}) {
        sceneFinish(&scene);
        ASSERT_EQ(sceneStart(&scene, scrollText), 1);
        for (int pass = 0; pass < 3; ++pass) ASSERT_EQ(scenePass(&scene), 1);
        callocsBeforeFailure = failing;
        EXPECT_EQ(scenePass(&scene), 0) << failing;
        EXPECT_EQ(callocsBeforeFailure, -1) << failing;
        for (int k = 0; k < 2; ++k) {
            restoreRects(scene.frameBuffers[k], &scene.restoreLists[k]);
            EXPECT_EQ(memcmp(scene.frameBuffers[k], background.data(), background.size() * 4), 0)
                << failing << ", buffer " << k;
        }
    }
}

}  // namespace
