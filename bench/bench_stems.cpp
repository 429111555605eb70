// Stems through the library: the cost of rendering each channel's (or instrument's) stem in the
// same pass as the mix, against the mix alone, on one thread (stems render on one): the
// benchmark's 16-channel module and a generated 32-channel one shaped like real music.
#include <brom/brom.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench.h"

namespace {

constexpr size_t PIECE = 1024;  // frames a call: an audio callback's, or a file writer's piece

// Best CPU seconds over the rounds to render the module to its end with `grouping` (off: the
// float mix alone), and the seconds of audio.
double timeStems(const std::vector<uint8_t>& module, brom_stem_grouping grouping, int rounds,
                 double* audio) {
    double best = 0;
    for (int r = 0; r < rounds; ++r) {
        brom_module* loaded = brom_load_memory(module.data(), module.size(), nullptr);
        if (!loaded) {
            fprintf(stderr, "brom-bench: the library does not load the generated module\n");
            exit(1);
        }
        brom_set_stems(loaded, grouping);
        const int count = brom_stem_count(loaded);
        std::vector<float> mix(2 * PIECE);
        std::vector<std::vector<float>> stems(static_cast<size_t>(count),
                                              std::vector<float>(2 * PIECE));
        std::vector<float*> pointers;
        for (auto& stem : stems) pointers.push_back(stem.data());
        size_t frames = 0, got;
        const double start = threadCpuSeconds();
        do {
            got = count ? brom_render_stems_f32(loaded, mix.data(), pointers.data(), PIECE)
                        : brom_render_f32(loaded, mix.data(), PIECE);
            frames += got;
        } while (got > 0);
        const double cpu = threadCpuSeconds() - start;
        brom_free(loaded);
        if (r == 0 || cpu < best) best = cpu;
        *audio = static_cast<double>(frames) / 44100;
    }
    return best;
}

void benchOne(const char* name, const std::vector<uint8_t>& module, int rounds) {
    double audio = 0;
    const double plain = timeStems(module, BROM_STEMS_OFF, rounds, &audio);
    const double channels = timeStems(module, BROM_STEMS_BY_CHANNEL, rounds, &audio);
    const double instruments = timeStems(module, BROM_STEMS_BY_INSTRUMENT, rounds, &audio);
    printf(
        "stems: %s, %.1f s of audio (CPU, best of %d): the mix alone %.1f ms, with channel "
        "stems %.1f ms (%.2f x), with instrument stems %.1f ms (%.2f x)\n",
        name, audio, rounds, plain * 1e3, channels * 1e3, channels / plain, instruments * 1e3,
        instruments / plain);
}

}  // namespace

void benchStems(const std::vector<uint8_t>& module, int rounds) {
    benchOne("the 16-channel module", module, rounds);
    benchOne("a shaped 32-channel module", shapedModule(32, 4, 7), rounds);
}
