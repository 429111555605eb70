// Impulse Tracker's effects where they differ from the other formats' (BEHAVIOUR_IMPULSE_EFFECTS
// and the flags read below), and the commands only IT has. The row start and the later ticks
// ask here first; what is not handled here goes on to the shared code.
#include "player/impulse_effects.h"

#include "player/effects.h"
#include "player/impulse.h"
#include "player/sequencer.h"

namespace {

// A slide parameter in IT's packing, on the row's first tick (`rowStart`) or a later one: the
// change it makes, positive up. x0 slides up and 0x down on the later ticks (and on the first
// too when the nibble is F); xF and Fx slide once, on the first tick.
int slideChange(uint8_t param, bool rowStart) {
    const int x = param >> 4;
    const int y = param & 0x0F;
    if (y == 0) return (!rowStart || x == 0x0F) ? x : 0;
    if (x == 0) return (!rowStart || y == 0x0F) ? -y : 0;
    if (y == 0x0F) return rowStart ? x : 0;
    if (x == 0x0F) return rowStart ? -y : 0;
    return 0;
}

int32_t clampTo(int32_t value, int32_t low, int32_t high) {
    return value < low ? low : value > high ? high : value;
}

void volumeSlide(ChannelState* channel, bool rowStart) {
    const int change = slideChange(channel->volumeSlideMemory, rowStart);
    if (change == 0) return;
    channel->volume = clampTo(channel->volume + change, 0, 64);
    channel->updateFlags |= UPDATE_VOLUME;
}

void channelVolumeSlide(ChannelState* channel, bool rowStart) {
    const int change = slideChange(channel->channelVolumeSlideMemory, rowStart);
    if (change == 0) return;
    channel->channelVolume = clampTo(channel->channelVolume + change, 0, 64);
    channel->updateFlags |= UPDATE_VOLUME;
}

void globalVolumeSlide(PlayState* state, ChannelState* channel, bool rowStart) {
    const int change = slideChange(state->globalVolumeSlideMemory, rowStart);
    if (change == 0) return;
    state->globalVolume = clampTo(state->globalVolume + change, 0, 128);
    channel->updateFlags |= UPDATE_VOLUME;
}

// The engine's order: right in the high nibble. IT's panning runs 0..64, the engine's 0..255.
void panningSlide(ChannelState* channel, bool rowStart) {
    const int change = slideChange(channel->panningSlideMemory, rowStart);
    if (change == 0) return;
    channel->panning = clampTo(channel->panning + 4 * change, 0, 255);
    channel->surround = 0;
    channel->updateFlags |= UPDATE_PANNING;
}

// Exx and Fxx: Ex and Fx (x above 0) are extra fine and fine slides on the first tick, the rest
// slides by 4 x xx on every later tick. `upward` raises the pitch.
void portamento(const PlayState* state, ChannelState* channel, bool upward, bool rowStart) {
    const uint8_t memory = channel->portaUpMemory;
    int amount = 0;
    if (memory >= 0xE0) {
        if (!rowStart) return;
        amount = memory >= 0xF0 ? 4 * (memory & 0x0F) : (memory & 0x0F);
    } else {
        if (rowStart) return;
        amount = 4 * memory;
    }
    channel->period = addSaturated(channel->period, upward ? -amount : amount);
    if (channel->period < 1) channel->period = 1;
    stopAtAmigaLimit(state, channel, upward);
    channel->updateFlags |= UPDATE_PITCH;
}

void rememberPortamento(const PlayState* state, ChannelState* channel, uint8_t param) {
    if (!param) return;
    channel->portaUpMemory = param;
    channel->portaDownMemory = param;
    if (state->behaviours & BEHAVIOUR_IT_LINKED_TONE_PORTA) channel->portaSpeed = param;
}

void rememberTonePortamento(const PlayState* state, ChannelState* channel, uint8_t param) {
    if (!param) return;
    channel->portaSpeed = param;
    if (state->behaviours & BEHAVIOUR_IT_LINKED_TONE_PORTA) {
        channel->portaUpMemory = param;
        channel->portaDownMemory = param;
    }
}

// Vibrato on this tick: IT's is half as deep per step as the other formats' (the fine vibrato an
// eighth); with old effects it is the other formats'.
void vibrato(const PlayState* state, ChannelState* channel, bool fine) {
    applyVibrato(state, channel);
    if (!(state->behaviours & BEHAVIOUR_IT_OLD_EFFECTS)) channel->periodDelta /= fine ? 8 : 2;
    advanceVibrato(channel);
}

bool vibratesOnRow(const PlayState* state) {
    return (state->behaviours & BEHAVIOUR_FINE_VIBRATO) &&
           !(state->behaviours & BEHAVIOUR_IT_OLD_EFFECTS);
}

void setVibrato(ChannelState* channel, uint8_t param) {
    if (param >> 4) channel->vibratoSpeed = param >> 4;
    if (param & 0x0F) channel->vibratoDepth = param & 0x0F;
}

// Panbrello: the panning swings about the channel's by the waveform (the vibrato's shapes on a
// 64-step period; random holds each value for `speed` ticks).
void panbrello(ChannelState* channel) {
    const int phase = channel->panbrelloPosition & 63;
    int value = 0;
    switch (channel->panbrelloWaveform & 3) {
        case 0: {
            static const int8_t quarter[17] = {0,  6,  12, 19, 24, 30, 36, 41, 45,
                                               49, 53, 56, 59, 61, 63, 64, 64};
            const int q = phase & 15;
            const int part = phase >> 4;
            value = (part & 1) ? quarter[16 - q] : quarter[q];
            if (part >= 2) value = -value;
            break;
        }
        case 1: value = 64 - phase * 2; break;
        case 2: value = phase < 32 ? 64 : -64; break;
        default: value = ((phase * 37 + channel->owner * 11) % 129) - 64; break;
    }
    channel->panningDelta = value * channel->panbrelloDepth / 8;
    channel->panbrelloPosition =
        static_cast<int8_t>((channel->panbrelloPosition + channel->panbrelloSpeed) & 63);
    channel->updateFlags |= UPDATE_PANNING;
}

// Oxx with the high offset: frames (high << 16) + xx << 8. Beyond the end the command does
// nothing, or with old effects plays from the end.
void sampleOffset(const PlayState* state, ChannelState* channel, const Sample* sample,
                  uint8_t param) {
    if (param) channel->sampleOffsetMemory = param;
    uint32_t offset = static_cast<uint32_t>(channel->highOffset) << 16 |
                      static_cast<uint32_t>(channel->sampleOffsetMemory) << 8;
    if (!channel->voice || !(channel->updateFlags & UPDATE_TRIGGER)) return;
    if (offset >= sample->length) {
        if (!(state->behaviours & BEHAVIOUR_IT_OLD_EFFECTS) || sample->length == 0) return;
        offset = sample->length - 1;
    }
    channel->voice->startOffset = offset;
}

void tempoSlide(PlayState* state, ChannelState* channel) {
    const int x = channel->tempoSlideMemory >> 4;
    const int y = channel->tempoSlideMemory & 0x0F;
    setBpm(state, clampTo(state->bpm + (x == 1 ? y : -y), 32, 255));
}

}  // namespace

