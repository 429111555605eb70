// A voice: one sample playing at a pitch and a gain. The player's channels write their voices at
// every tick (note starts, pitch steps, target gains); the mixer reads them and renders their
// frames, moving only the play position, the direction and the running volume ramp.
//
// A song drives VOICE_COUNT voices. Channel c plays on voice c or on its twin c + TWIN_DISTANCE:
// a new note moves to the twin while the old one fades out where it was, so notes never click.
#pragma once

#include <cstdint>

#include "module/song.h"

constexpr int VOICE_COUNT = 256;
constexpr int MIXED_VOICE_COUNT = 64;
constexpr int TWIN_DISTANCE = 32;

constexpr int32_t DIRECTION_FORWARD = 1;
constexpr int32_t DIRECTION_BACKWARD = 2;

struct Voice {
    int32_t index;  // own number in its table
    int32_t finalVolume;
    int32_t frequency;
    int32_t finalPanning;
    int32_t mixVolume;
    int32_t mixPanning;
    uint32_t startOffset;  // frame at which the next triggered note starts
    Sample* sample;  // null: silent, skipped
    int32_t volumeLeft;  // target gain of the left sample, in 1/255 steps
    int32_t volumeRight;
    uint32_t position;  // 32.32 play position, integer part
    uint32_t positionFraction;
    uint32_t stepFraction;  // 32.32 step per output frame, fraction
    int32_t step;
    int32_t direction;
    int32_t rampTargetLeft;
    int32_t rampTargetRight;
    int32_t levelLeft;  // current gain x 255 x 256
    int32_t levelRight;
    float rampDeltaLeft;
    float rampDeltaRight;
    int32_t rampRemaining;
    // Voice 0 only: the Amiga's LED filter as the song last switched it (E00 on, E01 off), for
    // the mixer's Amiga mode.
    uint8_t ledFilter;
};

// Silences a table of VOICE_COUNT voices: all zero but each voice's own number and a step of 1.
inline void resetVoices(Voice* voices) {
    for (int j = 0; j < VOICE_COUNT; ++j) {
        voices[j] = Voice{};
        voices[j].index = j;
        voices[j].step = 1;
    }
}
