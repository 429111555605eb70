#include "audio/stems.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {

int32_t stemCount(const StemSet* stems) {
    return ((stems->groupings & STEM_CHANNELS) ? stems->channels : 0) +
           ((stems->groupings & STEM_INSTRUMENTS) ? stems->instruments : 0);
}

// A copy of the voice, rendered into its stem's block where the stem is rendered and exists.
void mixIntoStem(const Voice& voice, const MixSettings& settings, Interpolation mode,
                 StemSet* stems, uint8_t grouping, int32_t index, int32_t offset, int32_t frames) {
    float* block = stemFrames(stems, grouping, index);
    if (!block) return;
    Voice copy = voice;
    mixVoice(&copy, settings, block + 2 * offset, frames, mode);
}

}  // namespace

StemSet* createStems(int32_t channels, int32_t instruments, uint8_t groupings,
                     int32_t blockFrames) {
    if (groupings == 0 || blockFrames <= 0 || channels < 0 || instruments < 0) return nullptr;
    auto* stems = static_cast<StemSet*>(calloc(1, sizeof(StemSet)));
    if (!stems) return nullptr;
    stems->groupings = groupings;
    stems->channels = channels;
    stems->instruments = instruments;
    stems->blockFrames = blockFrames;
    const size_t bytes = static_cast<size_t>(stemCount(stems)) * blockFrames * 8;
    stems->allocation = calloc(bytes + 16, 1);
    stems->filters =
        static_cast<AmigaFilterState*>(calloc(stemCount(stems), sizeof(AmigaFilterState)));
    if (!stems->allocation || !stems->filters) {
        destroyStems(stems);
        return nullptr;
    }
    auto address = reinterpret_cast<uintptr_t>(stems->allocation);
    stems->frames = reinterpret_cast<float*>((address + 15) & ~uintptr_t{15});
    return stems;
}

void destroyStems(StemSet* stems) {
    if (!stems) return;
    free(stems->allocation);
    free(stems->filters);
    free(stems);
}

float* stemFrames(StemSet* stems, uint8_t grouping, int32_t index) {
    if (!stems || !(stems->groupings & grouping) || index < 0) return nullptr;
    int32_t first = 0;
    if (grouping == STEM_CHANNELS) {
        if (index >= stems->channels) return nullptr;
    } else {
        if (index >= stems->instruments) return nullptr;
        if (stems->groupings & STEM_CHANNELS) first = stems->channels;
    }
    return stems->frames + 2 * static_cast<int64_t>(first + index) * stems->blockFrames;
}

const float* stemFrames(const StemSet* stems, uint8_t grouping, int32_t index) {
    return stemFrames(const_cast<StemSet*>(stems), grouping, index);
}

void clearStems(StemSet* stems) {
    if (!stems) return;
    memset(stems->frames, 0, static_cast<size_t>(stemCount(stems)) * stems->blockFrames * 8);
}

void mixVoicesWithStems(Voice* voices, const MixSettings& settings, const OutputControls& controls,
                        float* mix, StemSet* stems, int32_t offset, int32_t frames) {
    if (frames <= 0) return;
    const Interpolation mode = mixInterpolation(controls);
    for (int v = 0; v < MIXED_VOICE_COUNT; ++v) {
        Voice* voice = &voices[v];
        if (!voice->sample) continue;
        const bool muted = channelMuted(controls, voice->channel);
        if (!muted) {
            mixIntoStem(*voice, settings, mode, stems, STEM_CHANNELS, voice->channel, offset,
                        frames);
            mixIntoStem(*voice, settings, mode, stems, STEM_INSTRUMENTS, voice->instrument, offset,
                        frames);
        }
        mixVoice(voice, settings, muted ? nullptr : mix, frames, mode);
    }
}

void shapeStems(StemSet* stems, const OutputControls& controls, int32_t rate, bool led) {
    if (!stems) return;
    const int32_t count = stemCount(stems);
    for (int32_t s = 0; s < count; ++s) {
        float* block = stems->frames + 2 * static_cast<int64_t>(s) * stems->blockFrames;
        shapeMix(block, stems->blockFrames, controls);
        amigaFilterBlock(&stems->filters[s], block, stems->blockFrames, rate, controls.amiga, led);
    }
}
