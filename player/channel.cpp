#include "player/channel.h"

#include <cmath>
#include <cstdlib>

#include "player/sequencer.h"
#include "player/effects.h"
#include "player/envelopes.h"

namespace {

constexpr int32_t FULL_FADEOUT = 65536;

// Cells hold 1..96 for a note; key-off and the unused values above 96 are no note.
bool isNote(uint8_t note) { return note >= 1 && note <= 96; }

int32_t clampToByte(int64_t value) {
    if (value < 0) return 0;
    if (value > 255) return 255;
    return static_cast<int32_t>(value);
}

// Starts a note on the channel's voice. A voice that still sounds is handed over to its twin
// (c <-> c + 32), which takes the new note, while the old one keeps playing at gain 0 and so ramps
// out in the mixer instead of stopping with a click.
void triggerVoice(ChannelState* channel, const Sample* sample, Voice* voices) {
    Voice* voice = &voices[channel->voice->index];
    if (voice->sample) {
        const int32_t i = voice->index;
        const int32_t twin = i <= 31 ? i + TWIN_DISTANCE : i - TWIN_DISTANCE;
        voices[twin] = *voice;
        voices[twin].index = twin;
        voice->finalVolume = 0;
        voice->mixVolume = 0;
        voice->volumeLeft = 0;
        voice->volumeRight = 0;
        voice = &voices[twin];
        channel->voice = voice;
    }
    // The mixer only reads sample records; the voice keeps a plain pointer.
    voice->sample = const_cast<Sample*>(sample);
    const uint64_t loopEnd = static_cast<uint64_t>(sample->loopStart) + sample->loopLength;
    if (voice->startOffset >= loopEnd) voice->startOffset = 0;
    voice->position = voice->startOffset;
    voice->positionFraction = 0;
    voice->direction = DIRECTION_FORWARD;
    voice->startOffset = 0;
    voice->levelLeft = 0;
    voice->levelRight = 0;
    voice->rampRemaining = 0;
}

// Gains of the two output sides from a volume and a panning (0 full left, 255 full right).
void setGains(Voice* voice, int32_t volume, int32_t panning) {
    voice->volumeLeft = volume * (255 - panning) / 255;
    voice->volumeRight = volume * panning / 255;
}

void updateVolume(ChannelState* channel, const Song* song) {
    // 255 / 2^35 folds the four factors' full scales (64 x 64 x 65536 x 64) into 0..127.
    const int64_t product = static_cast<int64_t>(channel->volumeEnvelope.output) *
                            (channel->volume + channel->volumeDelta) * channel->fadeoutVolume *
                            song->globalVolume * 255;
    const int32_t finalVolume = static_cast<int32_t>(product / (int64_t{1} << 35));
    Voice* voice = channel->voice;
    voice->mixVolume = finalVolume;
    voice->finalVolume = finalVolume;
    setGains(voice, finalVolume, voice->mixPanning);
}

void updatePanning(ChannelState* channel) {
    // The envelope swings the panning less the nearer it is to a side: 4 units per envelope step
    // at the centre, none at the edges.
    const int64_t swing = channel->panningEnvelope.output - 32;
    const int64_t panning = channel->panning;
    const int64_t reach = (128 - std::llabs(panning - 128)) / 32;
    const int32_t finalPanning = clampToByte(panning + swing * reach);
    Voice* voice = channel->voice;
    voice->mixPanning = finalPanning;
    voice->finalPanning = finalPanning;
    setGains(voice, voice->mixVolume, finalPanning);
}

// Four times the clock the Amiga's periods count: FastTracker 2's, and the PAL Amiga's that
// ProTracker songs were tuned on (a sixth of a semitone lower).
constexpr int64_t AMIGA_CLOCK = 14317056;
constexpr int64_t PAL_AMIGA_CLOCK = 4 * 3546895;

// In linear mode a positive periodDelta raises the pitch, in Amiga mode it lowers it.
int32_t frequencyOf(const Song* song, int64_t period, int64_t periodDelta) {
    if (!usesLinearPeriods(song)) {
        const int64_t clock = song->protrackerRules ? PAL_AMIGA_CLOCK : AMIGA_CLOCK;
        return static_cast<int32_t>(clock / (period + periodDelta));
    }
    // Linear periods: 768 units per octave, 4608 being 8363 Hz.
    const double exponent = static_cast<double>((4608 - period) + periodDelta) / 768.0;
    const double frequency = std::pow(2.0, exponent) * 8363.0;
    if (frequency >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(frequency);
}

void updatePitch(ChannelState* channel, const Song* song) {
    Voice* voice = channel->voice;
    int32_t frequency = frequencyOf(song, channel->period, channel->periodDelta);
    voice->frequency = frequency;
    const int32_t sampleRate = song->player ? song->player->sampleRate : 0;
    if (sampleRate <= 0) return;
    if (frequency <= 99) frequency = 100;
    const uint32_t f = static_cast<uint32_t>(frequency);
    const uint32_t rate = static_cast<uint32_t>(sampleRate);
    voice->step = static_cast<int32_t>(f / rate);
    voice->stepFraction = static_cast<uint32_t>((static_cast<uint64_t>(f % rate) << 32) / rate);
}

// Back to the envelope's start with `output` until its first point is reached. The envelope's value
// is left as it was: it is set again when the first point is reached.
void restartEnvelope(EnvelopeState* envelope, int32_t output) {
    envelope->output = output;
    envelope->point = 0;
    envelope->tick = 0;
    envelope->slope = 0;
    envelope->done = 0;
}

}  // namespace

ChannelSound resolveSound(Song* song, const ChannelState* channel) {
    if (channel->instrumentIndex >= song->instrumentCount || !song->instruments) {
        // Shared by every song on every thread: written only if something ever set it.
        if (emptySample.data) emptySample.data = nullptr;
        return {&emptyInstrument, &emptySample};
    }
    Instrument* instrument = &song->instruments[channel->instrumentIndex];
    const uint8_t slot = instrument->noteSampleMap[channel->noteIndex];
    Sample* sample = slot < MAX_INSTRUMENT_SAMPLES ? instrument->samples[slot] : nullptr;
    return {instrument, sample ? sample : &emptySample};
}

int amigaPeriod(int note, int finetune) {
    auto periodOfNote = [](int n) {
        return static_cast<int>(std::pow(2.0, (132 - n) / 12.0) * 13.375);
    };
    const int p0 = periodOfNote(note);
    if (finetune < 0 && note != 0) {
        const int below = periodOfNote(note - 1);
        return p0 - ((p0 - below) * -finetune) / 128;
    }
    const int above = periodOfNote(note + 1);
    return p0 + ((above - p0) * finetune) / 128;
}

int32_t notePeriodOf(const Song* song, int realNote, int finetune) {
    if (usesLinearPeriods(song)) return 7680 - finetune / 2 - realNote * 64;
    return amigaPeriod(realNote, finetune);
}

void resetChannelInstrument(ChannelState* channel, const Sample* sample) {
    channel->volume = sample->volume;
    if (sample->panning != SAMPLE_PANNING_NONE) channel->panning = sample->panning;
    restartEnvelope(&channel->volumeEnvelope, 64);
    restartEnvelope(&channel->panningEnvelope, 32);
    channel->keyOff = 0;
    channel->fadeoutVolume = FULL_FADEOUT;
    channel->autoVibratoSweepTicks = 0;
    channel->autoVibratoPosition = 0;
    // Waveform control 4 and above keeps the oscillators' phase across notes.
    if ((channel->waveControl & 0x0F) <= 3) channel->vibratoPosition = 0;
    if ((channel->waveControl >> 4) <= 3) channel->tremoloPosition = 0;
    channel->tremorCounter = 0;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
}

void startChannelRow(Song* song, ChannelState* channel, const NoteCell& cell, bool* jumpSeen) {
    // A tone portamento slides to the cell's note instead of starting it, on the old instrument.
    const bool isPorta =
        cell.effect == EFFECT_TONE_PORTA || cell.effect == EFFECT_TONE_PORTA_VOLUME_SLIDE;
    const bool hasNote = isNote(cell.note);
    if (cell.instrument != 0 && !isPorta) channel->instrumentIndex = cell.instrument - 1;
    if (hasNote && !isPorta) channel->noteIndex = cell.note - 1;
    const ChannelSound sound = resolveSound(song, channel);

    const RowStartCopies before{channel->volume, channel->period, channel->panning};
    // A tremolo that ends leaves its last offset in the volume; in ProTracker the volume comes
    // back.
    if (channel->lastEffect == EFFECT_TREMOLO && cell.effect != EFFECT_TREMOLO &&
        !song->protrackerRules) {
        channel->volume += channel->volumeDelta;
    }
    channel->lastEffect = cell.effect;
    channel->volumeDelta = 0;
    channel->updateFlags = 0;

    if (hasNote) {
        channel->realNote = static_cast<uint8_t>(cell.note + sound.sample->relativeNote - 1);
        channel->notePeriod = notePeriodOf(song, channel->realNote, sound.sample->finetune);
        if (!isPorta) channel->period = channel->notePeriod;
        channel->updateFlags = UPDATE_TRIGGER;
    }
    channel->periodDelta = 0;
    channel->updateFlags |= UPDATE_PITCH | UPDATE_VOLUME;
    if (cell.instrument != 0) resetChannelInstrument(channel, sound.sample);
    if (cell.volumeColumn != 0) applyVolumeColumnRow(channel, cell.volumeColumn);
    if (cell.note == NOTE_KEY_OFF || cell.effect == EFFECT_KEY_OFF) channel->keyOff = 1;
    advanceEnvelopes(channel, sound.instrument, true);
    applyRowEffect(song, channel, cell, sound, before, jumpSeen);
    autoVibratoStep(channel, sound.instrument);
    updateVoice(channel, sound.sample, song);
}

void updateVoice(ChannelState* channel, const Sample* sample, const Song* song) {
    if (!channel->voice) return;
    // A zero period has no frequency (and would divide by zero in Amiga mode).
    if (static_cast<int64_t>(channel->period) + channel->periodDelta == 0) {
        channel->updateFlags &= static_cast<uint8_t>(~UPDATE_PITCH);
    }
    const uint8_t flags = channel->updateFlags;
    if ((flags & UPDATE_TRIGGER) && song->player)
        triggerVoice(channel, sample, song->player->voices);
    if (flags & UPDATE_VOLUME) updateVolume(channel, song);
    if (flags & UPDATE_PANNING) updatePanning(channel);
    if (flags & UPDATE_PITCH) updatePitch(channel, song);
    if (flags & UPDATE_REWIND) {
        Voice* voice = channel->voice;
        voice->positionFraction = 0;
        voice->position = 0;
        voice->startOffset = 0;
    }
}
