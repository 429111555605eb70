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
#include <string>

#include "tools/brom-play/options.h"

struct Source {
    brom_module* module = nullptr;
    int64_t frameLimit = -1;  // --seconds in frames; -1 without
    int64_t framesDone = 0;
};

// Loads `path` as it is; on failure prints "brom-play: PATH: reason" on stderr, puts the reason in
// *reason (when given) and returns null.
brom_module* loadOrComplain(const char* path, std::string* reason = nullptr);

// One line on stderr when the loader repaired the file: how many repairs, and the first.
void sayRepairs(const char* path, int count, const char* first);

// The options that shape the sound of a loaded module: rate (while it is accepted), repeat
// count, muted channels, gain and stereo separation.
void applySettings(brom_module* module, const Options& options);
// The interpolation and the Amiga mode alone (the Amiga mode is refused for anything but MOD).
void applySound(brom_module* module, const Options& options);

// Loads `path` and applies `options`; on failure prints "brom-play: PATH: reason" on stderr and
// leaves `source` empty. A request the song cannot meet (a time past its end, only channels it
// does not have) is a failure; one it meets in part gets a warning.
bool openSource(Source* source, const char* path, const Options& options);
void closeSource(Source* source);

// Up to `frames` interleaved stereo frames; fewer means the end (of the song or of --seconds).
size_t pullS16(Source* source, int16_t* stereo, size_t frames);
size_t pullF32(Source* source, float* stereo, size_t frames);