bool impulseVolumeColumnRow(const PlayState* state, ChannelState* channel, CellCommand volume) {
    const int x = volume.param;
    switch (volume.command) {
        case VOL_FINE_SLIDE_UP:
        case VOL_FINE_SLIDE_DOWN:
            if (x) channel->volumeColumnSlideMemory = static_cast<uint8_t>(x);
            channel->volume =
                clampTo(channel->volume + (volume.command == VOL_FINE_SLIDE_UP ? 1 : -1) *
                                              channel->volumeColumnSlideMemory,
                        0, 64);
            channel->updateFlags |= UPDATE_VOLUME;
            return true;
        case VOL_SLIDE_UP:
        case VOL_SLIDE_DOWN:
            if (x) channel->volumeColumnSlideMemory = static_cast<uint8_t>(x);
            return true;
        case VOL_PORTA_UP:
        case VOL_PORTA_DOWN:
            rememberPortamento(state, channel, static_cast<uint8_t>(x));
            return true;
        case VOL_TONE_PORTA:
            rememberTonePortamento(state, channel, static_cast<uint8_t>(x));
            channel->portaTarget = channel->notePeriod;
            channel->updateFlags &= static_cast<uint8_t>(~(UPDATE_TRIGGER | UPDATE_PITCH));
            return true;
        case VOL_VIBRATO:
            if (x) channel->vibratoDepth = static_cast<uint8_t>(x);
            if (vibratesOnRow(state)) vibrato(state, channel, false);
            return true;
        case VOL_SET_PANNING: channel->surround = 0; return false;
        default: return false;
    }
}

