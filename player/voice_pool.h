// Which voice each channel drives. Song channel c owns a pair of voices and plays on one of them;
// a new note moves to the other while the old note fades out where it was (no clicks):
//
//     channels 0..31:   voices c and c + 32           (the pairs XM and MOD have always used)
//     channels 32..63:  voices c + 32 and c + 64
//     background 0..63: voice 128 + b                 (notes sounding on after their channel
//                                                      started another)
//
// A channel hands its sounding note to the background with moveToBackground (a format's new-note
// action does); the note then lives in a background channel of the playing state that steps its
// envelopes and fade-out every tick until it falls silent (processBackgroundChannels). When all
// BACKGROUND_CHANNELS are busy, the quietest is taken over.
#pragma once

#include <cstdint>

#include "player/player_state.h"

// The voice channel `channel` plays on at play start.
int32_t firstVoiceOf(int channel);
// The other voice of a channel's pair.
int32_t twinOf(int32_t voiceIndex);

// Starts a note of `sample` on the channel's voice: a voice that still sounds is handed over to
// its twin, which takes the new note, while the old one keeps playing at gain 0 and so ramps out.
void triggerVoice(const PlayState* state, ChannelState* channel, const Sample* sample);

// Moves the note the channel plays into a background channel, where it sounds on; the channel's
// voice falls silent at once (the background voice carries on its waveform). Null when the channel
// plays nothing.
ChannelState* moveToBackground(PlayState* state, ChannelState* channel);

// Every tick, after the song's channels: each background note's envelopes, fade-out and voice.
// A background channel whose voice has fallen silent is free again.
void processBackgroundChannels(PlayState* state);

// The background channels holding a note of song channel `channel` (-1: of any).
int backgroundNotesOf(const PlayState* state, int channel);
