// Where an offline render's output ends, and the fade that may lead up to it.
//
// A song rendered offline ends where its last pass comes round: the engine notes that frame as
// `repeatFrame` once the repeat count's passes are done. A song that never comes round ends after
// LONGEST_PASS_SECONDS of each pass. The listener may instead have it loop without end, or fade
// out: the output then goes on for the fade's length past that frame, scaled down to silence.
//
//     engine->end = {SongEnd::FADE, 10000};
//     while (engineGoesOn(engine)) mixNextOfflineBlock(engine);
//     int64_t end = outputEndFrame(engine, engine->framesMixed, engine->repeatFrame);
//     fadeOut(mix, mix, frames, firstFrame, end, fadeFrameCount(engine));
//
// Both the one-thread path and the parallel renderer ask the engine these questions, the latter
// about the engine as it stood after the block it hands out.
#pragma once

#include <cstddef>
#include <cstdint>

struct AudioEngine;

// A pass that never comes round ends after this long.
constexpr int64_t LONGEST_PASS_SECONDS = 3600;

enum class SongEnd : uint8_t {
    STOP,  // where the last pass comes round
    LOOP,  // never: the song plays on
    FADE,  // a fade of `fadeMs` past where it would stop
};

struct OutputEnd {
    SongEnd how;
    int32_t fadeMs;
};

// Frames of the fade at the end, at the engine's rate; 0 without one.
int64_t fadeFrameCount(const AudioEngine* engine);

// The engine frame at which the output ends, given the engine's frame count and end frame as
// they stood after some block; -1 while not known yet (or never, for an endless song).
int64_t outputEndFrame(const AudioEngine* engine, int64_t framesMixed, int64_t repeatFrame);

// Whether the engine's song, as the engine stands now, has a block more to give.
bool engineGoesOn(const AudioEngine* engine);

// `count` stereo frames from engine frame `first` on, faded: frame f of a fade of `fade` frames
// ending at frame `end` is scaled by (end - f) / fade, in double precision and rounded once to a
// float, the same on every machine. `to` may be `from`.
void fadeOut(const float* from, float* to, size_t count, int64_t first, int64_t end, int64_t fade);