bool impulseVolumeColumnTick(const PlayState* state, ChannelState* channel, CellCommand volume) {
    switch (volume.command) {
        case VOL_SLIDE_UP:
        case VOL_SLIDE_DOWN:
            channel->volume = clampTo(channel->volume + (volume.command == VOL_SLIDE_UP ? 1 : -1) *
                                                            channel->volumeColumnSlideMemory,
                                      0, 64);
            channel->updateFlags |= UPDATE_VOLUME;
            return true;
        case VOL_PORTA_UP:
        case VOL_PORTA_DOWN: {
            const int amount = 4 * channel->portaUpMemory;
            const bool upward = volume.command == VOL_PORTA_UP;
            channel->period = addSaturated(channel->period, upward ? -amount : amount);
            if (channel->period < 1) channel->period = 1;
            channel->updateFlags |= UPDATE_PITCH;
            return true;
        }
        case VOL_VIBRATO: vibrato(state, channel, false); return true;
        case VOL_FINE_SLIDE_UP:
        case VOL_FINE_SLIDE_DOWN: return true;
        default: return false;
    }
}

bool impulseRowEffect(PlayState* state, ChannelState* channel, const NoteCell& cell,
                      const ChannelSound& sound) {
    const uint8_t xx = cell.effect.param;
    switch (cell.effect.command) {
        case CMD_VOLUME_SLIDE:
            if (xx) channel->volumeSlideMemory = xx;
            volumeSlide(channel, true);
            return true;
        case CMD_VIBRATO_VOLUME_SLIDE:
            if (xx) channel->volumeSlideMemory = xx;
            if (vibratesOnRow(state)) vibrato(state, channel, false);
            volumeSlide(channel, true);
            return true;
        case CMD_TONE_PORTA_VOLUME_SLIDE:
            if (xx) channel->volumeSlideMemory = xx;
            channel->portaTarget = channel->notePeriod;
            channel->updateFlags &= static_cast<uint8_t>(~(UPDATE_PITCH | UPDATE_TRIGGER));
            volumeSlide(channel, true);
            return true;
        case CMD_PORTA_UP:
        case CMD_PORTA_DOWN:
            rememberPortamento(state, channel, xx);
            portamento(state, channel, cell.effect.command == CMD_PORTA_UP, true);
            return true;
        case CMD_TONE_PORTA:
            rememberTonePortamento(state, channel, xx);
            channel->portaTarget = channel->notePeriod;
            channel->updateFlags &= static_cast<uint8_t>(~(UPDATE_PITCH | UPDATE_TRIGGER));
            return true;
        case CMD_VIBRATO:
        case CMD_FINE_VIBRATO:
            setVibrato(channel, xx);
            if (vibratesOnRow(state))
                vibrato(state, channel, cell.effect.command == CMD_FINE_VIBRATO);
            return true;
        case CMD_ARPEGGIO:
            if (xx) channel->arpeggioMemory = xx;
            return true;
        case CMD_TREMOR: {
            if (xx) channel->tremorMemory = xx;
            const int x = channel->tremorMemory >> 4;
            const int y = channel->tremorMemory & 0x0F;
            const bool old = state->behaviours & BEHAVIOUR_IT_OLD_EFFECTS;
            channel->tremorOnTicks = static_cast<uint8_t>(old ? x + 1 : (x ? x : 1));
            channel->tremorOffTicks = static_cast<uint8_t>(old ? y + 1 : (y ? y : 1));
            tremorStep(state, channel);
            return true;
        }
        case CMD_SET_CHANNEL_VOLUME:
            channel->channelVolume = xx;
            channel->updateFlags |= UPDATE_VOLUME;
            return true;
        case CMD_CHANNEL_VOLUME_SLIDE:
            if (xx) channel->channelVolumeSlideMemory = xx;
            channelVolumeSlide(channel, true);
            return true;
        case CMD_GLOBAL_VOLUME_SLIDE:
            if (xx) state->globalVolumeSlideMemory = xx;
            globalVolumeSlide(state, channel, true);
            return true;
        case CMD_PANNING_SLIDE:
            if (xx) channel->panningSlideMemory = xx;
            panningSlide(channel, true);
            return true;
        case CMD_SET_PANNING:
            channel->panning = xx;
            channel->surround = 0;
            channel->updateFlags |= UPDATE_PANNING;
            return true;
        case CMD_SAMPLE_OFFSET: sampleOffset(state, channel, sound.sample, xx); return true;
        case CMD_HIGH_OFFSET: channel->highOffset = xx; return true;
        case CMD_TEMPO_SLIDE:
            if (xx) channel->tempoSlideMemory = xx;
            return true;
        case CMD_PANBRELLO:
            if (xx >> 4) channel->panbrelloSpeed = xx >> 4;
            if (xx & 0x0F) channel->panbrelloDepth = xx & 0x0F;
            panbrello(channel);
            return true;
        case CMD_PANBRELLO_WAVEFORM: channel->panbrelloWaveform = xx; return true;
        case CMD_FINE_PATTERN_DELAY: state->patternDelayTicks += xx; return true;
        case CMD_PAST_NOTES: pastNotes(state, channel, xx); return true;
        case CMD_SET_NEW_NOTE_ACTION: channel->newNoteAction = xx; return true;
        case CMD_ENVELOPE_SWITCH: switchEnvelope(channel, xx); return true;
        case CMD_SURROUND:
            channel->surround = xx;
            channel->updateFlags |= UPDATE_PANNING;
            return true;
        case CMD_SET_MIDI_MACRO: channel->midiMacro = xx; return true;
        case CMD_MIDI_MACRO: playMidiMacro(state, channel, xx); return true;
        case CMD_NOTE_CUT:
            // SC0 cuts on the first tick after the row's.
            return true;
        default: return false;
    }
}

