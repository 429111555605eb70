// brom-play: the command-line player. Each mode lives in its own file; main.cpp reads the command
// line and hands over. Every mode returns the process status: 0 done, 1 failure (one line on
// stderr), 2 wrong usage.
#pragma once

#include <cstdint>

#include "audio/scheduler.h"
#include "module/song.h"

// Loads `path` with the standard-file callbacks; on failure prints "brom-play: PATH: reason" on
// stderr and returns null.
Song* loadSongOrComplain(const char* path);

int runInfo(const char* path);
// ticks < 0: until the song first repeats, at most 100000 ticks.
int runTrace(const char* path, int64_t ticks);
int runPlay(const char* path);
// seconds < 0: until the song first repeats.
int runRender(const char* outPath, const char* path, double seconds);
