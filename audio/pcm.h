// Output conversion: the single-precision mix becomes the signed 16-bit PCM the device plays.
// Every sample is rounded to the nearest integer (ties to even) and saturated to 16 bits; the mix
// is not dithered, so loud peaks are cut flat. Before the conversion a host's output controls may
// change the stereo width and the gain of the mix.
//
//     shapeMix(mixBuffer + 2 * frame, blockFrames, engine->controls);
//     convertToPcm16(outputBuffer + 2 * frame, mixBuffer + 2 * frame, blockFrames);
#pragma once

#include <cstdint>

#include "audio/mixer_taps.h"
#include "player/voice.h"

// What a host makes of the mix. Muted channels (bit c for channel c) add nothing; their voices
// move on as if heard. The mix may be scaled and its stereo width changed (100: as the song
// pans; 0: mono).
struct OutputControls {
    uint64_t mutedChannels;
    double outputGain = 1.0;
    int32_t stereoSeparation = 100;
    // How the voices are read, and whether the mix sounds like an Amiga's (MOD files only; it
    // then takes the place of the interpolation).
    Interpolation interpolation = Interpolation::LINEAR;
    AmigaModel amiga = AmigaModel::OFF;
};

// The interpolation the mixer takes under these controls.
inline Interpolation mixInterpolation(const OutputControls& controls) {
    return controls.amiga != AmigaModel::OFF ? Interpolation::AMIGA : controls.interpolation;
}

// Whether song channel `channel` is muted (its voices, background ones included, say which
// channel they play for).
inline bool channelMuted(const OutputControls& controls, int32_t channel) {
    return channel >= 0 && channel < 64 && ((controls.mutedChannels >> channel) & 1);
}

// The optional shaping of `count` mixed stereo frames before their conversion: stereo width, then
// gain. Nothing at the defaults.
void shapeMix(float* frames, int32_t count, const OutputControls& controls);

// Converts `frameCount` stereo frames (left, right) from `source` into `destination`. Does nothing
// when the count is 0 or less or a pointer is null.
void convertToPcm16(int16_t* destination, const float* source, int32_t frameCount);
