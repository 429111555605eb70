#include "player/impulse.h"

#include <cmath>
#include <cstdlib>

#include "player/voice_pool.h"

namespace {

constexpr int32_t FULL_FADEOUT = 65536;
constexpr uint8_t NO_FILTER_CUTOFF = 127;

bool sounding(const ChannelState* channel) {
    return channel->voice && channel->voice->sample != nullptr;
}

// Whose the channel's note is for the duplicate check: instrument, sample and note.
struct NoteIdentity {
    int instrument;
    const Sample* sample;
    int note;
};

NoteIdentity identityOf(const PlayState* state, const ChannelState* channel) {
    const ChannelSound sound = resolveSound(state, channel);
    return {channel->instrumentIndex, sound.sample, channel->noteIndex};
}

bool duplicates(uint8_t check, const NoteIdentity& a, const NoteIdentity& b) {
    switch (check) {
        case DUPLICATE_NOTE: return a.instrument == b.instrument && a.note == b.note;
        case DUPLICATE_SAMPLE: return a.instrument == b.instrument && a.sample == b.sample;
        case DUPLICATE_INSTRUMENT: return a.instrument == b.instrument;
        default: return false;
    }
}

// Cut, note off or fade, as the NNA and the past-note commands number them less one.
void actOn(ChannelState* note, const Instrument* instrument, int action) {
    switch (action) {
        case 0: cutNote(note); break;
        case 1: releaseImpulseNote(note, instrument); break;
        case 2: note->fading = 1; break;
        default: break;
    }
}

const Instrument* instrumentOf(const PlayState* state, const ChannelState* channel) {
    return resolveSound(state, channel).instrument;
}

bool envelopeOn(const ChannelState* channel, const Envelope& shape, int which) {
    if (channel->envelopesOff & (1 << which)) return false;
    if (channel->envelopesOn & (1 << which)) return shape.pointCount >= 2;
    return (shape.flags & ENVELOPE_ON) && shape.pointCount >= 2;
}

// The envelope's value at its tick, in 1/256 steps, by straight lines between the points.
int32_t envelopeValueAt(const Envelope& shape, int32_t tick) {
    const EnvelopePoint* p = shape.points;
    const int last = shape.pointCount - 1;
    if (tick <= p[0].position) return p[0].value * 256;
    for (int k = 0; k < last; ++k) {
        if (tick <= p[k + 1].position) {
            const int32_t span = p[k + 1].position - p[k].position;
            const int32_t into = tick - p[k].position;
            return p[k].value * 256 + (p[k + 1].value - p[k].value) * 256 * into / span;
        }
    }
    return p[last].value * 256;
}

// One tick of an envelope: the value at the position, then the position moves on, back to the
// sustain loop's start while the key is held, else to the loop's start; it stops at the end.
// Returns the value in 1/256 steps.
int32_t stepEnvelope(EnvelopeState* envelope, const Envelope& shape, bool held) {
    const int32_t value = envelopeValueAt(shape, envelope->tick);
    int32_t next = envelope->tick + 1;
    const EnvelopePoint* p = shape.points;
    if (held && (shape.flags & ENVELOPE_SUSTAIN)) {
        if (next > p[shape.sustainEnd].position) next = p[shape.sustainStart].position;
    } else if (shape.flags & ENVELOPE_LOOP) {
        if (next > p[shape.loopEnd].position) next = p[shape.loopStart].position;
    }
    const int32_t end = p[shape.pointCount - 1].position;
    if (next > end) {
        next = end;
        envelope->done = 1;
    }
    envelope->tick = next;
    envelope->value = value;
    return value;
}

// The fade-out of a released or fading note; a note faded out entirely is over.
void stepFadeout(ChannelState* channel, const Instrument* instrument) {
    if (!channel->fading) return;
    channel->fadeoutVolume -= instrument->fadeout;
    if (channel->fadeoutVolume < 0) channel->fadeoutVolume = 0;
    channel->updateFlags |= UPDATE_VOLUME;
}

// The sample's own vibrato: its depth grows by the rate every tick (in 1/256 steps) up to the
// sample's depth; the waveform moves by the speed.
void sampleVibrato(ChannelState* channel, const Sample* sample) {
    if (sample->vibratoDepth == 0 || sample->vibratoRate == 0) return;
    int32_t depth = channel->autoVibratoSweepTicks + sample->vibratoSweep;
    if (depth > sample->vibratoDepth * 256) depth = sample->vibratoDepth * 256;
    channel->autoVibratoSweepTicks = depth;
    const int a = channel->autoVibratoPosition & 255;
    int32_t w = 0;
    switch (sample->vibratoType) {
        case 0:
            w = static_cast<int32_t>(std::lround(std::sin(a * 6.283185307179586 / 256.0) * 64.0));
            break;
        case 1: w = a < 128 ? 64 : -64; break;
        case 2: w = 64 - ((a + 128) & 255) / 2; break;
        case VIBRATO_RANDOM: w = static_cast<int32_t>((a * 73 + 41) % 129) - 64; break;
        default: w = 0; break;
    }
    // In 1/768 octave: a depth of 64 swings a semitone at most (as openmpt123 plays it).
    channel->periodDelta += w * (depth >> 8) / 64;
    channel->autoVibratoPosition = (channel->autoVibratoPosition + sample->vibratoRate) & 255;
    channel->updateFlags |= UPDATE_PITCH;
}

// Parses a hexadecimal macro byte at `text`, with `z` standing for `value`; -1 for anything else.
int macroByte(const char*& text, uint8_t value) {
    while (*text == ' ') ++text;
    if (!*text) return -1;
    if (*text == 'z' || *text == 'Z') {
        ++text;
        return value;
    }
    auto digit = [](char c) {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    const int high = digit(text[0]);
    const int low = high >= 0 ? digit(text[1]) : -1;
    if (low < 0) {
        ++text;
        return -2;  // a letter the filter does not read (channel, note, velocity...)
    }
    text += 2;
    return high * 16 + low;
}

}  // namespace

void cutNote(ChannelState* channel) {
    channel->volume = 0;
    channel->fadeoutVolume = 0;
    channel->fading = 1;
    channel->updateFlags |= UPDATE_VOLUME;
}

void releaseImpulseNote(ChannelState* channel, const Instrument* instrument) {
    channel->keyOff = 1;
    Voice* voice = channel->voice;
    if (voice && voice->sustainHeld) {
        voice->sustainHeld = 0;
        // Out of a ping-pong sustain loop into a loop that only runs forward.
        if (voice->sample && !(voice->sample->loopMode & LOOP_PINGPONG))
            voice->direction = DIRECTION_FORWARD;
    }
    const Envelope& volume = instrument->volumeEnvelope;
    // Without a volume envelope, or with one that loops, nothing else ends the note: it fades.
    if (!envelopeOn(channel, volume, 0) || (volume.flags & ENVELOPE_LOOP)) channel->fading = 1;
}

void newNoteActions(PlayState* state, ChannelState* channel, const NoteCell& cell) {
    if (!state->song->instrumentMode) return;
    // The note playing goes to the background (unless its action cuts it)...
    if (sounding(channel) && channel->newNoteAction != NNA_CUT) {
        const Instrument* instrument = instrumentOf(state, channel);
        ChannelState* slot = moveToBackground(state, channel);
        if (slot && channel->newNoteAction == NNA_NOTE_OFF) releaseImpulseNote(slot, instrument);
        if (slot && channel->newNoteAction == NNA_NOTE_FADE) slot->fading = 1;
    }
    // ...where the duplicate check finds it with the channel's other past notes.
    ChannelState next = *channel;
    if (cell.instrument) next.instrumentIndex = static_cast<uint8_t>(cell.instrument - 1);
    next.noteIndex = static_cast<uint8_t>(cell.note - 1);
    const NoteIdentity incoming = identityOf(state, &next);
    const Instrument* nextInstrument = instrumentOf(state, &next);
    if (nextInstrument->duplicateCheck == DUPLICATE_OFF) return;
    for (ChannelState& slot : state->background) {
        if (!slot.active || slot.owner != channel->owner) continue;
        if (duplicates(nextInstrument->duplicateCheck, identityOf(state, &slot), incoming))
            actOn(&slot, instrumentOf(state, &slot), nextInstrument->duplicateAction);
    }
}

void startImpulseNote(PlayState* state, ChannelState* channel, const ChannelSound& sound,
                      bool noteStarts) {
    const Instrument* instrument = sound.instrument;
    const Sample* sample = sound.sample;
    channel->middleCRate =
        sample->middleCRate > 0 ? static_cast<int32_t>(sample->middleCRate) : 8363;
    channel->noteGlobalVolume = sample->globalVolume * instrument->globalVolume;
    if (!noteStarts) return;
    channel->newNoteAction = instrument->newNoteAction;
    channel->envelopesOff = 0;
    channel->envelopesOn = 0;
    channel->keyOff = 0;
    channel->fading = 0;
    channel->fadeoutVolume = FULL_FADEOUT;
    channel->autoVibratoPosition = 0;
    channel->autoVibratoSweepTicks = 0;
    if (channel->voice) channel->voice->sustainHeld = 1;
    // The instrument's default panning, the sample's over it, then the pitch-pan separation
    // around the instrument's centre.
    if (instrument->defaultPanning >= 0) channel->panning = instrument->defaultPanning;
    if (sample->panning != SAMPLE_PANNING_NONE) channel->panning = sample->panning;
    if (instrument->defaultPanning >= 0 || sample->panning != SAMPLE_PANNING_NONE)
        channel->surround = 0;
    if (instrument->pitchPanSeparation != 0) {
        const int moved = channel->panning + (sound.note - instrument->pitchPanCentre) *
                                                 instrument->pitchPanSeparation / 2;
        channel->panning = moved < 0 ? 0 : moved > 255 ? 255 : moved;
    }
    // Volume and panning swing: a random offset for each note, by the instrument's amounts.
    channel->swingVolume = 0;
    channel->swingPanning = 0;
    uint32_t& seed = state->randomSeed;
    auto random = [&seed](int range) {
        seed = seed * 1103515245u + 12345u;
        return static_cast<int>((seed >> 16) % static_cast<uint32_t>(2 * range + 1)) - range;
    };
    if (instrument->randomVolume)
        channel->swingVolume = random(64 * instrument->randomVolume / 100);
    if (instrument->randomPanning) channel->swingPanning = random(instrument->randomPanning * 4);
    if (instrument->filterCutoff & 0x80) channel->filterCutoff = instrument->filterCutoff & 0x7F;
    if (instrument->filterResonance & 0x80)
        channel->filterResonance = instrument->filterResonance & 0x7F;
    // Envelopes restart unless they carry on from the last note of the instrument.
    EnvelopeState* envelopes[3] = {&channel->volumeEnvelope, &channel->panningEnvelope,
                                   &channel->pitchEnvelope};
    const Envelope* shapes[3] = {&instrument->volumeEnvelope, &instrument->panningEnvelope,
                                 &instrument->pitchEnvelope};
    for (int k = 0; k < 3; ++k) {
        if (!(shapes[k]->flags & ENVELOPE_CARRY) || envelopes[k]->done) *envelopes[k] = {};
    }
    channel->volumeEnvelope.output = 64;
    channel->panningEnvelope.output = 32;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING | UPDATE_PITCH;
}

void pastNotes(PlayState* state, const ChannelState* channel, uint8_t action) {
    for (ChannelState& slot : state->background) {
        if (slot.active && slot.owner == channel->owner)
            actOn(&slot, instrumentOf(state, &slot), action);
    }
}

void switchEnvelope(ChannelState* channel, uint8_t param) {
    const uint8_t bit = static_cast<uint8_t>(1 << (param & 3));
    if (param & 4) {
        channel->envelopesOn |= bit;
        channel->envelopesOff &= static_cast<uint8_t>(~bit);
    } else {
        channel->envelopesOff |= bit;
        channel->envelopesOn &= static_cast<uint8_t>(~bit);
    }
}

void advanceImpulseEnvelopes(const PlayState* state, ChannelState* channel,
                             const ChannelSound& sound) {
    const Instrument* instrument = sound.instrument;
    const bool held = !channel->keyOff;
    // An envelope that a command switched off stands where it was, its value held (as
    // openmpt123 and xmp play S77, S79, S7B); one the instrument leaves off has no effect.
    const auto paused = [&](int which) { return (channel->envelopesOff >> which) & 1; };
    if (envelopeOn(channel, instrument->volumeEnvelope, 0)) {
        const int32_t value =
            stepEnvelope(&channel->volumeEnvelope, instrument->volumeEnvelope, held);
        channel->volumeEnvelope.output = value / 256;
        // At the end of the envelope the note fades; at its end on 0 it is over.
        if (channel->volumeEnvelope.done) {
            channel->fading = 1;
            if (value == 0) channel->fadeoutVolume = 0;
        }
    } else if (!paused(0)) {
        channel->volumeEnvelope.output = 64;
    }
    if (envelopeOn(channel, instrument->panningEnvelope, 1)) {
        channel->panningEnvelope.output =
            stepEnvelope(&channel->panningEnvelope, instrument->panningEnvelope, held) / 256;
        channel->updateFlags |= UPDATE_PANNING;
    }
    const bool filterEnvelope = instrument->pitchEnvelope.flags & ENVELOPE_FILTER;
    int32_t pitch = 0;
    if (envelopeOn(channel, instrument->pitchEnvelope, 2)) {
        pitch = stepEnvelope(&channel->pitchEnvelope, instrument->pitchEnvelope, held);
    } else if (paused(2)) {
        pitch = channel->pitchEnvelope.value;
    }
    // Pitch: a half semitone per step; the filter envelope scales the cutoff instead.
    channel->pitchEnvelope.output = filterEnvelope ? pitch : 0;
    if (!filterEnvelope && pitch != 0) {
        if (usesLinearPeriods(state->song)) {
            channel->periodDelta += pitch * 32 / 256;
        } else {
            const double ratio = std::pow(2.0, -static_cast<double>(pitch) / (24.0 * 256.0));
            channel->periodDelta += static_cast<int32_t>(channel->period * (ratio - 1.0));
        }
    }
    stepFadeout(channel, instrument);
    sampleVibrato(channel, sound.sample);
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PITCH;
    if (state->behaviours & BEHAVIOUR_RESONANT_FILTER) updateFilter(state, channel);
}

void playMidiMacro(const PlayState* state, ChannelState* channel, uint8_t param) {
    const MidiMacros* macros =
        state->song->midiMacros ? state->song->midiMacros : defaultMidiMacros();
    const char* text =
        param < 0x80 ? macros->parametered[channel->midiMacro & 15] : macros->fixed[param & 0x7F];
    const uint8_t value = param & 0x7F;
    // The filter's messages: F0 F0 00 v sets the cutoff, F0 F0 01 v the resonance.
    int bytes[4];
    int count = 0;
    for (const char* at = text; *at && count < 4;) {
        const int b = macroByte(at, value);
        if (b == -1) break;
        bytes[count++] = b;
    }
    if (count < 4 || bytes[0] != 0xF0 || bytes[1] != 0xF0 || bytes[3] < 0 || bytes[3] > 0x7F)
        return;
    if (bytes[2] == 0x00) channel->filterCutoff = static_cast<uint8_t>(bytes[3]);
    if (bytes[2] == 0x01) channel->filterResonance = static_cast<uint8_t>(bytes[3]);
}

void updateFilter(const PlayState* state, ChannelState* channel) {
    Voice* voice = channel->voice;
    if (!voice) return;
    const ChannelSound sound = resolveSound(state, channel);
    const bool envelope = (envelopeOn(channel, sound.instrument->pitchEnvelope, 2) ||
                           ((channel->envelopesOff >> 2) & 1)) &&
                          (sound.instrument->pitchEnvelope.flags & ENVELOPE_FILTER);
    if (!envelope && channel->filterCutoff >= NO_FILTER_CUTOFF && channel->filterResonance == 0) {
        voice->filterOn = 0;
        return;
    }
    // The envelope scales the cutoff by (value + 32) / 64.
    double cutoff = channel->filterCutoff;
    if (envelope) cutoff = cutoff * (channel->pitchEnvelope.output / 256.0 + 32.0) / 64.0;
    double frequency = 110.0 * std::pow(2.0, 0.25 + cutoff / 24.0);
    const double rate = state->sampleRate > 0 ? state->sampleRate : 44100;
    if (frequency < 120.0) frequency = 120.0;
    if (frequency > 20000.0) frequency = 20000.0;
    if (frequency > rate / 2) frequency = rate / 2;
    // The tracker's two-pole resonant low-pass: damping from the resonance, r frames a radian.
    const double damping = std::pow(10.0, -channel->filterResonance * 24.0 / (128.0 * 20.0));
    const double r = rate / (2.0 * 3.14159265358979 * frequency);
    const double d = damping * r + damping - 1.0;
    const double e = r * r;
    const double a = 1.0 / (1.0 + d + e);
    if (!voice->filterOn) {
        voice->filterHistory[0][0] = voice->filterHistory[0][1] = 0.0f;
        voice->filterHistory[1][0] = voice->filterHistory[1][1] = 0.0f;
    }
    voice->filterOn = 1;
    voice->filterA = static_cast<float>(a);
    voice->filterB = static_cast<float>((d + e + e) * a);
    voice->filterC = static_cast<float>(-e * a);
}
