// One input file opened through the public library, with the options that shape its sound
// applied (rate, repeat count, where to begin, muted channels, gain, stereo separation), and the
// frames it gives, cut after --seconds. Rendering and playing both take their frames from here.
//
//     Source source;
//     if (!openSource(&source, "song.xm", options)) return 1;   // the reason is on stderr
//     while ((got = pullS16(&source, frames, 1024)) > 0) ...
//     closeSource(&source);
#pragma once

#include <brom/brom.h>

#include <cstddef>
#include <cstdint>

#include "tools/brom-play/options.h"

struct Source {
    brom_module* module = nullptr;
    int64_t frameLimit = -1;  // --seconds in frames; -1 without
    int64_t framesDone = 0;
};

// Loads `path` as it is; on failure prints "brom-play: PATH: reason" on stderr and returns null.
brom_module* loadOrComplain(const char* path);

// The options that shape the sound of a loaded module: rate (while it is accepted), repeat
// count, muted channels, gain and stereo separation.
void applySettings(brom_module* module, const Options& options);
// The interpolation and the Amiga mode alone (the Amiga mode is refused for anything but MOD).
void applySound(brom_module* module, const Options& options);

// Loads `path` and applies `options`; on failure prints "brom-play: PATH: reason" on stderr and
// leaves `source` empty.
bool openSource(Source* source, const char* path, const Options& options);
void closeSource(Source* source);

// Up to `frames` interleaved stereo frames; fewer means the end (of the song or of --seconds).
size_t pullS16(Source* source, int16_t* stereo, size_t frames);
size_t pullF32(Source* source, float* stereo, size_t frames);
