// Every tick of a row after the first: envelopes and fade-out, then the continuous part of the
// volume column and the effect (slides, oscillators, portamento, retrigger, cut, delay, tremor).
#include <cmath>

#include "player/effects.h"
#include "player/envelopes.h"
#include "player/sequencer.h"

namespace {

constexpr int WAVEFORM_SINE = 0;
constexpr int WAVEFORM_RAMP = 1;

// Magnitude 0..255 of an oscillator at phase -32..31 (one period is 64 steps); the sign comes
// from the phase. Waveform 2 and 3 are square, except that the caller maps tremolo's 3 to sine.
int waveformValue(int waveform, int phase) {
    if (waveform == WAVEFORM_SINE) {
        // The constants as double-precision values, the argument in extended precision, the
        // sine in double.
        long double argument = static_cast<long double>(phase) * 2.0L *
                               static_cast<long double>(3.141592) *
                               static_cast<long double>(0.015625);
        return static_cast<int>(std::fabs(std::sin(static_cast<double>(argument))) * 256.0);
    }
    if (waveform == WAVEFORM_RAMP) {
        int ramp = (phase & 31) * 8;
        return phase < 0 ? 255 - ramp : ramp;
    }
    return 255;
}

int8_t advancePhase(int8_t phase, uint8_t speed) {
    int next = phase + speed;
    if (next > 31) next -= 64;
    return static_cast<int8_t>(next);
}

void slideVolume(ChannelState* channel, uint8_t memory) {
    const int up = memory >> 4;
    const int down = memory & 0x0F;
    // The upward slide wins when both nibbles are set.
    if (up) {
        slideVolumeUp(channel, up);
    } else if (down) {
        slideVolumeDown(channel, down);
    }
    channel->updateFlags |= UPDATE_VOLUME;
}

void arpeggio(const Song* song, ChannelState* channel, const Sample* sample, uint8_t param) {
    if (param == 0) return;
    // Base note, then the high nibble's interval, then the low nibble's, one per tick.
    const int phase = song->tick % 3;
    if (phase != 0) {
        const int offset = phase == 1 ? param >> 4 : param & 0x0F;
        if (usesLinearPeriods(song)) {
            channel->periodDelta = offset * 64;
        } else {
            channel->periodDelta = amigaPeriod(channel->realNote + offset, sample->finetune) -
                                   amigaPeriod(channel->realNote, sample->finetune);
        }
    }
    channel->updateFlags |= UPDATE_PITCH;
}

// The vibrato of 4xy and 6xy on a later tick. ProTracker's swings the other way round in Amiga
// periods: it starts downward.
void vibratoTick(const Song* song, ChannelState* channel) {
    applyVibrato(channel);
    if (song->protrackerRules) channel->periodDelta = -channel->periodDelta;
    advanceVibrato(channel);
}

void globalVolumeSlide(Song* song) {
    const int up = song->globalVolumeSlideMemory >> 4;
    const int down = song->globalVolumeSlideMemory & 0x0F;
    if (up) {
        song->globalVolume += up;
        if (song->globalVolume > 64) song->globalVolume = 64;
    } else if (down) {
        song->globalVolume -= down;
        if (song->globalVolume < 0) song->globalVolume = 0;
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

void noteDelay(const Song* song, ChannelState* channel, const NoteCell& cell,
               const Sample* sample) {
    const int delay = cell.param & 0x0F;
    if (song->tick != delay) {
        holdSoundUpdates(channel);
        return;
    }
    resetChannelInstrument(channel, sample);
    channel->period = channel->notePeriod;
    channel->updateFlags |= UPDATE_PITCH;
    if (cell.volumeColumn != 0) applyVolumeColumnRow(channel, cell.volumeColumn);
    channel->updateFlags |= UPDATE_TRIGGER;
}

void extendedTickEffect(const Song* song, ChannelState* channel, const NoteCell& cell,
                        const Sample* sample) {
    const int y = cell.param & 0x0F;
    switch (cell.param >> 4) {
        case EXTENDED_RETRIGGER:
            // The sample restarts; the envelopes run on.
            if (y != 0 && song->tick % y == 0) {
                channel->updateFlags |= UPDATE_TRIGGER | UPDATE_VOLUME | UPDATE_PITCH;
            }
            break;
        case EXTENDED_NOTE_CUT:
            if (song->tick == y) {
                channel->volume = 0;
                channel->updateFlags |= UPDATE_VOLUME;
            }
            break;
        case EXTENDED_NOTE_DELAY: noteDelay(song, channel, cell, sample); break;
        default: break;
    }
}

}  // namespace

void slideVolumeUp(ChannelState* channel, int amount) {
    channel->volume += amount;
    if (channel->volume > 64) channel->volume = 64;
    channel->updateFlags |= UPDATE_VOLUME;
}

void slideVolumeDown(ChannelState* channel, int amount) {
    channel->volume -= amount;
    if (channel->volume < 0) channel->volume = 0;
    channel->updateFlags |= UPDATE_VOLUME;
}

void slidePanning(ChannelState* channel, int change) {
    channel->panning = addSaturated(channel->panning, change);
    channel->updateFlags |= UPDATE_PANNING;
}

void applyVibrato(ChannelState* channel) {
    const int phase = channel->vibratoPosition;
    const int value = waveformValue(channel->waveControl & 3, phase);
    const int32_t delta = ((value * channel->vibratoDepth) >> 7) * 4;
    channel->periodDelta = phase >= 0 ? -delta : delta;
    channel->updateFlags |= UPDATE_PITCH;
}

void advanceVibrato(ChannelState* channel) {
    channel->vibratoPosition = advancePhase(channel->vibratoPosition, channel->vibratoSpeed);
}

void tremoloStep(ChannelState* channel) {
    const int phase = channel->tremoloPosition;
    int waveform = (channel->waveControl >> 4) & 3;
    if (waveform == 3) waveform = WAVEFORM_SINE;
    int32_t delta = (waveformValue(waveform, phase) * channel->tremoloDepth) >> 6;
    // The offset keeps volume + volumeDelta inside 0..64.
    if (phase >= 0) {
        if (channel->volume + delta > 64) delta = 64 - channel->volume;
        channel->volumeDelta = delta;
    } else {
        if (delta > channel->volume) delta = channel->volume;
        channel->volumeDelta = -delta;
    }
    channel->tremoloPosition = advancePhase(channel->tremoloPosition, channel->tremoloSpeed);
    channel->updateFlags |= UPDATE_VOLUME;
}

void tonePortamentoStep(ChannelState* channel) {
    const int32_t step = 4 * channel->portaSpeed;
    if (channel->period < channel->portaTarget) {
        channel->period = addSaturated(channel->period, step);
        if (channel->period > channel->portaTarget) channel->period = channel->portaTarget;
    } else if (channel->period > channel->portaTarget) {
        channel->period = addSaturated(channel->period, -step);
        if (channel->period < channel->portaTarget) channel->period = channel->portaTarget;
    }
    channel->updateFlags |= UPDATE_PITCH;
}

void tremorStep(ChannelState* channel) {
    // On for tremorOnTicks ticks, then silent for tremorOffTicks, counted across rows.
    if (channel->tremorCounter >= channel->tremorOnTicks) channel->volumeDelta = -channel->volume;
    channel->tremorCounter += 1;
    if (channel->tremorCounter >= channel->tremorOnTicks + channel->tremorOffTicks) {
        channel->tremorCounter = 0;
    }
    channel->updateFlags |= UPDATE_VOLUME;
}

void retrigStep(ChannelState* channel, const Song* song) {
    if (channel->retrigInterval == 0 || song->tick % channel->retrigInterval != 0) return;
    if (channel->retrigVolumeChange == 0) {
        channel->updateFlags |= UPDATE_TRIGGER;
        return;
    }
    const int32_t v = channel->volume;
    int32_t volume = v;
    switch (channel->retrigVolumeChange) {
        case 1: volume = v - 1; break;
        case 2: volume = v - 2; break;
        case 3: volume = v - 4; break;
        case 4: volume = v - 8; break;
        case 5: volume = v - 16; break;
        case 6: volume = 2 * v / 3; break;
        case 7: volume = v >> 1; break;
        case 8: volume = v; break;
        case 9: volume = v + 1; break;
        case 10: volume = v + 2; break;
        case 11: volume = v + 4; break;
        case 12: volume = v + 8; break;
        case 13: volume = v + 16; break;
        case 14: volume = 3 * v / 2; break;
        case 15: volume = 2 * v; break;
        default: break;
    }
    if (volume < 0) volume = 0;
    if (volume > 64) volume = 64;
    channel->volume = volume;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_TRIGGER;
}

void stopAtProtrackerLimit(const Song* song, ChannelState* channel, bool upward) {
    // The player's Amiga periods are four times the file's.
    constexpr int32_t HIGHEST_PITCH_PERIOD = 4 * 113;
    constexpr int32_t LOWEST_PITCH_PERIOD = 4 * 856;
    if (!song->protrackerRules) return;
    if (upward && channel->period < HIGHEST_PITCH_PERIOD) channel->period = HIGHEST_PITCH_PERIOD;
    if (!upward && channel->period > LOWEST_PITCH_PERIOD) channel->period = LOWEST_PITCH_PERIOD;
}

void applyVolumeColumnTick(ChannelState* channel, uint8_t v) {
    const int x = v & 0x0F;
    switch (v >> 4) {
        case 0x6: slideVolumeDown(channel, x); break;
        case 0x7: slideVolumeUp(channel, x); break;
        case 0xB:
            channel->vibratoDepth = static_cast<uint8_t>(x);
            applyVibrato(channel);
            advanceVibrato(channel);
            break;
        case 0xD: slidePanning(channel, -x); break;
        case 0xE: slidePanning(channel, x); break;
        case 0xF: tonePortamentoStep(channel); break;
        default: break;
    }
}

void applyTickEffect(Song* song, ChannelState* channel, const NoteCell& cell,
                     const ChannelSound& sound) {
    switch (cell.effect) {
        case EFFECT_ARPEGGIO: arpeggio(song, channel, sound.sample, cell.param); break;
        case EFFECT_PORTA_UP:
            channel->periodDelta = 0;
            channel->period = addSaturated(channel->period, -4 * channel->portaUpMemory);
            if (channel->period <= 55) channel->period = 56;
            stopAtProtrackerLimit(song, channel, true);
            channel->updateFlags |= UPDATE_PITCH;
            break;
        case EFFECT_PORTA_DOWN:
            channel->periodDelta = 0;
            channel->period = addSaturated(channel->period, 4 * channel->portaDownMemory);
            stopAtProtrackerLimit(song, channel, false);
            channel->updateFlags |= UPDATE_PITCH;
            break;
        case EFFECT_TONE_PORTA:
            channel->periodDelta = 0;
            tonePortamentoStep(channel);
            break;
        case EFFECT_VIBRATO: vibratoTick(song, channel); break;
        case EFFECT_TONE_PORTA_VOLUME_SLIDE:
            channel->periodDelta = 0;
            tonePortamentoStep(channel);
            slideVolume(channel, channel->volumeSlideMemory);
            break;
        case EFFECT_VIBRATO_VOLUME_SLIDE:
            vibratoTick(song, channel);
            slideVolume(channel, channel->volumeSlideMemory);
            break;
        case EFFECT_TREMOLO: tremoloStep(channel); break;
        case EFFECT_VOLUME_SLIDE: slideVolume(channel, channel->volumeSlideMemory); break;
        case EFFECT_EXTENDED: extendedTickEffect(song, channel, cell, sound.sample); break;
        case EFFECT_GLOBAL_VOLUME_SLIDE: globalVolumeSlide(song); break;
        case EFFECT_PANNING_SLIDE: panningSlide(channel); break;
        case EFFECT_MULTI_RETRIGGER: retrigStep(channel, song); break;
        case EFFECT_TREMOR: tremorStep(channel); break;
        default: break;
    }
}

void processTickEffects(Song* song) {
    const NoteCell* cells = currentRowCells(song);
    if (!cells) return;
    const int channels = playedChannelCount(song);
    for (int c = 0; c < channels; ++c) {
        ChannelState* channel = &song->player->channels[c];
        const NoteCell& cell = cells[c];
        const ChannelSound sound = resolveSound(song, channel);
        channel->volumeDelta = 0;
        channel->periodDelta = 0;
        channel->updateFlags = 0;
        advanceEnvelopes(channel, sound.instrument, false);
        applyVolumeColumnTick(channel, cell.volumeColumn);
        applyTickEffect(song, channel, cell, sound);
        autoVibratoStep(channel, sound.instrument);
        updateVoice(channel, sound.sample, song);
    }
}
