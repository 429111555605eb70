// The player's status line: what a StatusView holds, as one line of at most `width - 1` columns
// (the last column is left alone: writing there makes some terminals scroll). When the full form
// does not fit, a shorter one is taken, then the end is cut.
//
//   1/3  song 2/3  order 5/17  pattern 4  row 31  0:42.1/3:21.5  speed 6 bpm 140  paused  [▂▅ ▇-▃]
//   1/3 s2/3 5/17 p4 r31 0:42.1/3:21.5 6/140 || [▂▅ ▇-▃]
// (the song only for a file of several)
#pragma once

#include <brom/brom.h>

#include <cstdint>
#include <string>

constexpr int STATUS_CHANNELS = 32;

struct StatusView {
    int fileNumber;  // from 1
    int fileCount;
    int subsong;  // from 0: the one selected, or the one whose order plays
    int subsongCount;
    brom_position position;
    int songLength;
    int64_t durationMs;
    bool paused;
    bool looping;  // repeats without end
    double gainDb;
    int channels;
    uint32_t mutedChannels;  // bit c: channel c (from 0)
    float peaks[STATUS_CHANNELS];  // per channel, the louder side's measured peak (1.0 full)
    int backgroundNotes;  // past notes sounding on (IT's new-note actions), shown when any
};

// `utf8`: level meters of block characters (else ASCII).
std::string formatStatus(const StatusView& view, int width, bool utf8);
// Columns of `text`: one per character, UTF-8 continuation bytes counting none.
int statusColumns(const std::string& text);
