// The volume column and the effects on a row's first tick, including the flow-control commands
// that steer the sequencer (position jump, pattern break, loop and delay, speed and tempo).
#include "player/effects.h"
#include "player/envelopes.h"
#include "player/impulse_effects.h"
#include "player/sequencer.h"

namespace {

void positionJump(PlayState* state, uint8_t order, bool* jumpSeen) {
    state->nextOrderPosition = order;
    state->nextRow = 0;
    if (order >= state->orderEnd) state->nextOrderPosition = 0;
    *jumpSeen = true;
}

void patternBreak(PlayState* state, uint8_t row, bool jumpSeen) {
    state->nextRow = row;
    if (!jumpSeen) state->nextOrderPosition = state->orderPosition + 1;
    if (state->nextOrderPosition >= state->orderEnd) state->nextOrderPosition = 0;
}

void patternLoop(PlayState* state, ChannelState* channel, uint8_t count) {
    if (count == 0) {
        channel->patternLoopRow = state->row;
        return;
    }
    if (channel->patternLoopCount == 0) {
        channel->patternLoopCount = count;
    } else {
        channel->patternLoopCount -= 1;
    }
    // The sequencer takes row + 1 next, which is then the loop's first row.
    if (channel->patternLoopCount != 0) state->row = channel->patternLoopRow - 1;
}

void setFinetune(PlayState* state, ChannelState* channel, const Sample* sample, uint8_t y) {
    if (!(state->behaviours & BEHAVIOUR_FINETUNE_TUNES_CHANNEL)) {
        // Every later note of the sample, on any channel, hears the new finetune; the empty
        // sample has none.
        const Song* song = state->song;
        if (sample >= song->samples && sample < song->samples + song->sampleCount)
            state->sampleFinetune[sample - song->samples] = static_cast<int8_t>(y);
        return;
    }
    // The nibble read signed, in eighths of a semitone, as in a MOD sample header (or counted up
    // from the lowest finetune), tuning the channel, not the sample: here the note that starts
    // on the same row, so that no other channel hears it.
    if (channel->updateFlags & UPDATE_TRIGGER) {
        const bool fromLowest = state->behaviours & BEHAVIOUR_FINETUNE_FROM_LOWEST;
        const int finetune = fromLowest ? y * 16 - 128 : ((y ^ 8) - 8) * 16;
        channel->notePeriod = channelNotePeriod(state, channel->realNote, finetune);
        channel->period = channel->notePeriod;
    }
}

void sampleOffset(const PlayState* state, ChannelState* channel, const Sample* sample,
                  uint8_t param) {
    if (param) channel->sampleOffsetMemory = param;
    uint32_t offset = static_cast<uint32_t>(channel->sampleOffsetMemory) * 256;
    const uint64_t loopEnd = static_cast<uint64_t>(sample->loopStart) + sample->loopLength;
    if (offset >= loopEnd && sample->loopMode == LOOP_FORWARD && sample->loopLength > 0 &&
        (state->behaviours & BEHAVIOUR_OFFSET_WRAPS_INTO_LOOP)) {
        offset = sample->loopStart + (offset - sample->loopStart) % sample->loopLength;
    }
    if (offset >= sample->length && (state->behaviours & BEHAVIOUR_OFFSET_PAST_END_PLAYS_LOOP)) {
        // The note plays its loop from the loop's start, or nothing without a loop.
        if (!(channel->updateFlags & UPDATE_TRIGGER) || !channel->voice) return;
        if (sample->loopMode != LOOP_NONE) {
            channel->voice->startOffset = sample->loopStart;
        } else {
            channel->updateFlags &= static_cast<uint8_t>(~UPDATE_TRIGGER);
            channel->voice->sample = nullptr;
        }
    } else if (offset >= loopEnd && (state->behaviours & BEHAVIOUR_OFFSET_PAST_END_STOPS)) {
        // Only a note that starts here stops: without one, 9xx just keeps its parameter.
        if (!(channel->updateFlags & UPDATE_TRIGGER)) return;
        channel->updateFlags &= static_cast<uint8_t>(~UPDATE_TRIGGER);
        if (channel->voice) channel->voice->sample = nullptr;
    } else if (offset >= loopEnd) {
        // Beyond the end: no new note; the sounding one starts over from its first frame.
        channel->updateFlags &= static_cast<uint8_t>(~UPDATE_TRIGGER);
        channel->updateFlags |= UPDATE_REWIND;
    } else if (channel->voice) {
        channel->voice->startOffset = offset;
    }
}

// The period a tone portamento slides to: the channel's note; or where the target is set once, the
// note on the row, none (0) when it is the period playing, and the target before on a row
// without a note.
void aimTonePorta(const PlayState* state, ChannelState* channel, const NoteCell& cell) {
    if (!(state->behaviours & BEHAVIOUR_TONE_PORTA_TARGET_ONCE)) {
        channel->portaTarget = channel->notePeriod;
    } else if (cell.note >= 1 && cell.note <= NOTE_COUNT) {
        channel->portaTarget = channel->notePeriod == channel->period ? 0 : channel->notePeriod;
    }
}

// Whether a cell of the current row delays the pattern (EEx).
bool rowHasPatternDelay(const PlayState* state) {
    const NoteCell* cells = currentRowCells(state);
    if (!cells) return false;
    for (int c = 0; c < playedChannelCount(state->song); ++c) {
        if (cells[c].effect.command == CMD_PATTERN_DELAY) return true;
    }
    return false;
}

// Scream Tracker's finetunes as middle-C rates, for the note that starts on the same row.
void tuneByRate(ChannelState* channel, uint8_t y) {
    static const uint32_t RATES[16] = {7895, 7941, 7985, 8046, 8107, 8169, 8232, 8280,
                                       8363, 8413, 8463, 8529, 8581, 8651, 8723, 8757};
    if (!(channel->updateFlags & UPDATE_TRIGGER)) return;
    channel->notePeriod = ratePeriod(channel->realNote, RATES[y & 0x0F]);
    channel->period = channel->notePeriod;
}

// Nothing sounds different until the delay ends; what the cell set up (instrument reset, note,
// sample) waits for that tick, but for a sample number's volume where the format sets it at once.
void delayNote(const PlayState* state, ChannelState* channel, const NoteCell& cell,
               const RowStartCopies& before) {
    const bool volumeNow =
        cell.instrument != 0 && (state->behaviours & BEHAVIOUR_DELAYED_NOTE_SETS_VOLUME);
    if (!volumeNow) channel->volume = before.volume;
    channel->period = before.period;
    channel->panning = before.panning;
    holdSoundUpdates(channel);
    if (volumeNow) channel->updateFlags |= UPDATE_VOLUME;
}

}  // namespace