bool impulseTickEffect(PlayState* state, ChannelState* channel, const NoteCell& cell,
                       const ChannelSound& sound) {
    switch (cell.effect.command) {
        case CMD_VOLUME_SLIDE: volumeSlide(channel, false); return true;
        case CMD_VIBRATO_VOLUME_SLIDE:
            vibrato(state, channel, false);
            volumeSlide(channel, false);
            return true;
        case CMD_TONE_PORTA_VOLUME_SLIDE:
            channel->periodDelta = 0;
            tonePortamentoStep(state, channel);
            volumeSlide(channel, false);
            return true;
        case CMD_PORTA_UP:
        case CMD_PORTA_DOWN:
            portamento(state, channel, cell.effect.command == CMD_PORTA_UP, false);
            return true;
        case CMD_VIBRATO:
        case CMD_FINE_VIBRATO:
            vibrato(state, channel, cell.effect.command == CMD_FINE_VIBRATO);
            return true;
        case CMD_ARPEGGIO: {
            const int phase = state->tick % 3;
            const uint8_t param = channel->arpeggioMemory;
            const int offset = phase == 0 ? 0 : phase == 1 ? param >> 4 : param & 0x0F;
            if (usesLinearPeriods(state->song)) {
                channel->periodDelta = offset * 64;
            } else {
                channel->periodDelta = amigaPeriod(channel->realNote - 12 + offset, 0) -
                                       amigaPeriod(channel->realNote - 12, 0);
            }
            channel->updateFlags |= UPDATE_PITCH;
            (void)sound;
            return true;
        }
        case CMD_CHANNEL_VOLUME_SLIDE: channelVolumeSlide(channel, false); return true;
        case CMD_GLOBAL_VOLUME_SLIDE: globalVolumeSlide(state, channel, false); return true;
        case CMD_PANNING_SLIDE: panningSlide(channel, false); return true;
        case CMD_TEMPO_SLIDE: tempoSlide(state, channel); return true;
        case CMD_PANBRELLO: panbrello(channel); return true;
        case CMD_NOTE_CUT: {
            const int when = cell.effect.param ? cell.effect.param : 1;
            if (state->tick == when) cutNote(channel);
            return true;
        }
        case CMD_RETRIGGER:
        case CMD_HIGH_OFFSET:
        case CMD_SET_CHANNEL_VOLUME:
        case CMD_SAMPLE_OFFSET: return true;
        default: return false;
    }
}
