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

#include "audio/mixer_taps.h"
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
void mixVoices(Voice* voices, const MixSettings& settings, float* frames, int32_t frameCount,
               Interpolation mode = Interpolation::LINEAR);
// One run of a voice's frames as the mixer renders it (between two of its boundaries: a tick, a
// loop end, a ramp end), kept to be rendered later, on another thread perhaps: where it starts
// in the sample and in the block, and the voice's gains and ramp as it starts.
struct PlannedRun {
    const int16_t* data;
    const Sample* sample;  // the voice's sample, whose loop the interpolations read across
    uint64_t position;  // 32.32
    uint64_t step;
    int32_t offset;  // first frame in the block
    int32_t frames;
    int32_t ramp;  // frames its volume ramp has left, 0 for none
    bool exactRamp;  // the ramp's running sums are all exact: the kernels may render it
    bool backward;
    int32_t channel;  // the song channel the voice plays for
    int32_t volumeLeft;
    int32_t volumeRight;
    int32_t levelLeft;
    int32_t levelRight;
    float rampDeltaLeft;
    float rampDeltaRight;
    // A filtered voice's run is rendered while planning (its filter needs the frames before):
    // its stereo frames start at this index of the plan's frames; -1 for the others.
    int32_t renderedAt;
};

// The runs of a block that add sound, in the order the mixer adds them. The runs and the frames
// of filtered runs are allocated with realloc as needed (releaseMixPlan releases them);
// `failed` when memory ran short.
struct MixPlan {
    PlannedRun* runs;
    int32_t count;
    int32_t capacity;
    bool failed;
    float* frames;
    int32_t frameCount;  // floats in use
    int32_t frameCapacity;
};
// Frees what a plan holds and leaves it empty.
void releaseMixPlan(MixPlan* plan);

// Moves the voice on by `frameCount` frames exactly as mixVoice(voice, settings, nullptr, ...)
// does, and appends to `plan` the runs that mixVoice(voice, settings, frames, ...) would render,
// placed from frame `offset` of the plan's block on; runs that would add only zeros are left out.
void planVoice(Voice* voice, const MixSettings& settings, int32_t offset, int32_t frameCount,
               MixPlan* plan);
// Adds a planned run into `block` (the plan's block of stereo frames) exactly as mixVoice would
// have added it there with `mode`. Rendering the runs of a plan in order adds the same bits as
// mixing; the plan itself does not depend on the interpolation (but for filtered voices, rendered
// as they are planned).
void renderPlannedRun(const PlannedRun& run, const MixPlan& plan, float* block,
                      Interpolation mode = Interpolation::LINEAR);

// Adds one voice into `frameCount` stereo frames at `frames`. With `frames` null the voice moves
// on by `frameCount` frames exactly as if they were mixed (position, direction, ramp, end), and
// nothing is added anywhere.
void mixVoice(Voice* voice, const MixSettings& settings, float* frames, int32_t frameCount,
              Interpolation mode = Interpolation::LINEAR);
