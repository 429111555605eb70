#include "player/channel_view.h"

#include "player/channel.h"
#include "player/sequencer.h"

namespace {

// The view of a channel but for its voice count.
ChannelView viewWithoutVoices(const PlayState* state, int channel) {
    ChannelView view = {};
    view.sample = -1;
    const ChannelState& playing = state->channels[channel];
    view.volume = static_cast<uint8_t>(playing.volume < 0    ? 0
                                       : playing.volume > 64 ? 64
                                                             : playing.volume);
    view.panning = static_cast<uint8_t>(playing.panning < 0     ? 0
                                        : playing.panning > 255 ? 255
                                                                : playing.panning);
    if (!playing.voice || !playing.voice->sample) return view;
    view.voice = *playing.voice;
    view.note = static_cast<uint8_t>(playing.noteIndex + 1);
    view.instrument = static_cast<uint8_t>(playing.instrumentIndex + 1);
    const ChannelSound sound = resolveSound(state, &playing);
    const Song* song = state->song;
    for (int slot = 0; slot < sound.instrument->sampleCount; ++slot) {
        if (instrumentSample(song, playing.instrumentIndex, slot) != sound.sample) continue;
        view.sample = static_cast<int16_t>(slot);
        break;
    }
    return view;
}

void countVoices(const PlayState* state, ChannelView* views, int count) {
    for (int v = 0; state->voices && v < MIXED_VOICE_COUNT; ++v) {
        const Voice& voice = state->voices[v];
        if (!voice.sample || voice.channel < 0 || voice.channel >= count) continue;
        if (views[voice.channel].voices < UINT8_MAX) ++views[voice.channel].voices;
    }
}

}  // namespace

ChannelView viewChannel(const PlayState* state, int channel) {
    ChannelView view = {};
    view.sample = -1;
    if (channel < 0 || channel >= playedChannelCount(state->song)) return view;
    view = viewWithoutVoices(state, channel);
    for (int v = 0; state->voices && v < MIXED_VOICE_COUNT; ++v) {
        const Voice& voice = state->voices[v];
        if (voice.sample && voice.channel == channel && view.voices < UINT8_MAX) ++view.voices;
    }
    return view;
}

void viewChannels(const PlayState* state, ChannelView* views) {
    const int count = playedChannelCount(state->song);
    for (int c = 0; c < count; ++c) views[c] = viewWithoutVoices(state, c);
    countVoices(state, views, count);
}
