// brom-bench: how fast the engine and the demo run, figures to watch rather than pass or fail.
//  - song:   the generated 16-channel module through the blocks the mixing thread makes;
//  - render: the same module written to a WAV file by brom-play's render code, and rendered by
//            the library on one thread and on as many as there are cores;
//  - seek:   the library seeking to the end of a five-minute module;
//  - stems:  the library rendering stems with the mix, against the mix alone;
//  - files:  brom-play --render of generated modules of 4 to 32 channels, one process per file;
//  - mixer:  the voice mixer alone, all 64 voices sounding;
//  - interpolation: the same in each interpolation, on the scalar path and the fastest;
//  - quality: the images each interpolation leaves of a tone sliding past the Nyquist frequency,
//            and those of openmpt123's filters where it is installed;
//  - frame:  one demo frame, drawing and conversion to the display's format;
//  - startup: brom-play --info of the module as a process of its own, its CPU time.
//
// The song and render figures use the fastest mixer path, or the one --path names; the mixer
// figure is given for every path the processor has.
//
//     brom-bench [--seconds N] [--path scalar|sse2|avx2|avx512]
//                [--only song|render|seek|stems|files|mixer|interpolation|quality|frame|startup]
//                [--write FILE.xm]
//                [--write-set FOLDER]
//
// --write saves the benchmark's module; --write-set saves the modules of the figures into a
// folder (bench.xm, bench-5min.xm, shaped-4.xm to shaped-32.xm), to measure them otherwise.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "audio/mixer.h"
#include "bench/bench.h"

namespace {

const MixerPath PATHS[] = {MixerPath::SCALAR, MixerPath::SSE2, MixerPath::AVX2, MixerPath::AVX512};

int usage() {
    fprintf(
        stderr,
        "usage: brom-bench [--seconds N] [--path scalar|sse2|avx2|avx512] "
        "[--only song|render|seek|stems|files|mixer|interpolation|quality|frame|startup] [--write "
        "FILE.xm] "
        "[--write-set FOLDER]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    double seconds = 120;
    const char* writePath = nullptr;
    MixerPath path = fastestMixerPath();
    const char* only = nullptr;
    for (int i = 1; i < argc; ++i) {
        if (strcmp(argv[i], "--seconds") == 0 && i + 1 < argc) {
            seconds = atof(argv[++i]);
        } else if (strcmp(argv[i], "--write") == 0 && i + 1 < argc) {
            writePath = argv[++i];
        } else if (strcmp(argv[i], "--write-set") == 0 && i + 1 < argc) {
            const std::string folder = argv[++i];
            writeFile(folder + "/bench.xm", benchModule());
            writeFile(folder + "/bench-5min.xm", benchModule(40));
            writeShapedSet(folder);
            return 0;
        } else if (strcmp(argv[i], "--only") == 0 && i + 1 < argc) {
            only = argv[++i];
        } else if (strcmp(argv[i], "--path") == 0 && i + 1 < argc) {
            const char* name = argv[++i];
            bool known = false;
            for (MixerPath p : PATHS) {
                if (strcmp(name, mixerPathName(p)) == 0) path = p, known = true;
            }
            if (!known) return usage();
            if (!mixerPathAvailable(path)) {
                fprintf(stderr, "brom-bench: the %s path is not available here\n", name);
                return 1;
            }
        } else {
            return usage();
        }
    }
    std::vector<uint8_t> module = benchModule();
    if (writePath) writeFile(writePath, module);
    setMixerPath(path);
    printf("mixer path: %s\n", mixerPathName(path));
    auto wanted = [only](const char* part) { return !only || strcmp(only, part) == 0; };
    if (wanted("song")) benchSong(module, seconds);
    if (wanted("render")) benchRender(module, 5);
#if defined(BROM_BENCH_HAS_LIBRARY)
    if (wanted("render")) benchLibraryRender(module, 15);
    if (wanted("seek")) benchSeek(benchModule(40), 5);
    if (wanted("stems")) benchStems(module, 5);
#endif
#if defined(BROM_BENCH_HAS_PROCESSES)
    if (wanted("files")) benchFiles(3);
#endif
    if (wanted("mixer")) {
        for (MixerPath p : PATHS) {
            if (!setMixerPath(p)) continue;
            benchMixer(seconds / 4);
        }
        setMixerPath(path);
    }
    // Each interpolation, on the scalar path and on the fastest.
    if (wanted("interpolation")) {
        for (int m = 0; m < INTERPOLATION_COUNT; ++m) {
            for (MixerPath p : {MixerPath::SCALAR, fastestMixerPath()}) {
                setMixerPath(p);
                benchMixer(seconds / 20, static_cast<Interpolation>(m));
            }
        }
        setMixerPath(path);
    }
    if (wanted("quality")) benchQuality();
#if defined(BROM_BENCH_HAS_SCENE)
    if (wanted("frame")) benchFrame(10, 200);
#endif
#if defined(BROM_BENCH_HAS_STARTUP)
    if (wanted("startup")) benchStartup(module, 50);
#endif
    return 0;
}
