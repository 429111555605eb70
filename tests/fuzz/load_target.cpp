// Fuzz target: arbitrary bytes loaded as a module through the memory file callbacks.
#include <cstdio>
#include <cstdlib>

#include "audio/scheduler.h"
#include "module/file_access.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

// Fills every byte the loader says it holds for the sample, so that the address sanitizer checks
// the buffer really is that large.
int fillSampleData(uint8_t* buffer, int byteCount, int bits, int instrumentIndex, int sampleIndex) {
    for (int k = 0; k < byteCount; ++k) {
        buffer[k] = static_cast<uint8_t>(k * 37 + bits + instrumentIndex + sampleIndex);
    }
    return 1;
}

void loadAndCheck(const char* path, SampleDataHook hook) {
    Song* song = loadSong(path, hook);
    if (!song) {
        if (songLoadError()[0] == '\0') {
            fprintf(stderr, "a load failed without saying why\n");
            abort();
        }
        return;
    }
    if (const char* broken = songRuleBroken(song)) {
        fprintf(stderr, "loaded song breaks a rule: %s\n", broken);
        abort();
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