void applyVolumeColumnRow(const PlayState* state, ChannelState* channel, CellCommand volume) {
    const int x = volume.param;
    const bool panningSlidesLater = state->behaviours & BEHAVIOUR_COLUMN_PANNING_SLIDES_LATER;
    switch (volume.command) {
        case VOL_SET_VOLUME:
            channel->volume = x;
            channel->tremorSilenced = 0;
            channel->updateFlags |= UPDATE_VOLUME;
            break;
        case VOL_SLIDE_DOWN:
        case VOL_FINE_SLIDE_DOWN: slideVolumeDown(channel, x); break;
        case VOL_SLIDE_UP:
        case VOL_FINE_SLIDE_UP: slideVolumeUp(channel, x); break;
        case VOL_VIBRATO_SPEED: channel->vibratoSpeed = static_cast<uint8_t>(x); break;
        case VOL_VIBRATO: channel->vibratoDepth = static_cast<uint8_t>(x); break;
        case VOL_SET_PANNING:
            channel->panning = x;
            channel->updateFlags |= UPDATE_PANNING;
            break;
        case VOL_PANNING_SLIDE_LEFT:
            if (!panningSlidesLater) slidePanning(channel, -x);
            break;
        case VOL_PANNING_SLIDE_RIGHT:
            if (!panningSlidesLater) slidePanning(channel, x);
            break;
        case VOL_TONE_PORTA:
            // Slides toward the note without restarting it; the cell is not a portamento cell,
            // so a note in it has already set the period and the pitch jumps at once.
            if (x) channel->portaSpeed = static_cast<uint8_t>(x);
            channel->portaTarget = channel->notePeriod;
            channel->updateFlags &= static_cast<uint8_t>(~UPDATE_TRIGGER);
            break;
        default: break;
    }
}

