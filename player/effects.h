// The volume column and the effect column, in the engine's commands (module/commands.h). On a
// row's first tick (tick 0) each channel applies its cell's volume column and then its effect once
// (row_effects.cpp); on every later tick the continuous part runs: slides, oscillators,
// portamento, retrigger, cut, delay, tremor (tick_effects.cpp). The slides and oscillators both
// use live in slides.cpp.
#pragma once

#include <cstdint>

#include "module/song.h"
#include "player/channel.h"
#include "player/player_state.h"

// The channel's volume, period and panning as they were before its cell acted; a note delay
// puts them back.
struct RowStartCopies {
    int32_t volume;
    int32_t period;
    int32_t panning;
};

// Tick 0.
void applyVolumeColumnRow(const PlayState* state, ChannelState* channel, CellCommand volume);
void applyRowEffect(PlayState* state, ChannelState* channel, const NoteCell& cell,
                    const ChannelSound& sound, const RowStartCopies& before, bool* jumpSeen);

// Later ticks.
void applyVolumeColumnTick(const PlayState* state, ChannelState* channel, CellCommand volume);
void applyTickEffect(PlayState* state, ChannelState* channel, const NoteCell& cell,
                     const ChannelSound& sound);

// Slides, shared by both. The volume slides keep the volume at or above 0 going down and at or
// below 64 going up (a volume set beyond 64 comes back only by sliding up); the panning slide
// leaves the panning unlimited, as the volume column does.
void slideVolumeUp(ChannelState* channel, int amount);
void slideVolumeDown(ChannelState* channel, int amount);
void slidePanning(ChannelState* channel, int change);
// The volume slide of parameter xy on a tick after the first: x0 up, 0y down; nothing for a
// fine form (BEHAVIOUR_FINE_SLIDE_FORMS: xF and Fy, x and y not 0), which volumeSlideRow plays
// once on the first tick, with the plain slides of formats that slide on every tick.
bool isFineVolumeSlide(const PlayState* state, uint8_t memory);
void slideVolume(const PlayState* state, ChannelState* channel, uint8_t memory);
void volumeSlideRow(const PlayState* state, ChannelState* channel);
// The portamentos' fine forms (BEHAVIOUR_FINE_SLIDE_FORMS): Fx and Ex move once, on the first
// tick (portaRow); the later ticks leave them alone.
bool isFinePorta(const PlayState* state, uint8_t memory);
void portaRow(const PlayState* state, ChannelState* channel, uint8_t memory, bool upward);

// Oscillators, shared by both.
// Sets periodDelta from the phase; does not advance it.
void applyVibrato(const PlayState* state, ChannelState* channel);
void advanceVibrato(ChannelState* channel);
void tremoloStep(const PlayState* state, ChannelState* channel);
void tonePortamentoStep(const PlayState* state, ChannelState* channel);
// With the glissando on (BEHAVIOUR_GLISSANDO), the pitch a tone portamento has reached sounds as
// the nearest semitone of the sample.
void glissandoStep(const PlayState* state, ChannelState* channel, const Sample* sample);
void tremorStep(const PlayState* state, ChannelState* channel);
// Rxy's step: every retrigInterval ticks of the row, or of the count that
// BEHAVIOUR_RETRIGGER_COUNTS_TICKS keeps across rows (where a volume in the cell's volume column is
// the volume of each note it starts).
void retrigStep(const PlayState* state, ChannelState* channel, CellCommand volumeColumn = {});
// With BEHAVIOUR_AMIGA_PERIOD_LIMITS the portamentos stop at the ends of ProTracker's three
// octaves: upward at period 113 (B-3), downward at 856 (C-1). Nothing otherwise.
void stopAtAmigaLimit(const PlayState* state, ChannelState* channel, bool upward);
