// The volume column and the effects on a row's first tick, including the flow-control effects
// that steer the sequencer (B, D, E6x, EEx, F).
#include "player/effects.h"
#include "player/envelopes.h"
#include "player/sequencer.h"

namespace {

void positionJump(Song* song, uint8_t order, bool* jumpSeen) {
    song->nextOrderPosition = order;
    song->nextRow = 0;
    if (order >= song->songLength) song->nextOrderPosition = 0;
    *jumpSeen = true;
}

void patternBreak(Song* song, uint8_t param, bool jumpSeen) {
    // Decimal digits as written in the pattern; each nibble may be up to 15, so D1F is row 25.
    int row = (param >> 4) * 10 + (param & 0x0F);
    song->nextRow = row > 63 ? 0 : row;
    if (!jumpSeen) song->nextOrderPosition = song->orderPosition + 1;
    if (song->nextOrderPosition >= song->songLength) song->nextOrderPosition = 0;
}

void patternLoop(Song* song, ChannelState* channel, uint8_t count) {
    if (count == 0) {
        channel->patternLoopRow = song->row;
        return;
    }
    if (channel->patternLoopCount == 0) {
        channel->patternLoopCount = count;
    } else {
        channel->patternLoopCount -= 1;
    }
    // The sequencer takes row + 1 next, which is then the loop's first row.
    if (channel->patternLoopCount != 0) song->row = channel->patternLoopRow - 1;
}

void setFinetune(const Song* song, ChannelState* channel, Sample* sample, uint8_t y) {
    if (!song->protrackerRules) {
        // The sample record is shared: every later note of it, on any channel, hears the new
        // finetune. The shared empty sample stays all zero.
        if (sample != &emptySample) sample->finetune = static_cast<int8_t>(y);
        return;
    }
    // ProTracker reads the nibble signed, in eighths of a semitone, as in the sample header, and
    // tunes the channel, not the sample: here the note that starts on the same row, so that no
    // other channel hears it.
    if (channel->updateFlags & UPDATE_TRIGGER) {
        channel->notePeriod = notePeriodOf(song, channel->realNote, ((y ^ 8) - 8) * 16);
        channel->period = channel->notePeriod;
    }
}

void extendedRowEffect(Song* song, ChannelState* channel, Sample* sample, uint8_t param,
                       const RowStartCopies& before) {
    const uint8_t y = param & 0x0F;
    switch (param >> 4) {
        case EXTENDED_FINE_PORTA_UP:
            if (y) channel->finePortaUpMemory = y;
            channel->period = addSaturated(channel->period, -4 * channel->finePortaUpMemory);
            stopAtProtrackerLimit(song, channel, true);
            break;
        case EXTENDED_FINE_PORTA_DOWN:
            if (y) channel->finePortaDownMemory = y;
            channel->period = addSaturated(channel->period, 4 * channel->finePortaDownMemory);
            stopAtProtrackerLimit(song, channel, false);
            break;
        case EXTENDED_VIBRATO_WAVEFORM:
            channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0xF0) | y);
            break;
        case EXTENDED_SET_FINETUNE: setFinetune(song, channel, sample, y); break;
        case EXTENDED_PATTERN_LOOP: patternLoop(song, channel, y); break;
        case EXTENDED_TREMOLO_WAVEFORM:
            channel->waveControl = static_cast<uint8_t>((channel->waveControl & 0x0F) | (y << 4));
            break;
        case EXTENDED_SET_PANNING:
            channel->panning = y * 16;
            channel->updateFlags |= UPDATE_PANNING;
            break;
        case EXTENDED_FINE_VOLUME_UP:
            if (y) channel->fineVolumeSlideMemory = y;
            slideVolumeUp(channel, channel->fineVolumeSlideMemory);
            break;
        case EXTENDED_FINE_VOLUME_DOWN:
            if (y) channel->fineVolumeSlideMemory = y;
            slideVolumeDown(channel, channel->fineVolumeSlideMemory);
            break;
        case EXTENDED_NOTE_DELAY:
            // Nothing sounds different until the delay ends; what the cell set up (instrument
            // reset, note, sample) waits for that tick.
            channel->volume = before.volume;
            channel->period = before.period;
            channel->panning = before.panning;
            holdSoundUpdates(channel);
            break;
        case EXTENDED_PATTERN_DELAY: song->patternDelayTicks = y * song->speed; break;
        case 0x0: song->player->voices[0].ledFilter = (y & 1) == 0; break;  // the Amiga's LED
        default: break;  // E0, E3, E9 and EC act on later ticks or not at all; EF does nothing
    }
}

void sampleOffset(ChannelState* channel, const Sample* sample, uint8_t param) {
    if (param) channel->sampleOffsetMemory = param;
    const uint32_t offset = static_cast<uint32_t>(channel->sampleOffsetMemory) * 256;
    const uint64_t loopEnd = static_cast<uint64_t>(sample->loopStart) + sample->loopLength;
    if (offset >= loopEnd) {
        // Beyond the end: no new note; the sounding one starts over from its first frame.
        channel->updateFlags &= static_cast<uint8_t>(~UPDATE_TRIGGER);
        channel->updateFlags |= UPDATE_REWIND;
    } else if (channel->voice) {
        channel->voice->startOffset = offset;
    }
}

}  // namespace

