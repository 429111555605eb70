// Fuzz target: arbitrary bytes loaded as a module through the memory file callbacks.
#include "audio/scheduler.h"
#include "module/file_access.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

// Fills every byte the loader says it holds for the sample, so that the address sanitizer checks
// the buffer really is that large.
int fillSampleData(uint8_t* buffer, int byteCount, int bits, int instrumentIndex, int sampleIndex) {
    // Unsigned, so that the pattern wraps on a sample of any size instead of overflowing.
    uint32_t seed = static_cast<uint32_t>(bits + instrumentIndex + sampleIndex);
    for (int k = 0; k < byteCount; ++k) buffer[k] = static_cast<uint8_t>(37u * k + seed);
    return 1;
}

void loadAndCheck(const char* path, SampleDataHook hook) {
    Song* song = loadSong(path, hook);
    if (!song) {
        if (songLoadError()[0] == '\0') {
            reportFinding("engine", "a load failed", "without saying why");
        }
        return;
    }
    if (const char* broken = songRuleBroken(song)) {
        reportFinding("engine", "the loaded song breaks a rule", broken);
    }
    freeSong(song);
}

}  // namespace

int fuzzLoadModule(const uint8_t* data, size_t size) {
    useMemoryFiles();
    char path[64];
    memoryModulePath(path, sizeof path, data, size);
    loadAndCheck(path, nullptr);
    loadAndCheck(path, fillSampleData);
    return 0;
}
