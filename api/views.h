// What a module shows besides its mix: the stems its engine renders (audio/stems.h) and the
// scopes, each channel's own signal over the last frames handed out, kept in one ring of frames
// per channel that all move on together.
#pragma once

#include <cstdint>

#include "audio/scheduler.h"

struct ModuleViews {
    uint8_t stemGrouping;  // STEM_CHANNELS, STEM_INSTRUMENTS or 0, as the host asked
    int32_t scopeFrames;  // 0: no scopes
    float* scopes;  // channels rings of scopeFrames stereo frames
    int32_t scopeChannels;
    int32_t scopeHead;  // where the next frame goes in every ring
    bool blockHasStems;  // the block being handed out was mixed with the engine's stems
};

// Gives the engine the stem set the views need at its current block size (none when neither
// stems nor scopes are on); false when memory is short, the engine then left without.
bool prepareViews(ModuleViews* views, AudioEngine* engine);
// Releases the scopes and the engine's stem set.
void releaseViews(ModuleViews* views, AudioEngine* engine);
// Sets the scopes' length (0: off) and clears them; false when memory is short.
bool setScopeFrames(ModuleViews* views, int32_t channels, int32_t frames);
// Moves the scopes on by `count` frames from frame `offset` of the engine's stems' block (silence
// when the block has no stems).
void feedScopes(ModuleViews* views, const StemSet* stems, int32_t offset, int32_t count);
// The last `frames` frames of channel `channel`'s ring, oldest first, 1.0 full scale.
int32_t copyScope(const ModuleViews* views, int32_t channel, float* stereo, int32_t frames);
