// brom-bench: how fast the engine and the demo run, figures to watch rather than pass or fail.
//  - song:   the generated 16-channel module through the blocks the mixing thread makes;
//  - render: the same module written to a WAV file by brom-play's render code;
//  - mixer:  the voice mixer alone, all 64 voices sounding;
//  - frame:  one demo frame, drawing and conversion to the display's format.
//
//     brom-bench [--seconds N] [--write FILE.xm]
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/bench.h"

int main(int argc, char** argv) {
    double seconds = 120;
    const char* writePath = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (strcmp(argv[i], "--write") == 0 && i + 1 < argc) {
            writePath = argv[++i];
        } else {
            fprintf(stderr, "usage: brom-bench [--seconds N] [--write FILE.xm]\n");
            return 2;
        }
    }
    std::vector<uint8_t> module = benchModule();
    if (writePath) {
        FILE* file = fopen(writePath, "wb");
        if (!file || fwrite(module.data(), 1, module.size(), file) != module.size()) {
            fprintf(stderr, "brom-bench: %s: cannot write\n", writePath);
            return 1;
        }
        fclose(file);
    }
    benchSong(module, seconds);
    benchRender(module, 5);
    benchMixer(seconds / 4);
#if defined(BROM_BENCH_HAS_SCENE)
    benchFrame(10, 200);
#endif
    return 0;
}
