// Envelopes, fade-out and auto-vibrato: the instrument's shaping of a note, stepped once per tick
// for every channel. The volume envelope's output (0..64) and the fade-out level (0..65536) scale
// the volume, the panning envelope's output (0..64, 32 = centre) moves the panning, and the
// auto-vibrato adds to the tick's pitch offset. updateVoice reads all of them.
#pragma once

#include <cstdint>

#include "module/song.h"
#include "player/player_state.h"

// Advances one envelope by a tick: moves toward the next point, holds at the sustain point until
// key-off, jumps from the loop end back to the loop start, and stops (done) at the last point.
// `updateBit` is UPDATE_VOLUME or UPDATE_PANNING. With `heldForGood`, an envelope that has held at
// its sustain point holds there after the key-off too.
void envelopeStep(ChannelState* channel, EnvelopeState* envelope, const Envelope& shape,
                  uint8_t updateBit, bool heldForGood = false);

// Effect L: moves the volume envelope to `position` ticks from its start (nothing when the
// instrument's volume envelope is off), and with BEHAVIOUR_ENVELOPE_POSITION_MOVES_PANNING the
// panning envelope too where the volume envelope has a sustain point. The sustain point is not
// considered.
void setEnvelopePositions(const PlayState* state, ChannelState* channel,
                          const Instrument* instrument, int position);

// The per-tick part before the effects: both envelopes and, once the key is released, the
// fade-out. At a row start a released note on an instrument without a volume envelope falls
// silent at once.
void advanceEnvelopes(const PlayState* state, ChannelState* channel, const Instrument* instrument,
                      bool rowStart);

// Releases the note: the fade-out starts, and an instrument without a volume envelope falls
// silent at once (with BEHAVIOUR_KEY_OFF_ZEROES_VOLUME by a volume of 0).
void releaseNote(const PlayState* state, ChannelState* channel, const Instrument* instrument);

// Adds the instrument's automatic vibrato to periodDelta (after the tick's effects have set it)
// and asks for a pitch update, always.
void autoVibratoStep(ChannelState* channel, const Instrument* instrument);
