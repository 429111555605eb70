#include "player/voice_pool.h"

#include "player/channel.h"
#include "player/envelopes.h"
#include "player/impulse.h"

namespace {

constexpr int32_t PAIR_SPLIT = 32;  // channels below it keep the pairs they have always had
constexpr int32_t FIRST_BACKGROUND_VOICE = 128;

bool sounding(const Voice& voice) { return voice.sample != nullptr; }

// A free background channel, else the one whose voice is quietest now.
ChannelState* takeBackgroundChannel(PlayState* state) {
    ChannelState* quietest = &state->background[0];
    int32_t quietestLevel = INT32_MAX;
    for (ChannelState& slot : state->background) {
        if (!slot.active || !slot.voice || !sounding(*slot.voice)) return &slot;
        const int32_t level = slot.voice->volumeLeft + slot.voice->volumeRight;
        if (level < quietestLevel) {
            quietestLevel = level;
            quietest = &slot;
        }
    }
    return quietest;
}

}  // namespace

int32_t firstVoiceOf(int channel) { return channel < PAIR_SPLIT ? channel : channel + PAIR_SPLIT; }

int32_t twinOf(int32_t i) {
    if (i < 2 * PAIR_SPLIT) return i < PAIR_SPLIT ? i + PAIR_SPLIT : i - PAIR_SPLIT;
    return i < 3 * PAIR_SPLIT ? i + PAIR_SPLIT : i - PAIR_SPLIT;
}

void triggerVoice(const PlayState* state, ChannelState* channel, const Sample* sample) {
    Voice* voices = state->voices;
    Voice* voice = &voices[channel->voice->index];
    if (voice->sample) {
        const int32_t i = voice->index;
        const int32_t twin = twinOf(i);
        voices[twin] = *voice;
        voices[twin].index = twin;
        voice->finalVolume = 0;
        voice->mixVolume = 0;
        voice->volumeLeft = 0;
        voice->volumeRight = 0;
        voice = &voices[twin];
        channel->voice = voice;
    }
    voice->sample = sample;
    voice->nextSample = nullptr;
    voice->channel = channel->owner;
    voice->instrument = channel->instrumentIndex;
    const uint64_t loopEnd = static_cast<uint64_t>(sample->loopStart) + sample->loopLength;
    if (voice->startOffset >= loopEnd) voice->startOffset = 0;
    voice->position = voice->startOffset;
    voice->positionFraction = 0;
    voice->direction = DIRECTION_FORWARD;
    voice->startOffset = 0;
    voice->levelLeft = 0;
    voice->levelRight = 0;
    voice->rampRemaining = 0;
}

ChannelState* moveToBackground(PlayState* state, ChannelState* channel) {
    if (!channel->voice || !sounding(*channel->voice)) return nullptr;
    ChannelState* slot = takeBackgroundChannel(state);
    const int32_t index = FIRST_BACKGROUND_VOICE + static_cast<int32_t>(slot - state->background);
    Voice* voice = &state->voices[index];
    *voice = *channel->voice;
    voice->index = index;
    *slot = *channel;
    slot->voice = voice;
    slot->active = 1;
    channel->voice->sample = nullptr;
    return slot;
}

void processBackgroundChannels(PlayState* state) {
    // Only new-note actions send notes to the background: the others never look at the slots.
    if (!(state->behaviours & BEHAVIOUR_NEW_NOTE_ACTIONS)) return;
    for (ChannelState& slot : state->background) {
        if (!slot.active) continue;
        if (!slot.voice || !sounding(*slot.voice)) {
            slot.active = 0;
            continue;
        }
        const ChannelSound sound = resolveSound(state, &slot);
        slot.volumeDelta = 0;
        slot.periodDelta = 0;
        slot.updateFlags = 0;
        if (state->behaviours & BEHAVIOUR_ENVELOPE_RANGES) {
            advanceImpulseEnvelopes(state, &slot, sound);
        } else {
            advanceEnvelopes(state, &slot, sound.instrument, false);
            autoVibratoStep(&slot, sound.instrument);
        }
        updateVoice(state, &slot, sound.sample);
        // Faded out completely: the voice ramps to silence and the slot is free.
        if ((slot.keyOff || slot.fading) && slot.fadeoutVolume == 0) slot.active = 0;
    }
}

int backgroundNotesOf(const PlayState* state, int channel) {
    int count = 0;
    for (const ChannelState& slot : state->background) {
        if (slot.active && slot.voice && sounding(*slot.voice) &&
            (channel < 0 || slot.owner == channel)) {
            ++count;
        }
    }
    return count;
}
