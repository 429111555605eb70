// Stems: the share of the mix that each song channel, or each instrument, plays, rendered in the
// same pass as the mix. Every voice is mixed into the mix exactly as without stems (so the mix
// keeps its bits), and a copy of the voice, standing where the voice stands, is mixed once more
// into the block of its stem: its channel's (voice->channel, background notes included) and its
// instrument's (voice->instrument). The copy renders the very frames the voice adds to the mix;
// only the sums differ, each stem adding its own voices in index order. A muted channel's voices
// add nothing to any stem.
//
//     StemSet* stems = createStems(channels, instruments, STEM_CHANNELS, blockFrames);
//     clearStems(stems);                                   // at the start of a block
//     mixVoicesWithStems(voices, settings, controls, mix, stems, 0, frames);   // a piece
//     shapeStems(stems, controls, rate, led);              // as the mix is shaped
//     const float* channel3 = stemFrames(stems, STEM_CHANNELS, 3);
//     destroyStems(stems);
//
// The sum of the stems of one grouping, added in stem order, is the mix up to the rounding of
// single-precision sums: the mix rounds after each voice, a stem after each of its own voices.
#pragma once

#include <cstdint>

#include "audio/mixer.h"
#include "audio/mixer_taps.h"
#include "audio/pcm.h"
#include "player/voice.h"

// Which groupings a StemSet renders: bits that may be combined.
constexpr uint8_t STEM_CHANNELS = 1;
constexpr uint8_t STEM_INSTRUMENTS = 2;

struct StemSet {
    uint8_t groupings;  // STEM_CHANNELS | STEM_INSTRUMENTS
    int32_t channels;  // stems of the channel grouping: one per song channel
    int32_t instruments;  // stems of the instrument grouping: one per instrument
    int32_t blockFrames;
    float* frames;  // each stem's block of stereo frames, channels first, 16-byte aligned
    void* allocation;
    AmigaFilterState* filters;  // each stem's Amiga output filters, from rest at creation
};

// Blocks of `blockFrames` frames for the groupings asked; null when memory is short or nothing
// is asked.
StemSet* createStems(int32_t channels, int32_t instruments, uint8_t groupings, int32_t blockFrames);
void destroyStems(StemSet* stems);  // null is fine

// The block of stem `index` of `grouping`; null when the set does not render it.
float* stemFrames(StemSet* stems, uint8_t grouping, int32_t index);
const float* stemFrames(const StemSet* stems, uint8_t grouping, int32_t index);

// Silence in every stem's block.
void clearStems(StemSet* stems);
// Mixes voices 0..MIXED_VOICE_COUNT-1 into `frames` frames of `mix` as mixVoices does with the
// controls' interpolation (a muted channel's voices move on without sound), and each voice that
// is heard into frames `offset` on of its stems' blocks.
void mixVoicesWithStems(Voice* voices, const MixSettings& settings, const OutputControls& controls,
                        float* mix, StemSet* stems, int32_t offset, int32_t frames);
// Shapes every stem's block as the mix is shaped: shapeMix, then, with the Amiga's sound, its
// output filters at `rate`, the LED filter on when `led` (each stem through filters of its own).
void shapeStems(StemSet* stems, const OutputControls& controls, int32_t rate, bool led);
