// The voice mixer: adds the sounding voices into a run of frames of the single-precision stereo
// mix buffer. Each Voice plays 16-bit sample data at a 32.32 fixed-point step per output frame,
// with linear interpolation, forward / ping-pong / no looping and a linear volume ramp whenever a
// gain changes. The player writes the voices between two calls; the mixer only adds.
//
//     mixVoices(mixBuffer + 2 * frame, frameCount);   // voices 0..63 into those frames
#pragma once

#include <bit>
#include <cstdint>

#include "module/song.h"

constexpr int VOICE_COUNT = 256;
constexpr int MIXED_VOICE_COUNT = 64;
constexpr int TWIN_DISTANCE = 32;

constexpr int32_t DIRECTION_FORWARD = 1;
constexpr int32_t DIRECTION_BACKWARD = 2;

// Volume or level to gain: one unit below the single nearest to 1/255, so that full volume stays a
// hair under 1.0.
constexpr float GAIN_SCALE = std::bit_cast<float>(0x3B808080u);
// The top 31 bits of a position's fraction to an interpolation weight: 0.99989 x 2^-31, a little
// short of 2^-31, so the weight never quite reaches the next frame.
constexpr float INTERPOLATION_SCALE = std::bit_cast<float>(0x2FFFF910u);

struct Voice {
    int32_t index;  // own number in voiceTable
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
};

// Adds voices 0..MIXED_VOICE_COUNT-1 of voiceTable into `frameCount` stereo frames at `frames`.
void mixVoices(float* frames, int32_t frameCount);
// Adds one voice into `frameCount` stereo frames at `frames`.
void mixVoice(Voice* voice, float* frames, int32_t frameCount);
