// A voice: one sample playing at a pitch and a gain. The player's channels write their voices at
// every tick (note starts, pitch steps, target gains); the mixer reads them and renders their
// frames, moving only the play position, the direction and the running volume ramp.
//
// A playback drives a table of VOICE_COUNT voices (voice_pool.h says which channel drives which):
// each song channel has a pair, plays on one of them and moves a new note to the other while the
// old one fades out where it was, so notes never click; background channels, holding notes that
// sound on after their channel started another, have one each. The mixer mixes the first
// MIXED_VOICE_COUNT in index order.
#pragma once

#include <cstdint>

#include "module/song.h"

constexpr int VOICE_COUNT = 256;
constexpr int MIXED_VOICE_COUNT = 192;

constexpr int32_t DIRECTION_FORWARD = 1;
constexpr int32_t DIRECTION_BACKWARD = 2;

struct Voice {
    int32_t index;  // own number in its table
    int32_t channel;  // the song channel whose note it plays (mutes and stems go by it)
    int32_t instrument;  // the instrument (from 0) whose note it plays, as the note started
    int32_t finalVolume;
    int32_t frequency;
    int32_t finalPanning;
    int32_t mixVolume;
    int32_t mixPanning;
    uint32_t startOffset;  // frame at which the next triggered note starts
    const Sample* sample;  // null: silent, skipped
    // Played from its loop's start once the voice reaches the end of its loop or sample (a MOD
    // sample number without a note); null: none.
    const Sample* nextSample;
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
    // While the key is held a sample's sustain loop plays instead of its loop.
    uint8_t sustainHeld;
    // The resonant low-pass filter (filterOn 0: none): y = a*x + b*y1 + c*y2 on each side.
    uint8_t filterOn;
    float filterA, filterB, filterC;
    float filterHistory[2][2];  // per side: the last output, the one before
};

// Silences a table of VOICE_COUNT voices: all zero but each voice's own number and a step of 1.
inline void resetVoices(Voice* voices) {
    for (int j = 0; j < VOICE_COUNT; ++j) {
        voices[j] = Voice{};
        voices[j].index = j;
        voices[j].step = 1;
    }
}
