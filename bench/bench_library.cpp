// The library's figures, through libbrom as an application links it: the benchmark's module
// rendered on one thread and on as many as the machine has cores (wall-clock time, as that is
// what more threads shorten), and seeking to the end of a five-minute module.
#include <brom/brom.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "bench/bench.h"

namespace {

double processCpuSeconds() {
    rusage usage = {};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec * 1e-6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec * 1e-6;
}

brom_module* loadOrExit(const std::vector<uint8_t>& module) {
    brom_module* loaded = brom_load_memory(module.data(), module.size(), nullptr);
    if (!loaded) {
        fprintf(stderr, "brom-bench: the library does not load the generated module\n");
        exit(1);
    }
    return loaded;
}

struct RenderTime {
    double wall;  // best of the rounds
    double cpu;  // of the process in that round
    double audio;  // seconds rendered
    int threads;
};

// Loads the module and renders it to its end in pieces of a second, as an application writing a
// file would (without the file), on `threads` threads.
RenderTime timeRender(const std::vector<uint8_t>& module, int threads, int rounds) {
    std::vector<int16_t> pcm(2 * 44100);
    RenderTime best = {0, 0, 0, 0};
    for (int r = 0; r < rounds; ++r) {
        const double wallStart = wallSeconds();
        const double cpuStart = processCpuSeconds();
        brom_module* loaded = loadOrExit(module);
        brom_set_render_threads(loaded, threads);
        size_t frames = 0;
        size_t got;
        while ((got = brom_render_s16(loaded, pcm.data(), 44100)) > 0) frames += got;
        const int used = brom_render_threads(loaded);
        brom_free(loaded);
        const double wall = wallSeconds() - wallStart;
        if (r == 0 || wall < best.wall) {
            best = {wall, processCpuSeconds() - cpuStart, static_cast<double>(frames) / 44100,
                    used};
        }
    }
    return best;
}

}  // namespace

void benchLibraryRender(const std::vector<uint8_t>& module, int rounds) {
    const RenderTime one = timeRender(module, 1, rounds);
    const RenderTime many = timeRender(module, 0, rounds);
    for (const RenderTime& time : {one, many}) {
        printf(
            "render: the module through the library on %d thread%s, %.1f s of audio in %.2f ms "
            "(%.2f ms of CPU; best of %d): %.0f x real time\n",
            time.threads, time.threads == 1 ? "" : "s", time.audio, time.wall * 1e3, time.cpu * 1e3,
            rounds, time.audio / time.wall);
    }
    printf("        %d threads: %.2f x one thread\n", many.threads, one.wall / many.wall);
}

void benchSeek(const std::vector<uint8_t>& longModule, int rounds) {
    brom_module* loaded = loadOrExit(longModule);
    const int64_t duration = brom_duration_ms(loaded);
    double best = 0;
    for (int r = 0; r < rounds; ++r) {
        const double start = wallSeconds();
        if (!brom_seek_ms(loaded, duration - 1000)) {
            fprintf(stderr, "brom-bench: seeking failed\n");
            exit(1);
        }
        const double elapsed = wallSeconds() - start;
        if (r == 0 || elapsed < best) best = elapsed;
    }
    brom_free(loaded);
    printf("seek:   to 1 s before the end of a %.1f-minute module: %.2f ms (best of %d)\n",
           duration / 60000.0, best * 1e3, rounds);
}
