// Loading modules that a test built in memory, through the memory file callbacks.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "audio/scheduler.h"
#include "module/song.h"

// Registers the memory callbacks and loads `bytes` with loadSong; null when the load fails.
Song* loadSongFromBytes(const std::vector<uint8_t>& bytes, SampleDataHook hook = nullptr);

struct SongDeleter {
    void operator()(Song* song) const { freeSong(song); }
};
using SongPtr = std::unique_ptr<Song, SongDeleter>;

inline SongPtr loadOwnedSong(const std::vector<uint8_t>& bytes, SampleDataHook hook = nullptr) {
    return SongPtr(loadSongFromBytes(bytes, hook));
}
