// Every tick of a row after the first: envelopes and fade-out, then the continuous part of the
// volume column and the effect (slides, oscillators, portamento, retrigger, cut, delay, tremor).
#include <algorithm>

#include "player/effects.h"
#include "player/envelopes.h"
#include "player/impulse.h"
#include "player/impulse_effects.h"
#include "player/sequencer.h"
#include "player/voice_pool.h"

namespace {

// The note after B-7, where FastTracker 2's arpeggio stops.
constexpr int ARPEGGIO_TOP_NOTE = 96;

void arpeggio(const PlayState* state, ChannelState* channel, const Sample* sample, uint8_t param) {
    if (param == 0) return;
    // Base note, then the high nibble's interval, then the low nibble's, one per tick; or the
    // same counted back from the row's end.
    int phase = state->tick % 3;
    if (state->behaviours & BEHAVIOUR_ARPEGGIO_BY_TICKS_LEFT)
        phase = ((state->speed - state->tick) % 3 + 3) % 3;
    if (phase != 0) {
        int offset = phase == 1 ? param >> 4 : param & 0x0F;
        if (state->behaviours & BEHAVIOUR_ARPEGGIO_CLAMPS_AT_TOP)
            offset = std::max(0, std::min(offset, ARPEGGIO_TOP_NOTE - channel->realNote));
        if (usesLinearPeriods(state->song)) {
            channel->periodDelta = offset * 64;
        } else if (state->behaviours & BEHAVIOUR_PROTRACKER_PERIODS) {
            const int finetune = sampleFinetune(state, sample);
            channel->periodDelta =
                protrackerArpeggioPeriod(channel->period, finetune, offset) - channel->period;
        } else if (sample->middleCRate) {
            channel->periodDelta = ratePeriod(channel->realNote + offset, sample->middleCRate) -
                                   ratePeriod(channel->realNote, sample->middleCRate);
        } else {
            const int finetune = sampleFinetune(state, sample);
            channel->periodDelta = amigaPeriod(channel->realNote + offset, finetune) -
                                   amigaPeriod(channel->realNote, finetune);
        }
    }
    channel->updateFlags |= UPDATE_PITCH;
}

// The vibrato of the vibrato commands on a later tick; some formats swing downward first.
void vibratoTick(const PlayState* state, ChannelState* channel) {
    applyVibrato(state, channel);
    if (state->behaviours & BEHAVIOUR_VIBRATO_STARTS_DOWNWARD)
        channel->periodDelta = -channel->periodDelta;
    advanceVibrato(channel);
}

// T0y slows the tempo by y on every tick after the first, T1y speeds it up; 32..255.
void tempoSlide(PlayState* state, uint8_t param) {
    const int change = param & 0x0F;
    int bpm = state->bpm + ((param >> 4) == 1 ? change : -change);
    if (bpm < 32) bpm = 32;
    if (bpm > 255) bpm = 255;
    setBpm(state, bpm);
}

void globalVolumeSlide(PlayState* state) {
    const int up = state->globalVolumeSlideMemory >> 4;
    const int down = state->globalVolumeSlideMemory & 0x0F;
    if (up) {
        state->globalVolume += up;
        if (state->globalVolume > 64) state->globalVolume = 64;
    } else if (down) {
        state->globalVolume -= down;
        if (state->globalVolume < 0) state->globalVolume = 0;
    }
}

void panningSlide(ChannelState* channel) {
    const int right = channel->panningSlideMemory >> 4;
    const int left = channel->panningSlideMemory & 0x0F;
    // Limited here, which also brings back a panning that a volume-column slide carried outside.
    if (right) {
        channel->panning = addSaturated(channel->panning, right);
        if (channel->panning > 255) channel->panning = 255;
    } else if (left) {
        channel->panning = addSaturated(channel->panning, -left);
        if (channel->panning < 0) channel->panning = 0;
    }
    channel->updateFlags |= UPDATE_PANNING;
}

void noteDelay(const PlayState* state, ChannelState* channel, const NoteCell& cell,
               const ChannelSound& sound) {
    if (cell.note == 0 && (state->behaviours & BEHAVIOUR_NOTE_DELAY_NEEDS_NOTE)) return;
    // A row repeated by a pattern delay counts its ticks again in every repetition, or on.
    int tick = state->tick;
    if ((state->behaviours & BEHAVIOUR_PATTERN_DELAY_REPEATS_NOTE_DELAY) && state->speed > 0)
        tick %= state->speed;
    if (tick != cell.effect.param) {
        holdSoundUpdates(channel);
        return;
    }
    if (cell.note == NOTE_KEY_OFF && (state->behaviours & BEHAVIOUR_DELAY_HOLDS_KEY_OFF)) {
        releaseNote(state, channel, sound.instrument);
        return;
    }
    const Sample* sample = sound.sample;
    resetChannelInstrument(channel, sample);
    channel->period = channel->notePeriod;
    channel->updateFlags |= UPDATE_PITCH;
    if (cell.volume.command != VOL_NONE) applyVolumeColumnRow(state, channel, cell.volume);
    channel->updateFlags |= UPDATE_TRIGGER;
}

}  // namespace

void applyVolumeColumnTick(const PlayState* state, ChannelState* channel, CellCommand volume) {
    const int x = volume.param;
    switch (volume.command) {
        case VOL_SLIDE_DOWN: slideVolumeDown(channel, x); break;
        case VOL_SLIDE_UP: slideVolumeUp(channel, x); break;
        case VOL_VIBRATO:
            channel->vibratoDepth = static_cast<uint8_t>(x);
            applyVibrato(state, channel);
            advanceVibrato(channel);
            break;
        case VOL_PANNING_SLIDE_LEFT:
            // Slid to the left of 0, or by 0, the panning goes hard left, where the profile says.
            if ((state->behaviours & BEHAVIOUR_COLUMN_PANNING_SLIDES_LATER) &&
                (x == 0 || x > channel->panning)) {
                slidePanning(channel, -channel->panning);
            } else {
                slidePanning(channel, -x);
            }
            break;
        case VOL_PANNING_SLIDE_RIGHT: slidePanning(channel, x); break;
        case VOL_TONE_PORTA: tonePortamentoStep(state, channel); break;
        default: break;
    }
}