void applyRowEffect(PlayState* state, ChannelState* channel, const NoteCell& cell,
                    const ChannelSound& sound, const RowStartCopies& before, bool* jumpSeen) {
    const uint8_t xx = cell.effect.param;
    const uint8_t x = xx >> 4;
    const uint8_t y = xx & 0x0F;
    const bool vibratoOnRow = !(state->behaviours & BEHAVIOUR_VIBRATO_WAITS_FOR_TICK_ONE);
    if ((state->behaviours & BEHAVIOUR_IMPULSE_EFFECTS) &&
        impulseRowEffect(state, channel, cell, sound)) {
        return;
    }
    // The row's vibrato, downward first where the format swings that way.
    const auto vibrateOnRow = [&] {
        if (!vibratoOnRow) return;
        applyVibrato(state, channel);
        if (state->behaviours & BEHAVIOUR_VIBRATO_STARTS_DOWNWARD)
            channel->periodDelta = -channel->periodDelta;
    };
    switch (cell.effect.command) {
        case CMD_PORTA_UP:
            if (xx) channel->portaUpMemory = xx;
            portaRow(state, channel, channel->portaUpMemory, true);
            break;
        case CMD_PORTA_DOWN:
            if (xx) channel->portaDownMemory = xx;
            portaRow(state, channel, channel->portaDownMemory, false);
            break;
        case CMD_TONE_PORTA:
            if (xx) channel->portaSpeed = xx;
            aimTonePorta(state, channel, cell);
            channel->updateFlags &= static_cast<uint8_t>(~(UPDATE_PITCH | UPDATE_TRIGGER));
            glissandoStep(state, channel, sound.sample);
            break;
        case CMD_VIBRATO:
        case CMD_FINE_VIBRATO:
            if (x) channel->vibratoSpeed = x;
            if (y) channel->vibratoDepth = y;
            vibrateOnRow();
            if (cell.effect.command == CMD_FINE_VIBRATO) channel->periodDelta /= 4;
            break;
        case CMD_TONE_PORTA_VOLUME_SLIDE:
            aimTonePorta(state, channel, cell);
            if (xx) channel->volumeSlideMemory = xx;
            channel->updateFlags &= static_cast<uint8_t>(~(UPDATE_PITCH | UPDATE_TRIGGER));
            glissandoStep(state, channel, sound.sample);
            volumeSlideRow(state, channel);
            break;
        case CMD_VIBRATO_VOLUME_SLIDE:
            if (xx) channel->volumeSlideMemory = xx;
            vibrateOnRow();
            volumeSlideRow(state, channel);
            break;
        case CMD_TREMOLO:
            if (x) channel->tremoloSpeed = x;
            if (y) channel->tremoloDepth = y;
            if (state->behaviours & BEHAVIOUR_TREMOLO_ON_FIRST_TICK) {
                // The phase the next tick plays, left for it to advance.
                const int8_t phase = channel->tremoloPosition;
                tremoloStep(state, channel);
                channel->tremoloPosition = phase;
            }
            break;
        case CMD_SET_PANNING:
            channel->panning = xx;
            channel->updateFlags |= UPDATE_PANNING;
            break;
        case CMD_SAMPLE_OFFSET: sampleOffset(state, channel, sound.sample, xx); break;
        case CMD_VOLUME_SLIDE:
            if (xx) channel->volumeSlideMemory = xx;
            volumeSlideRow(state, channel);
            break;
        case CMD_SET_MIDDLE_C_FINETUNE: tuneByRate(channel, y); break;
        case CMD_GLISSANDO: channel->glissando = y != 0; break;
        case CMD_POSITION_JUMP: positionJump(state, xx, jumpSeen); break;
        case CMD_SET_VOLUME:
            // The whole byte, without a limit: a later slide brings it back into 0..64.
            channel->volume = xx;
            channel->tremorSilenced = 0;
            channel->updateFlags |= UPDATE_VOLUME;
            break;
        case CMD_PATTERN_BREAK: patternBreak(state, xx, *jumpSeen); break;
        case CMD_FINE_PORTA_UP:
            if (xx) channel->finePortaUpMemory = xx;
            channel->period = addSaturated(channel->period, -4 * channel->finePortaUpMemory);
            stopAtAmigaLimit(state, channel, true);
            break;
        case CMD_FINE_PORTA_DOWN:
            if (xx) channel->finePortaDownMemory = xx;
            channel->period = addSaturated(channel->period, 4 * channel->finePortaDownMemory);
            stopAtAmigaLimit(state, channel, false);
            break;
        case CMD_VIBRATO_WAVEFORM:
            channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0xF0) | y);
            break;
        case CMD_SET_FINETUNE: setFinetune(state, channel, sound.sample, y); break;
        case CMD_PATTERN_LOOP: patternLoop(state, channel, y); break;
        case CMD_TREMOLO_WAVEFORM:
            channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0x0F) | (y << 4));
            break;
        case CMD_FINE_VOLUME_UP:
            if (xx) channel->fineVolumeSlideMemory = xx;
            slideVolumeUp(channel, channel->fineVolumeSlideMemory);
            break;
        case CMD_FINE_VOLUME_DOWN:
            if (xx) channel->fineVolumeSlideMemory = xx;
            slideVolumeDown(channel, channel->fineVolumeSlideMemory);
            break;
        case CMD_NOTE_DELAY:
            if (cell.note != 0 || !(state->behaviours & BEHAVIOUR_NOTE_DELAY_NEEDS_NOTE))
                delayNote(state, channel, cell, before);
            break;
        case CMD_NOTE_CUT:
            if (xx == 0 && (state->behaviours & BEHAVIOUR_NOTE_CUT_ON_TICK_ZERO)) {
                channel->volume = 0;
                channel->updateFlags |= UPDATE_VOLUME;
            }
            break;
        case CMD_RETRIGGER:
            if (xx == 0 && cell.note == 0 && (state->behaviours & BEHAVIOUR_RETRIGGER_ZERO_ON_ROW))
                channel->updateFlags |= UPDATE_TRIGGER | UPDATE_VOLUME | UPDATE_PITCH;
            if (xx != 0 && cell.note == 0 &&
                (state->behaviours & BEHAVIOUR_RETRIGGER_EVERY_REPETITION) &&
                !rowHasPatternDelay(state))
                channel->updateFlags |= UPDATE_TRIGGER | UPDATE_VOLUME | UPDATE_PITCH;
            break;
        case CMD_AMIGA_FILTER: state->amigaLedFilter = (xx & 1) == 0; break;  // the Amiga's LED
        case CMD_PATTERN_DELAY: state->patternDelayTicks = xx * state->speed; break;
        case CMD_SET_SPEED: state->speed = xx; break;
        case CMD_SET_TEMPO: setBpm(state, xx); break;
        case CMD_SET_GLOBAL_VOLUME:
            // Other channels take the new level at their next volume update.
            state->globalVolume = xx;
            channel->updateFlags |= UPDATE_VOLUME;
            refreshVolumes(state);
            break;
        case CMD_GLOBAL_VOLUME_SLIDE:
            if (xx) state->globalVolumeSlideMemory = xx;
            break;
        case CMD_ENVELOPE_POSITION:
            setEnvelopePositions(state, channel, sound.instrument, xx);
            break;
        case CMD_PANNING_SLIDE:
            if (xx) {
                channel->panningSlideMemory = xx;
                channel->updateFlags |= UPDATE_PANNING;
            }
            break;
        case CMD_MULTI_RETRIGGER:
            if (xx) {
                channel->retrigVolumeChange = x;
                channel->retrigInterval = y;
            }
            // Counted across rows, the first tick too unless the volume column has a command.
            if ((state->behaviours & BEHAVIOUR_RETRIGGER_COUNTS_TICKS) &&
                cell.volume.command == VOL_NONE)
                retrigStep(state, channel, cell.volume);
            break;
        case CMD_TREMOR:
            if (xx) {
                channel->tremorOnTicks = x + 1;
                channel->tremorOffTicks = y + 1;
            }
            if (!(state->behaviours & BEHAVIOUR_TREMOR_SILENCES)) tremorStep(state, channel);
            break;
        case CMD_EXTRA_FINE_PORTA_UP:
            if (xx) channel->extraFineUpMemory = xx;
            channel->period = addSaturated(channel->period, -channel->extraFineUpMemory);
            break;
        case CMD_EXTRA_FINE_PORTA_DOWN:
            if (xx) channel->extraFineDownMemory = xx;
            channel->period = addSaturated(channel->period, channel->extraFineDownMemory);
            break;
        default: break;  // arpeggio, retrigger, note cut and the rest act later or not at all
    }
}
