// The resampling quality figures: the sweep module (tests/support/sweep_quality.h) rendered in
// each interpolation and, where openmpt123 is installed, by openmpt123 with each of its filters,
// every render measured the same way.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/bench.h"
#include "tests/support/sweep_quality.h"

namespace {

void printFigures(const char* name, const SweepFigures& f) {
    printf("  %-22s %8.1f %8.1f %8.1f %10.2f %9.2f\n", name, f.worstImageDb, f.imageBelowDb,
           f.imageAboveDb, f.toneAt8To11Db, f.toneAt16Db);
}

uint32_t le32(const uint8_t* p) { return p[0] | p[1] << 8 | p[2] << 16 | uint32_t{p[3]} << 24; }

// The left channel of a 16-bit stereo WAV file; empty when the file is not one.
std::vector<float> readWavLeft(const std::string& path) {
    std::vector<float> left;
    FILE* file = fopen(path.c_str(), "rb");
    if (!file) return left;
    std::vector<uint8_t> bytes;
    uint8_t chunk[65536];
    size_t got;
    while ((got = fread(chunk, 1, sizeof chunk, file)) > 0)
        bytes.insert(bytes.end(), chunk, chunk + got);
    fclose(file);
    if (bytes.size() < 12 || memcmp(bytes.data(), "RIFF", 4) != 0) return left;
    size_t at = 12;
    int channels = 0, bits = 0;
    while (at + 8 <= bytes.size()) {
        const uint32_t size = le32(&bytes[at + 4]);
        const uint8_t* body = &bytes[at + 8];
        if (memcmp(&bytes[at], "fmt ", 4) == 0 && size >= 16) {
            channels = body[2];
            bits = body[14];
        } else if (memcmp(&bytes[at], "data", 4) == 0 && channels == 2 && bits == 16) {
            const size_t frames = std::min<size_t>(size, bytes.size() - at - 8) / 4;
            for (size_t k = 0; k < frames; ++k) {
                left.push_back(static_cast<int16_t>(body[4 * k] | body[4 * k + 1] << 8));
            }
            return left;
        }
        at += 8 + size + (size & 1);
    }
    return left;
}

}  // namespace

void benchQuality() {
    printf(
        "quality: a pure tone sliding from 261 Hz to 33 kHz at %d Hz; images (all but the "
        "tone) and the tone's level in dB against the tone below 5 kHz\n",
        SWEEP_RATE);
    printf("  %-22s %8s %8s %8s %10s %9s\n", "renderer", "images", "<0.45fs", ">0.55fs", "8-11kHz",
           "16kHz");
    SweepRender timing;
    for (int m = 0; m < INTERPOLATION_COUNT; ++m) {
        const auto mode = static_cast<Interpolation>(m);
        if (mode == Interpolation::AMIGA) continue;  // MOD files only
        SweepRender render = renderSweep(mode);
        const std::string name = std::string("brom ") + interpolationName(mode);
        printFigures(name.c_str(), analyseSweep(render.left, render));
        if (mode == Interpolation::LINEAR) timing = render;
    }
    if (system("openmpt123 --version >/dev/null 2>&1") != 0) {
        printf("  (openmpt123 is not installed: no figures of its filters)\n");
        return;
    }
    const std::string path = writeTempModule(sweepModule());
    for (int taps : {1, 2, 4, 8}) {
        const std::string command = "openmpt123 --render --samplerate " +
                                    std::to_string(SWEEP_RATE) +
                                    " --no-float --force -q --filter " + std::to_string(taps) +
                                    " '" + path + "' >/dev/null 2>&1";
        std::vector<float> left;
        if (system(command.c_str()) == 0) left = readWavLeft(path + ".wav");
        const std::string name = "openmpt123 --filter " + std::to_string(taps);
        if (left.empty()) {
            printf("  %-22s (no render)\n", name.c_str());
            continue;
        }
        printFigures(name.c_str(), analyseSweep(left, timing));
    }
    remove((path + ".wav").c_str());
    remove(path.c_str());
}
