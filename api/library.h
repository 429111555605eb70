// The library's own record behind a brom_module, shared by the files that implement
// include/brom/brom.h: load.cpp (loading and errors), render.cpp (rendering, seeking, subsongs,
// how the song ends, the output controls and stems) and metadata.cpp (what the song holds and
// what it plays now).
//
// A brom_module is a Song with an AudioEngine of its own, rendered offline block by block, on one
// thread or, through the parallel renderer, on several; the caller's buffers are filled from
// those blocks, whatever sizes it asks for, through one cursor whichever made the block.
#pragma once

#include <cstdint>

#include "audio/parallel_render.h"
#include "audio/scheduler.h"
#include "brom/brom.h"
#include "player/subsongs.h"
#include "views.h"

constexpr int32_t DEFAULT_RATE = 44100;
constexpr int32_t LOWEST_RATE = 8000;
constexpr int32_t HIGHEST_RATE = 192000;

// The block being handed out: its 16-bit PCM and float mix, its length, the frames of it handed
// out already and the engine frame of the next one to hand out. `frames` is 0 before the first.
struct BlockCursor {
    const int16_t* pcm;
    const float* mix;
    int32_t frames;
    int32_t offset;
    int64_t frame;
};

struct brom_module {
    Song* song;
    AudioEngine* engine;
    int32_t rate;

    int32_t threads;  // asked for: 0 as many as the machine has cores, 1 (the default) one
    ParallelRender* parallel;  // the parallel renderer while rendering on several threads
    BlockCursor cursor;  // the block being handed out, whichever made it
    bool rendered;  // frames handed out since the load or the last seek
    int64_t soughtMs;  // the last time sought, -1 if none since the load
    // The last seek by order and row, made at time jumpMs; order -1 when the last seek was by
    // time (or none). A rate change right after it makes the jump again at the new rate.
    int32_t jumpOrder, jumpRow;
    int64_t jumpMs;

    int64_t durationMs;  // one pass at durationRate and durationProfile, -1 until measured
    int32_t durationRate;
    PlayProfile durationProfile;
    // The frame at which one pass first starts each order position (-1: never), measured with
    // the duration.
    int64_t orderFrames[MAX_ORDERS];

    // The subsongs, found when first asked for (null until then) at subsongs->rate; the one
    // selected (-1: the whole order list) and the rows of those before it.
    SubsongList* subsongs;
    int32_t subsong;
    uint8_t otherSongRows[PLAYED_ROW_BYTES];
    ModuleViews views;  // stems and scopes
};

// Back to frame 0 at the module's rate, nothing handed out; false when memory is short.
bool restart(brom_module* module);

// The engine's state after the block being handed out as the parallel renderer noted it, while
// it has run the engine ahead; null when the engine's own state is that.
const BlockInfo* takenInfo(const brom_module* module);
