// Impulse Tracker's part of the player: notes at their sample's middle-C rate with sample,
// instrument and channel volumes; new-note actions and duplicate checks that send the channel's
// note into a background channel (voice_pool.h); the past-note commands; envelopes with loop and
// sustain ranges, carry, the pitch and filter envelope; the sample's auto-vibrato; fading; the
// resonant filter and the MIDI macros that set it. The behaviour flags BEHAVIOUR_MIDDLE_C_RATES,
// _LAYERED_VOLUMES, _NEW_NOTE_ACTIONS, _ENVELOPE_RANGES and _RESONANT_FILTER switch these on; the
// channel code calls in here where they are set.
#pragma once

#include <cstdint>

#include "module/song.h"
#include "player/channel.h"
#include "player/player_state.h"

// Before a channel starts the note of `cell`: the duplicate check on its past notes, then the new
// note action on the note it plays (into the background, released or fading, or cut).
void newNoteActions(PlayState* state, ChannelState* channel, const NoteCell& cell);
// A note starts (or, with `newInstrument`, its instrument is set again): rate, volumes, swings,
// NNA, filter, and the envelopes from their start unless they carry on.
void startImpulseNote(PlayState* state, ChannelState* channel, const ChannelSound& sound,
                      bool noteStarts);
// The note column's events: release (sustain loops end, fading where no volume envelope holds
// the note), cut, fade.
void releaseImpulseNote(ChannelState* channel, const Instrument* instrument);
void cutNote(ChannelState* channel);
// S70..S72: the channel's past notes are cut, released or faded.
void pastNotes(PlayState* state, const ChannelState* channel, uint8_t action);
// S77..S7C.
void switchEnvelope(ChannelState* channel, uint8_t param);

// Every tick: the envelopes (volume, panning, pitch or filter), fade-out and the sample's
// auto-vibrato.
void advanceImpulseEnvelopes(const PlayState* state, ChannelState* channel,
                             const ChannelSound& sound);

// The MIDI macro command (Zxx) through the song's macros or the tracker's defaults: the filter
// cutoff and resonance messages set the channel's filter.
void playMidiMacro(const PlayState* state, ChannelState* channel, uint8_t param);
// The filter's coefficients for the channel's voice, from its cutoff, resonance and filter
// envelope at the output rate.
void updateFilter(const PlayState* state, ChannelState* channel);
