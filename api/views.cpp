#include "views.h"

#include <cstdlib>
#include <cstring>

namespace {

constexpr float FULL_SCALE = 1.0f / 32768.0f;

uint8_t groupingsWanted(const ModuleViews* views) {
    return static_cast<uint8_t>(views->stemGrouping | (views->scopeFrames > 0 ? STEM_CHANNELS : 0));
}

}  // namespace

bool prepareViews(ModuleViews* views, AudioEngine* engine) {
    destroyStems(engine->stems);
    engine->stems = nullptr;
    const uint8_t groupings = groupingsWanted(views);
    if (groupings == 0 || !engine->currentSong) return true;
    const Song* song = engine->currentSong;
    engine->stems = createStems(song->channelCount, song->instruments ? song->instrumentCount : 0,
                                groupings, engine->settings.blockFrames);
    return engine->stems != nullptr;
}

void releaseViews(ModuleViews* views, AudioEngine* engine) {
    destroyStems(engine->stems);
    engine->stems = nullptr;
    free(views->scopes);
    views->scopes = nullptr;
    views->scopeFrames = 0;
}

bool setScopeFrames(ModuleViews* views, int32_t channels, int32_t frames) {
    free(views->scopes);
    views->scopes = nullptr;
    views->scopeFrames = 0;
    views->scopeHead = 0;
    views->scopeChannels = channels;
    if (frames <= 0 || channels <= 0) return true;
    views->scopes = static_cast<float*>(calloc(static_cast<size_t>(channels) * frames * 2, 4));
    if (!views->scopes) return false;
    views->scopeFrames = frames;
    return true;
}

void feedScopes(ModuleViews* views, const StemSet* stems, int32_t offset, int32_t count) {
    const int32_t length = views->scopeFrames;
    if (length <= 0 || count <= 0) return;
    // Only the last `length` frames of the run stay.
    if (count > length) {
        offset += count - length;
        views->scopeHead = (views->scopeHead + count - length) % length;
        count = length;
    }
    for (int32_t c = 0; c < views->scopeChannels; ++c) {
        const float* from = views->blockHasStems ? stemFrames(stems, STEM_CHANNELS, c) : nullptr;
        float* ring = views->scopes + 2 * static_cast<int64_t>(c) * length;
        int32_t at = views->scopeHead;
        for (int32_t k = 0; k < count; ++k) {
            ring[2 * at] = from ? from[2 * (offset + k)] * FULL_SCALE : 0.0f;
            ring[2 * at + 1] = from ? from[2 * (offset + k) + 1] * FULL_SCALE : 0.0f;
            at = at + 1 == length ? 0 : at + 1;
        }
    }
    views->scopeHead = (views->scopeHead + count) % length;
}

int32_t copyScope(const ModuleViews* views, int32_t channel, float* stereo, int32_t frames) {
    const int32_t length = views->scopeFrames;
    if (frames > length) frames = length;
    if (frames <= 0 || channel < 0 || channel >= views->scopeChannels) return 0;
    const float* ring = views->scopes + 2 * static_cast<int64_t>(channel) * length;
    int32_t at = (views->scopeHead - frames + length) % length;
    for (int32_t k = 0; k < frames; ++k) {
        stereo[2 * k] = ring[2 * at];
        stereo[2 * k + 1] = ring[2 * at + 1];
        at = at + 1 == length ? 0 : at + 1;
    }
    return frames;
}
