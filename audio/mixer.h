// The voice mixer: adds the sounding voices into a run of frames of the single-precision stereo
// mix buffer. Each Voice plays 16-bit sample data at a 32.32 fixed-point step per output frame,
// with linear interpolation, forward / ping-pong / no looping and a linear volume ramp whenever a
// gain changes. The player writes the voices between two calls; the mixer only adds.
//
//     MixSettings settings = mixSettingsFor(44100);
//     mixVoices(voices, settings, mixBuffer + 2 * frame, frameCount);   // voices 0..63
#pragma once

#include <bit>
#include <cstdint>

#include "player/voice.h"

// Volume or level to gain: one unit below the single nearest to 1/255, so that full volume stays a
// hair under 1.0.
constexpr float GAIN_SCALE = std::bit_cast<float>(0x3B808080u);
// The top 31 bits of a position's fraction to an interpolation weight: 0.99989 x 2^-31, a little
// short of 2^-31, so the weight never quite reaches the next frame.
constexpr float INTERPOLATION_SCALE = std::bit_cast<float>(0x2FFFF910u);

// The ways the mixer can render a voice's frames. Each gives the same bits; the plain scalar one
// is the reference the others are tested against.
enum class MixerPath { SCALAR, SSE2, AVX2, AVX512 };

// Whether this build and this processor can take `path`.
bool mixerPathAvailable(MixerPath path);
// The fastest available path: what the mixer takes unless told otherwise.
MixerPath fastestMixerPath();
// Makes the mixer take `path` from now on; false, changing nothing, when it is not available.
// For tests and the benchmark; not to be called while a song is being mixed on another thread.
bool setMixerPath(MixerPath path);
MixerPath mixerPath();
const char* mixerPathName(MixerPath path);  // "scalar", "sse2", "avx2", "avx512"

// The sizes that follow from the output rate: blocks of about 1/50 s (a multiple of 4 frames),
// the looping buffer of the device, and volume ramps of 128 frames at 44100 Hz.
struct MixSettings {
    int32_t sampleRate;
    int32_t blockFrames;
    int32_t bufferFrames;
    int32_t blockCount;
    float inverseRate;
    int32_t rampFrames;
    float inverseRampFrames;
};

// Milliseconds of sound the device's looping buffer holds in each of its two halves.
constexpr int32_t BUFFER_MILLISECONDS = 1000;

MixSettings mixSettingsFor(int32_t rate);

// Adds voices 0..MIXED_VOICE_COUNT-1 of the table `voices` into `frameCount` stereo frames at
// `frames`.
void mixVoices(Voice* voices, const MixSettings& settings, float* frames, int32_t frameCount);
// Adds one voice into `frameCount` stereo frames at `frames`. With `frames` null the voice moves
// on by `frameCount` frames exactly as if they were mixed (position, direction, ramp, end), and
// nothing is added anywhere.
void mixVoice(Voice* voice, const MixSettings& settings, float* frames, int32_t frameCount);
