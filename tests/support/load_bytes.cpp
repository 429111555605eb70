#include "tests/support/load_bytes.h"

#include "module/file_access.h"

Song* loadSongFromBytes(const std::vector<uint8_t>& bytes, SampleDataHook hook) {
    useMemoryFiles();
    char path[64];
    memoryModulePath(path, sizeof path, bytes.data(), bytes.size());
    return loadSong(path, hook);
}
