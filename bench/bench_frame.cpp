// The demo frame: what the frame loop does for every frame shown. The scene restores the buffer
// just shown, draws 43 glyph cells and 16 sprites into the other one; the display converts the
// whole frame into the back buffer's pixel format. The scene runs against the in-memory display,
// whose flip also keeps a copy of the frame for tests: that copy is timed apart.
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench.h"
#include "demo/scene.h"
#include "display/display.h"
#include "display/display_memory.h"

namespace {

struct Format {
    const char* name;
    uint32_t bitCount, redMask, greenMask, blueMask;
};

const Format FORMATS[] = {
    {"32-bit", 32, 0xFF0000, 0xFF00, 0xFF}, {"32-bit BGR", 32, 0xFF, 0xFF00, 0xFF0000},
    {"24-bit", 24, 0xFF0000, 0xFF00, 0xFF}, {"24-bit BGR", 24, 0xFF, 0xFF00, 0xFF0000},
    {"5-6-5", 16, 0xF800, 0x7E0, 0x1F},     {"5-6-5 BGR", 16, 0x1F, 0x7E0, 0xF800},
    {"5-5-5", 16, 0x7C00, 0x3E0, 0x1F},     {"5-5-5 BGR", 16, 0x1F, 0x3E0, 0x7C00},
};

template <typename Work>
double bestSecondsPerFrame(int rounds, int framesPerRound, Work work) {
    double best = 0;
    for (int r = 0; r < rounds; ++r) {
        double start = threadCpuSeconds();
        for (int f = 0; f < framesPerRound; ++f) work();
        double elapsed = (threadCpuSeconds() - start) / framesPerRound;
        if (r == 0 || elapsed < best) best = elapsed;
    }
    return best;
}

}  // namespace

void benchFrame(int rounds, int framesPerRound) {
    MemoryDisplayConfig config = memoryDisplayDefaults();
    config.keepFrames = 1;
    memoryDisplayConfigure(config);
    displayUseBackend(&memoryDisplayBackend);
    if (!displayOpen("test", FRAME_WIDTH, FRAME_HEIGHT)) {
        fprintf(stderr, "brom-bench: the in-memory display does not open\n");
        exit(1);
    }
    memoryDisplayPushEvent({DISPLAY_EVENT_ACTIVATE, 1});
    Scene scene = {};
    sceneStart(&scene, scrollText);
    for (int f = 0; f < 100; ++f) scenePass(&scene);  // the text is on screen by now

    double draw = bestSecondsPerFrame(rounds, framesPerRound, [&] { sceneStep(&scene); });
    double pass = bestSecondsPerFrame(rounds, framesPerRound, [&] { scenePass(&scene); });
    printf(
        "frame:  draw (restore, 43 glyphs, 16 sprites) %.4f ms; a whole pass with the in-memory "
        "display %.4f ms\n",
        draw * 1e3, pass * 1e3);

    std::vector<uint8_t> target(static_cast<size_t>(FRAME_WIDTH) * FRAME_HEIGHT * 4);
    const uint32_t* frame = scene.frameBuffers[scene.drawIndex];
    printf("        draw + conversion of the whole frame, by display format:\n");
    for (const Format& format : FORMATS) {
        PixelConverter convert =
            selectConverter(format.bitCount, format.redMask, format.greenMask, format.blueMask);
        int pitch = FRAME_WIDTH * static_cast<int>(format.bitCount / 8);
        double conversion = bestSecondsPerFrame(rounds, framesPerRound, [&] {
            for (int y = 0; y < FRAME_HEIGHT; ++y)
                convert(frame + y * FRAME_WIDTH, target.data() + y * pitch, FRAME_WIDTH);
        });
        printf("        %-11s %.4f + %.4f = %.4f ms\n", format.name, draw * 1e3, conversion * 1e3,
               (draw + conversion) * 1e3);
    }
    displayClose();
}
