// How long one pass of a song lasts at a rate, measured without mixing.
//
// A playing state of its own runs the song tick by tick from its start (order 0, or a subsong's
// first row) to where it comes round, adding up the ticks' lengths; an engine's playback is left
// as it is. On the way it notes the frame at which each order position first starts.
//
//     int64_t orderFrames[MAX_ORDERS];
//     int64_t frames = measurePass(song, profile, 44100, {}, orderFrames);
#pragma once

#include <cstdint>

#include "module/behaviours.h"
#include "module/song.h"

// Where a pass starts: where the song starts (all zero, the default), or a subsong's first row
// with the rows of the subsongs before it counted as played (as PlayState::playedRows).
struct PassStart {
    int32_t order;
    int32_t row;
    const uint8_t* otherSongRows;  // null: the song's own start
};

// The frames of one pass at `rate` (at most LONGEST_PASS_SECONDS of them; -1 when memory is
// short); `orderFrames[o]` gets the frame at which order position o first starts, -1 for never.
int64_t measurePass(const Song* song, PlayProfile profile, int32_t rate, PassStart start,
                    int64_t orderFrames[MAX_ORDERS]);
