// The slides and oscillators that the row start and the later ticks share: volume and panning
// slides, vibrato, tremolo, tone portamento, tremor, retrigger and the Amiga's period limits.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "player/effects.h"

namespace {

constexpr int WAVEFORM_SINE = 0;
constexpr int WAVEFORM_RAMP = 1;

// The trackers' sine, a half period of 32 steps.
constexpr uint8_t SINE_TABLE[32] = {0,   24,  49,  74,  97,  120, 141, 161, 180, 197, 212,
                                    224, 235, 244, 250, 253, 255, 253, 250, 244, 235, 224,
                                    212, 197, 180, 161, 141, 120, 97,  74,  49,  24};

// Magnitude 0..255 of an oscillator at phase -32..31 (one period is 64 steps); the sign comes
// from the phase. Waveform 2 and 3 are square, except where the caller maps tremolo's 3 to sine.
// The sine is the trackers' table where the profile says.
int waveformValue(const PlayState* state, int waveform, int phase) {
    if (waveform == WAVEFORM_SINE && (state->behaviours & BEHAVIOUR_SINE_TABLE))
        return SINE_TABLE[phase & 31];
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

}  // namespace

void slideVolumeUp(ChannelState* channel, int amount) {
    channel->volume += amount;
    channel->tremorSilenced = 0;
    if (channel->volume > 64) channel->volume = 64;
    channel->updateFlags |= UPDATE_VOLUME;
}

void slideVolumeDown(ChannelState* channel, int amount) {
    channel->volume -= amount;
    channel->tremorSilenced = 0;
    if (channel->volume < 0) channel->volume = 0;
    channel->updateFlags |= UPDATE_VOLUME;
}

namespace {

bool fineForms(const PlayState* state) { return state->behaviours & BEHAVIOUR_FINE_SLIDE_FORMS; }

// x0 or 0x with x = F: a plain slide that also moves on the first tick.
bool isFullSlide(uint8_t memory) { return memory == 0xF0 || memory == 0x0F; }

}  // namespace

bool isFineVolumeSlide(const PlayState* state, uint8_t memory) {
    const int up = memory >> 4;
    const int down = memory & 0x0F;
    return fineForms(state) && ((down == 0xF && up) || (up == 0xF && down));
}

void slideVolume(const PlayState* state, ChannelState* channel, uint8_t memory) {
    const int up = memory >> 4;
    const int down = memory & 0x0F;
    channel->updateFlags |= UPDATE_VOLUME;
    if (isFineVolumeSlide(state, memory)) return;
    // With both nibbles set the upward slide wins, or the downward one where the format says.
    const bool downWins = state->behaviours & BEHAVIOUR_VOLUME_SLIDE_DOWN_WINS;
    if (down && (downWins || !up)) {
        slideVolumeDown(channel, down);
    } else if (up) {
        slideVolumeUp(channel, up);
    }
}

void volumeSlideRow(const PlayState* state, ChannelState* channel) {
    const uint8_t memory = channel->volumeSlideMemory;
    if (isFineVolumeSlide(state, memory)) {
        if ((memory & 0x0F) == 0x0F) {
            slideVolumeUp(channel, memory >> 4);
        } else {
            slideVolumeDown(channel, memory & 0x0F);
        }
        return;
    }
    const bool fast = state->behaviours & BEHAVIOUR_FAST_VOLUME_SLIDES;
    if (fast || (fineForms(state) && isFullSlide(memory))) slideVolume(state, channel, memory);
}

bool isFinePorta(const PlayState* state, uint8_t memory) {
    return fineForms(state) && memory >= 0xE0;
}

void portaRow(const PlayState* state, ChannelState* channel, uint8_t memory, bool upward) {
    if (!isFinePorta(state, memory)) return;
    // Fx: a fine slide of x, in the Amiga's units; Ex: an extra-fine one, a quarter of that.
    const int amount = (memory & 0x0F) * (memory >= 0xF0 ? 4 : 1);
    channel->period = addSaturated(channel->period, upward ? -amount : amount);
    stopAtAmigaLimit(state, channel, upward);
    channel->updateFlags |= UPDATE_PITCH;
}

void slidePanning(ChannelState* channel, int change) {
    channel->panning = addSaturated(channel->panning, change);
    channel->updateFlags |= UPDATE_PANNING;
}

void applyVibrato(const PlayState* state, ChannelState* channel) {
    const int phase = channel->vibratoPosition;
    const int value = waveformValue(state, channel->waveControl & 3, phase);
    int32_t delta = ((value * channel->vibratoDepth) >> 7) * 4;
    if (state->behaviours & BEHAVIOUR_VIBRATO_FULL_DEPTH)
        delta = (value * channel->vibratoDepth) >> 5;
    channel->periodDelta = phase >= 0 ? -delta : delta;
    channel->updateFlags |= UPDATE_PITCH;
}

void advanceVibrato(ChannelState* channel) {
    channel->vibratoPosition = advancePhase(channel->vibratoPosition, channel->vibratoSpeed);
}

void tremoloStep(const PlayState* state, ChannelState* channel) {
    const int phase = channel->tremoloPosition;
    int waveform = (channel->waveControl >> 4) & 3;
    if (waveform == 3 && !(state->behaviours & BEHAVIOUR_TREMOLO_WAVEFORM_3_SQUARE))
        waveform = WAVEFORM_SINE;
    // The ramp may turn over with the vibrato's phase instead of its own.
    int rampPhase = phase;
    if (waveform == WAVEFORM_RAMP && (state->behaviours & BEHAVIOUR_TREMOLO_RAMP_FOLLOWS_VIBRATO))
        rampPhase = (phase & 31) - (channel->vibratoPosition < 0 ? 32 : 0);
    int32_t delta = (waveformValue(state, waveform, rampPhase) * channel->tremoloDepth) >> 6;
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

void tonePortamentoStep(const PlayState* state, ChannelState* channel) {
    // Where the target is set once, a slide that has got there has none until the next note.
    const bool once = state->behaviours & BEHAVIOUR_TONE_PORTA_TARGET_ONCE;
    if (once && channel->portaTarget == 0) return;
    const int32_t step = 4 * channel->portaSpeed;
    if (channel->period < channel->portaTarget) {
        channel->period = addSaturated(channel->period, step);
        if (channel->period > channel->portaTarget) channel->period = channel->portaTarget;
    } else if (channel->period > channel->portaTarget) {
        channel->period = addSaturated(channel->period, -step);
        if (channel->period < channel->portaTarget) channel->period = channel->portaTarget;
    }
    if (once && channel->period == channel->portaTarget) channel->portaTarget = 0;
    channel->updateFlags |= UPDATE_PITCH;
}

// With the glissando on, the pitch the portamento reaches sounds as the nearest semitone.
void glissandoStep(const PlayState* state, ChannelState* channel, const Sample* sample) {
    if (!channel->glissando || !(state->behaviours & BEHAVIOUR_GLISSANDO)) return;
    int32_t nearest = channel->period;
    int64_t distance = INT64_MAX;
    for (int note = 0; note < NOTE_COUNT; ++note) {
        const int32_t period = samplePeriod(state, note, sample);
        const int64_t d = std::llabs(static_cast<int64_t>(period) - channel->period);
        if (d < distance) {
            distance = d;
            nearest = period;
        }
    }
    // Linear periods take their delta the other way round (a positive one raises the pitch).
    const int32_t toNearest = nearest - channel->period;
    channel->periodDelta = usesLinearPeriods(state->song) ? -toNearest : toNearest;
}

namespace {

// Tremor as a count down with the phase in the top bit of tremorCounter: at the end of a phase
// the other starts, and the note is silenced or heard again until the next change.
void silencingTremorStep(ChannelState* channel) {
    constexpr uint8_t ON = 0x80;
    bool on = channel->tremorCounter & ON;
    int ticks = channel->tremorCounter & 0x7F;
    if (--ticks < 0) {
        on = !on;
        ticks = (on ? channel->tremorOnTicks : channel->tremorOffTicks) - 1;
    }
    channel->tremorCounter = static_cast<uint8_t>((on ? ON : 0) | ticks);
    channel->tremorSilenced = !on;
    channel->updateFlags |= UPDATE_VOLUME;
}

}  // namespace

void tremorStep(const PlayState* state, ChannelState* channel) {
    if (state->behaviours & BEHAVIOUR_TREMOR_SILENCES) {
        silencingTremorStep(channel);
        return;
    }
    // On for tremorOnTicks ticks, then silent for tremorOffTicks, counted across rows.
    if (channel->tremorCounter >= channel->tremorOnTicks) channel->volumeDelta = -channel->volume;
    channel->tremorCounter += 1;
    if (channel->tremorCounter >= channel->tremorOnTicks + channel->tremorOffTicks) {
        channel->tremorCounter = 0;
    }
    channel->updateFlags |= UPDATE_VOLUME;
}

void retrigStep(const PlayState* state, ChannelState* channel, CellCommand volumeColumn) {
    const bool counts = state->behaviours & BEHAVIOUR_RETRIGGER_COUNTS_TICKS;
    if (channel->retrigInterval == 0) return;
    if (counts) {
        channel->retrigCounter += 1;
        if (channel->retrigCounter < channel->retrigInterval) return;
        channel->retrigCounter = 0;
    } else if (state->tick % channel->retrigInterval != 0) {
        return;
    }
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
    if (counts && volumeColumn.command == VOL_SET_VOLUME) volume = volumeColumn.param;
    channel->volume = volume;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_TRIGGER;
}

void stopAtAmigaLimit(const PlayState* state, ChannelState* channel, bool upward) {
    // The player's Amiga periods are four times the file's.
    constexpr int32_t HIGHEST_PITCH_PERIOD = 4 * 113;
    constexpr int32_t LOWEST_PITCH_PERIOD = 4 * 856;
    if (!(state->behaviours & BEHAVIOUR_AMIGA_PERIOD_LIMITS)) return;
    if (upward && channel->period < HIGHEST_PITCH_PERIOD) channel->period = HIGHEST_PITCH_PERIOD;
    if (!upward && channel->period > LOWEST_PITCH_PERIOD) channel->period = LOWEST_PITCH_PERIOD;
}
