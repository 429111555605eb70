// --info: what a module holds, read through the public library: as aligned text (info.cpp) or as
// one JSON object (info_json.cpp).
#pragma once

#include <brom/brom.h>

#include <cstdint>
#include <vector>

void printInfoText(brom_module* module, const char* path);
void printInfoJson(brom_module* module, const char* path);
// {"file": PATH, "error": ERROR}, for a file that cannot be described.
void printInfoJsonError(const char* path, const char* error);
// `text` as a JSON string: UTF-8 as it is, other bytes read as Latin-1.
void writeJsonString(const char* text);

// "none", "forward" or "ping-pong".
const char* loopName(brom_loop loop);
// "m:ss.mmm"; "unknown" for a negative time. `text` holds at least 24 bytes.
void formatDuration(int64_t ms, char* text);

// An instrument's keyboard in runs: notes from..to (0..119) play `sample` (from 0, across the
// module) `transpose` semitones away. Notes that play nothing are left out.
struct KeyRange {
    int from;
    int to;
    int sample;
    int transpose;
};
std::vector<KeyRange> keyboardRanges(const brom_module* module, int instrument);
// "C-5", "F#3": `text` holds at least 8 bytes.
void noteName(int note, char* text);