void applyTickEffect(PlayState* state, ChannelState* channel, const NoteCell& cell,
                     const ChannelSound& sound) {
    const uint8_t y = cell.effect.param;
    if ((state->behaviours & BEHAVIOUR_IMPULSE_EFFECTS) &&
        impulseTickEffect(state, channel, cell, sound)) {
        return;
    }
    switch (cell.effect.command) {
        case CMD_ARPEGGIO: arpeggio(state, channel, sound.sample, cell.effect.param); break;
        case CMD_PORTA_UP:
            channel->periodDelta = 0;
            if (isFinePorta(state, channel->portaUpMemory)) break;
            channel->period = addSaturated(channel->period, -4 * channel->portaUpMemory);
            if (state->behaviours & BEHAVIOUR_PORTAMENTO_UP_TO_PERIOD_ONE) {
                if (channel->period < 1) channel->period = 1;
            } else if (channel->period <= 55) {
                channel->period = 56;
            }
            stopAtAmigaLimit(state, channel, true);
            channel->updateFlags |= UPDATE_PITCH;
            break;
        case CMD_PORTA_DOWN:
            channel->periodDelta = 0;
            if (isFinePorta(state, channel->portaDownMemory)) break;
            channel->period = addSaturated(channel->period, 4 * channel->portaDownMemory);
            stopAtAmigaLimit(state, channel, false);
            channel->updateFlags |= UPDATE_PITCH;
            break;
        case CMD_TONE_PORTA:
            channel->periodDelta = 0;
            tonePortamentoStep(state, channel);
            glissandoStep(state, channel, sound.sample);
            break;
        case CMD_VIBRATO: vibratoTick(state, channel); break;
        case CMD_FINE_VIBRATO:
            vibratoTick(state, channel);
            channel->periodDelta /= 4;
            break;
        case CMD_TEMPO_SLIDE: tempoSlide(state, y); break;
        case CMD_TONE_PORTA_VOLUME_SLIDE:
            channel->periodDelta = 0;
            tonePortamentoStep(state, channel);
            glissandoStep(state, channel, sound.sample);
            slideVolume(state, channel, channel->volumeSlideMemory);
            break;
        case CMD_VIBRATO_VOLUME_SLIDE:
            vibratoTick(state, channel);
            slideVolume(state, channel, channel->volumeSlideMemory);
            break;
        case CMD_TREMOLO: tremoloStep(state, channel); break;
        case CMD_VOLUME_SLIDE: slideVolume(state, channel, channel->volumeSlideMemory); break;
        case CMD_RETRIGGER: {
            // The sample restarts; the envelopes run on. A pattern delay's repetitions may count
            // their ticks from 0 again, the first of them starting a note where the cell has none.
            int tick = state->tick;
            if ((state->behaviours & BEHAVIOUR_RETRIGGER_EVERY_REPETITION) && state->speed > 0)
                tick %= state->speed;
            if (y != 0 && tick % y == 0 && !(tick == 0 && cell.note != 0)) {
                channel->updateFlags |= UPDATE_TRIGGER | UPDATE_VOLUME | UPDATE_PITCH;
            }
            break;
        }
        case CMD_NOTE_CUT:
            if (state->tick == y) {
                channel->volume = 0;
                channel->updateFlags |= UPDATE_VOLUME;
            }
            break;
        case CMD_NOTE_DELAY: noteDelay(state, channel, cell, sound); break;
        case CMD_KEY_OFF:
            if ((state->behaviours & BEHAVIOUR_KEY_OFF_ON_ITS_TICK) && state->tick == y)
                releaseNote(state, channel, sound.instrument);
            break;
        case CMD_GLOBAL_VOLUME_SLIDE:
            globalVolumeSlide(state);
            refreshVolumes(state);
            break;
        case CMD_PANNING_SLIDE: panningSlide(channel); break;
        case CMD_MULTI_RETRIGGER: retrigStep(state, channel, cell.volume); break;
        case CMD_TREMOR: tremorStep(state, channel); break;
        default: break;
    }
}

void processTickEffects(PlayState* state) {
    const NoteCell* cells = currentRowCells(state);
    if (cells) {
        const int channels = playedChannelCount(state->song);
        for (int c = 0; c < channels; ++c) {
            ChannelState* channel = &state->channels[c];
            const NoteCell cell = withSharedMemory(state, channel, cells[c]);
            const ChannelSound sound = resolveSound(state, channel);
            channel->volumeDelta = 0;
            channel->periodDelta = 0;
            channel->updateFlags = 0;
            if (state->behaviours & BEHAVIOUR_ENVELOPE_RANGES) {
                if (!impulseVolumeColumnTick(state, channel, cell.volume))
                    applyVolumeColumnTick(state, channel, cell.volume);
                applyTickEffect(state, channel, cell, sound);
                advanceImpulseEnvelopes(state, channel, sound);
                updateVoice(state, channel, sound.sample);
                continue;
            }
            advanceEnvelopes(state, channel, sound.instrument, false);
            applyVolumeColumnTick(state, channel, cell.volume);
            applyTickEffect(state, channel, cell, sound);
            autoVibratoStep(channel, sound.instrument);
            updateVoice(state, channel, sound.sample);
        }
    }
    processBackgroundChannels(state);
}
