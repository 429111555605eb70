// The volume column and the effect column. On a row's first tick (tick 0) each channel applies
// its cell's volume column and then its effect once (row_effects.cpp); on every later tick the
// continuous part runs: slides, oscillators, portamento, retrigger, cut, delay, tremor
// (tick_effects.cpp). Effect types follow the XM numbering: 0x00..0x0F are 0..F, then G = 0x10,
// H = 0x11, K = 0x14, L = 0x15, P = 0x19, R = 0x1B, T = 0x1D, X = 0x21.
#pragma once

#include <cstdint>

#include "module/song.h"
#include "player/channel.h"

constexpr uint8_t EFFECT_ARPEGGIO = 0x00;
constexpr uint8_t EFFECT_PORTA_UP = 0x01;
constexpr uint8_t EFFECT_PORTA_DOWN = 0x02;
constexpr uint8_t EFFECT_TONE_PORTA = 0x03;
constexpr uint8_t EFFECT_VIBRATO = 0x04;
constexpr uint8_t EFFECT_TONE_PORTA_VOLUME_SLIDE = 0x05;
constexpr uint8_t EFFECT_VIBRATO_VOLUME_SLIDE = 0x06;
constexpr uint8_t EFFECT_TREMOLO = 0x07;
constexpr uint8_t EFFECT_SET_PANNING = 0x08;
constexpr uint8_t EFFECT_SAMPLE_OFFSET = 0x09;
constexpr uint8_t EFFECT_VOLUME_SLIDE = 0x0A;
constexpr uint8_t EFFECT_POSITION_JUMP = 0x0B;
constexpr uint8_t EFFECT_SET_VOLUME = 0x0C;
constexpr uint8_t EFFECT_PATTERN_BREAK = 0x0D;
constexpr uint8_t EFFECT_EXTENDED = 0x0E;
constexpr uint8_t EFFECT_SPEED_TEMPO = 0x0F;
constexpr uint8_t EFFECT_SET_GLOBAL_VOLUME = 0x10;
constexpr uint8_t EFFECT_GLOBAL_VOLUME_SLIDE = 0x11;
constexpr uint8_t EFFECT_KEY_OFF = 0x14;
constexpr uint8_t EFFECT_ENVELOPE_POSITION = 0x15;
constexpr uint8_t EFFECT_PANNING_SLIDE = 0x19;
constexpr uint8_t EFFECT_MULTI_RETRIGGER = 0x1B;
constexpr uint8_t EFFECT_TREMOR = 0x1D;
constexpr uint8_t EFFECT_EXTRA_FINE_PORTA = 0x21;

// Sub-effects of Exy, by x.
constexpr uint8_t EXTENDED_FINE_PORTA_UP = 0x1;
constexpr uint8_t EXTENDED_FINE_PORTA_DOWN = 0x2;
constexpr uint8_t EXTENDED_VIBRATO_WAVEFORM = 0x4;
constexpr uint8_t EXTENDED_SET_FINETUNE = 0x5;
constexpr uint8_t EXTENDED_PATTERN_LOOP = 0x6;
constexpr uint8_t EXTENDED_TREMOLO_WAVEFORM = 0x7;
constexpr uint8_t EXTENDED_SET_PANNING = 0x8;
constexpr uint8_t EXTENDED_RETRIGGER = 0x9;
constexpr uint8_t EXTENDED_FINE_VOLUME_UP = 0xA;
constexpr uint8_t EXTENDED_FINE_VOLUME_DOWN = 0xB;
constexpr uint8_t EXTENDED_NOTE_CUT = 0xC;
constexpr uint8_t EXTENDED_NOTE_DELAY = 0xD;
constexpr uint8_t EXTENDED_PATTERN_DELAY = 0xE;

// The channel's volume, period and panning as they were before its cell acted; a note delay
// (EDy) puts them back.
struct RowStartCopies {
    int32_t volume;
    int32_t period;
    int32_t panning;
};

// Tick 0.
void applyVolumeColumnRow(ChannelState* channel, uint8_t volumeColumn);
void applyRowEffect(Song* song, ChannelState* channel, const NoteCell& cell,
                    const ChannelSound& sound, const RowStartCopies& before, bool* jumpSeen);

// Later ticks.
void applyVolumeColumnTick(ChannelState* channel, uint8_t volumeColumn);
void applyTickEffect(Song* song, ChannelState* channel, const NoteCell& cell,
                     const ChannelSound& sound);

// Slides, shared by both. The volume slides keep the volume at or above 0 going down and at or
// below 64 going up (a volume set beyond 64 comes back only by sliding up); the panning slide
// leaves the panning unlimited, as the volume column does.
void slideVolumeUp(ChannelState* channel, int amount);
void slideVolumeDown(ChannelState* channel, int amount);
void slidePanning(ChannelState* channel, int change);

// Oscillators, shared by both.
void applyVibrato(ChannelState* channel);  // sets periodDelta from the phase; does not advance it
void advanceVibrato(ChannelState* channel);
void tremoloStep(ChannelState* channel);
void tonePortamentoStep(ChannelState* channel);
void tremorStep(ChannelState* channel);
void retrigStep(ChannelState* channel, const Song* song);
// A ProTracker song's portamentos (1xx, 2xx, E1x, E2x) stop at the ends of its three octaves:
// upward at period 113 (B-3), downward at 856 (C-1). Nothing for other songs.
void stopAtProtrackerLimit(const Song* song, ChannelState* channel, bool upward);
