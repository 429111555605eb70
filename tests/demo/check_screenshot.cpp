// check-screenshot SHOT.ppm: checks that a screenshot of brom-demo shows the scene. The screen
// shows the 320 x 200 frame scaled up with its aspect kept, centred. The check
//   - finds the pass whose frame the screenshot shows, by running the scene from its start, and
//     requires an exact match of every frame pixel;
//   - answers 3 when that frame is too early to show the scroll text;
//   - then checks on its own: the background everywhere outside the sprites and the text, red
//     text in the scroller, and a sprite where each sprite's sine path puts it.
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "demo/scene.h"

namespace {

struct Picture {
    int width = 0, height = 0;
    std::vector<uint8_t> rgb;
};

bool readPpm(const char* path, Picture* picture) {
    std::ifstream in(path, std::ios::binary);
    std::string magic;
    int maxValue = 0;
    in >> magic >> picture->width >> picture->height >> maxValue;
    in.get();
    if (!in || magic != "P6" || maxValue != 255) return false;
    picture->rgb.resize(static_cast<size_t>(picture->width) * picture->height * 3);
    in.read(reinterpret_cast<char*>(picture->rgb.data()),
            static_cast<std::streamsize>(picture->rgb.size()));
    return static_cast<bool>(in);
}

// The frame as the screen shows it: the centre of each scaled frame pixel.
std::vector<uint32_t> sampleFrame(const Picture& shot) {
    double scale = std::min(shot.width / double(FRAME_WIDTH), shot.height / double(FRAME_HEIGHT));
    double left = (shot.width - FRAME_WIDTH * scale) / 2,
           top = (shot.height - FRAME_HEIGHT * scale) / 2;
    std::vector<uint32_t> frame(FRAME_WIDTH * FRAME_HEIGHT);
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        for (int x = 0; x < FRAME_WIDTH; ++x) {
            int sx = static_cast<int>(left + (x + 0.5) * scale),
                sy = static_cast<int>(top + (y + 0.5) * scale);
            const uint8_t* p = &shot.rgb[(static_cast<size_t>(sy) * shot.width + sx) * 3];
            frame[y * FRAME_WIDTH + x] = static_cast<uint32_t>(p[0] << 16 | p[1] << 8 | p[2]);
        }
    }
    return frame;
}

bool inScroller(int x, int y) {
    return (y >= 191 && y < 199 && x >= 1 && x < 256) ||
           (x >= 248 && x < 256 && y >= 96 && y < 199);
}

// Outside the scroller, a frame differs from the background only under the sprites. A screenshot
// that differs in more pixels than the sprites cover (one taken before the first frame is up, say)
// shows no frame; saying so at once spares searching ten minutes of frames, which takes a long
// time in a sanitizer build on a busy machine.
bool couldShowAFrame(const std::vector<uint32_t>& seen, const std::vector<uint32_t>& background) {
    int differing = 0;
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        for (int x = 0; x < FRAME_WIDTH; ++x) {
            int i = y * FRAME_WIDTH + x;
            differing += !inScroller(x, y) && seen[i] != background[i];
        }
    }
    return differing <= SPRITE_COUNT * SPRITE_SIZE * SPRITE_SIZE;
}

// The pass at whose start the scene presents `seen`, or -1. Frames repeat only after far longer
// than any test runs.
int findPass(const std::vector<uint32_t>& seen, int* bestMatch) {
    Scene scene = {};
    if (!sceneStart(&scene, scrollText)) return -1;
    int pass = -1;
    for (int n = 0; n < 60 * 600 && pass < 0; ++n) {
        const uint32_t* frame = scene.frameBuffers[scene.drawIndex];
        int match = 0;
        for (int i = 0; i < FRAME_WIDTH * FRAME_HEIGHT; ++i) match += frame[i] == seen[i];
        *bestMatch = std::max(*bestMatch, match);
        if (match == FRAME_WIDTH * FRAME_HEIGHT) pass = n;
        if (!sceneStep(&scene)) break;
    }
    sceneFinish(&scene);
    return pass;
}

}  // namespace

int main(int argc, char** argv) {
    Picture shot;
    if (argc != 2 || !readPpm(argv[1], &shot)) {
        fprintf(stderr, "usage: check-screenshot SHOT.ppm (a readable binary PPM)\n");
        return 2;
    }
    std::vector<uint32_t> seen = sampleFrame(shot);
    std::vector<uint32_t> background(FRAME_WIDTH * FRAME_HEIGHT);
    decodeBackground(background.data());

    if (!couldShowAFrame(seen, background)) {
        fprintf(stderr, "the screenshot does not show the scene's background\n");
        return 1;
    }
    int bestMatch = 0;
    int pass = findPass(seen, &bestMatch);
    if (pass < 0) {
        fprintf(stderr, "no frame of the scene matches the screenshot (best: %d of %d pixels)\n",
                bestMatch, FRAME_WIDTH * FRAME_HEIGHT);
        return 1;
    }
    printf("the screenshot shows the frame presented at pass %d\n", pass);
    // The text comes into view from about pass 90; before that there is less to check.
    if (pass < 120) {
        fprintf(stderr, "too early: the text is not in view yet\n");
        return 3;
    }

    // The frame shown at pass n was drawn at frame time 0.01 x (n - 1), summed in single precision.
    float time = 0.0f;
    for (int n = 1; n < pass; ++n) time += 0.01f;
    int spriteX[SPRITE_COUNT], spriteY[SPRITE_COUNT];
    for (int i = 0; i < SPRITE_COUNT; ++i) {
        spriteX[i] = static_cast<int>(90 * std::sin(5.0 * time + double(0.3f) * i) + 100);
        spriteY[i] = static_cast<int>(50 * std::sin(2.0 * time + double(0.3f * float(i))) + 90);
    }
    int failures = 0, redText = 0;
    for (int y = 0; y < FRAME_HEIGHT; ++y) {
        for (int x = 0; x < FRAME_WIDTH; ++x) {
            uint32_t s = seen[y * FRAME_WIDTH + x], b = background[y * FRAME_WIDTH + x];
            bool underSprite = false;
            for (int i = 0; i < SPRITE_COUNT; ++i)
                underSprite |= x >= spriteX[i] && x < spriteX[i] + 32 && y >= spriteY[i] &&
                               y < spriteY[i] + 32;
            if (inScroller(x, y) && s != b) {
                // Text only ever pulls a pixel toward pure red.
                bool towardRed = (s >> 16) >= (b >> 16) && (s >> 8 & 0xFF) <= (b >> 8 & 0xFF) &&
                                 (s & 0xFF) <= (b & 0xFF);
                if (towardRed)
                    ++redText;
                else
                    ++failures;
            } else if (!inScroller(x, y) && !underSprite && s != b) {
                ++failures;
            }
        }
    }
    if (failures)
        fprintf(stderr, "%d pixels differ from the background outside the sprites and the text\n",
                failures);
    if (redText < 20)
        fprintf(stderr, "no red scroll text to be seen (%d pixels)\n", redText), ++failures;
    for (int i = 0; i < SPRITE_COUNT; ++i) {
        int changed = 0;
        for (int y = spriteY[i]; y < spriteY[i] + 32; ++y)
            for (int x = spriteX[i]; x < spriteX[i] + 32; ++x)
                changed += seen[y * FRAME_WIDTH + x] != background[y * FRAME_WIDTH + x];
        if (changed < 100)
            fprintf(stderr, "sprite %d is not at (%d, %d)\n", i, spriteX[i], spriteY[i]),
                ++failures;
    }
    printf("red text pixels: %d\n", redText);
    return failures ? 1 : 0;
}