void applyVolumeColumnRow(ChannelState* channel, uint8_t v) {
    const int x = v & 0x0F;
    if (v >= 0x10 && v <= 0x50) {
        channel->volume = v - 0x10;
        channel->updateFlags |= UPDATE_VOLUME;
        return;
    }
    switch (v >> 4) {
        case 0x6:
        case 0x8: slideVolumeDown(channel, x); break;
        case 0x7:
        case 0x9: slideVolumeUp(channel, x); break;
        case 0xA: channel->vibratoSpeed = static_cast<uint8_t>(x); break;
        case 0xB: channel->vibratoDepth = static_cast<uint8_t>(x); break;
        case 0xC:
            channel->panning = x * 16;
            channel->updateFlags |= UPDATE_PANNING;
            break;
        case 0xD: slidePanning(channel, -x); break;
        case 0xE: slidePanning(channel, x); break;
        case 0xF:
            // Slides toward the note without restarting it; the cell is not a portamento cell,
            // so a note in it has already set the period and the pitch jumps at once.
            if (x) channel->portaSpeed = static_cast<uint8_t>(x * 16);
            channel->portaTarget = channel->notePeriod;
            channel->updateFlags &= static_cast<uint8_t>(~UPDATE_TRIGGER);
            break;
        default: break;  // 0x01..0x0F and 0x51..0x5F
    }
}

void applyRowEffect(Song* song, ChannelState* channel, const NoteCell& cell,
                    const ChannelSound& sound, const RowStartCopies& before, bool* jumpSeen) {
    const uint8_t xx = cell.param;
    const uint8_t x = xx >> 4;
    const uint8_t y = xx & 0x0F;
    switch (cell.effect) {
        case EFFECT_PORTA_UP:
            if (xx) channel->portaUpMemory = xx;
            break;
        case EFFECT_PORTA_DOWN:
            if (xx) channel->portaDownMemory = xx;
            break;
        case EFFECT_TONE_PORTA:
            if (xx) channel->portaSpeed = xx;
            channel->portaTarget = channel->notePeriod;
            channel->updateFlags &= static_cast<uint8_t>(~(UPDATE_PITCH | UPDATE_TRIGGER));
            break;
        case EFFECT_VIBRATO:
            if (x) channel->vibratoSpeed = x;
            if (y) channel->vibratoDepth = y;
            if (!song->protrackerRules) applyVibrato(channel);  // ProTracker's waits for tick 1
            break;
        case EFFECT_TONE_PORTA_VOLUME_SLIDE:
            channel->portaTarget = channel->notePeriod;
            if (xx) channel->volumeSlideMemory = xx;
            channel->updateFlags &= static_cast<uint8_t>(~(UPDATE_PITCH | UPDATE_TRIGGER));
            break;
        case EFFECT_VIBRATO_VOLUME_SLIDE:
            if (xx) channel->volumeSlideMemory = xx;
            if (!song->protrackerRules) applyVibrato(channel);
            break;
        case EFFECT_TREMOLO:
            if (x) channel->tremoloSpeed = x;
            if (y) channel->tremoloDepth = y;
            break;
        case EFFECT_SET_PANNING:
            channel->panning = xx;
            channel->updateFlags |= UPDATE_PANNING;
            break;
        case EFFECT_SAMPLE_OFFSET: sampleOffset(channel, sound.sample, xx); break;
        case EFFECT_VOLUME_SLIDE:
            if (xx) channel->volumeSlideMemory = xx;
            break;
        case EFFECT_POSITION_JUMP: positionJump(song, xx, jumpSeen); break;
        case EFFECT_SET_VOLUME:
            // The whole byte, without a limit: a later slide brings it back into 0..64.
            channel->volume = xx;
            channel->updateFlags |= UPDATE_VOLUME;
            break;
        case EFFECT_PATTERN_BREAK: patternBreak(song, xx, *jumpSeen); break;
        case EFFECT_EXTENDED: extendedRowEffect(song, channel, sound.sample, xx, before); break;
        case EFFECT_SPEED_TEMPO:
            if (xx <= 0x1F) {
                song->speed = xx;
            } else {
                setBpm(song, xx);
            }
            break;
        case EFFECT_SET_GLOBAL_VOLUME:
            // Other channels take the new level at their next volume update.
            song->globalVolume = xx > 64 ? 64 : xx;
            channel->updateFlags |= UPDATE_VOLUME;
            break;
        case EFFECT_GLOBAL_VOLUME_SLIDE:
            if (xx) song->globalVolumeSlideMemory = xx;
            break;
        case EFFECT_ENVELOPE_POSITION:
            setVolumeEnvelopePosition(channel, sound.instrument, xx);
            break;
        case EFFECT_PANNING_SLIDE:
            if (xx) {
                channel->panningSlideMemory = xx;
                channel->updateFlags |= UPDATE_PANNING;
            }
            break;
        case EFFECT_MULTI_RETRIGGER:
            if (xx) {
                channel->retrigVolumeChange = x;
                channel->retrigInterval = y;
            }
            break;
        case EFFECT_TREMOR:
            if (xx) {
                channel->tremorOnTicks = x + 1;
                channel->tremorOffTicks = y + 1;
            }
            tremorStep(channel);
            break;
        case EFFECT_EXTRA_FINE_PORTA:
            if (x == 1) {
                if (y) channel->extraFineUpMemory = y;
                channel->period = addSaturated(channel->period, -channel->extraFineUpMemory);
            } else if (x == 2) {
                if (y) channel->extraFineDownMemory = y;
                channel->period = addSaturated(channel->period, channel->extraFineDownMemory);
            }
            break;
        default: break;  // arpeggio and K (handled by the row start) act later or not at all
    }
}
