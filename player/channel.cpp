#include "player/channel.h"

#include <cmath>
#include <cstdlib>

#include "player/effects.h"
#include "player/envelopes.h"
#include "player/impulse.h"
#include "player/impulse_effects.h"
#include "player/sequencer.h"
#include "player/voice_pool.h"

namespace {

constexpr int32_t FULL_FADEOUT = 65536;

// Cells hold 1..120 for a note; key-off and the values above 120 are no note.
bool isNote(uint8_t note) { return note >= 1 && note <= NOTE_COUNT; }

int32_t clampToByte(int64_t value) {
    if (value < 0) return 0;
    if (value > 255) return 255;
    return static_cast<int32_t>(value);
}

// Gains of the two output sides from a volume and a panning (0 full left, 255 full right).
void setGains(Voice* voice, int32_t volume, int32_t panning) {
    voice->volumeLeft = volume * (255 - panning) / 255;
    voice->volumeRight = volume * panning / 255;
}

// The master volume that S3M files give (16..127) scales the output, 48 leaving it as it is.
constexpr int32_t UNITY_MASTER_VOLUME = 48;

// Impulse Tracker's chain: volume, sample and instrument global volumes, channel volume, global
// volume out of 128, envelope and fade-out (full scales 2^54 in all).
int32_t layeredVolume(const PlayState* state, const ChannelState* channel) {
    int64_t volume =
        static_cast<int64_t>(channel->volume) + channel->volumeDelta + channel->swingVolume;
    volume = volume < 0 ? 0 : volume > 64 ? 64 : volume;
    int64_t global = state->globalVolume < 0     ? 0
                     : state->globalVolume > 128 ? 128
                                                 : state->globalVolume;
    const int64_t product = static_cast<int64_t>(channel->volumeEnvelope.output) * volume *
                            channel->fadeoutVolume * global * channel->noteGlobalVolume *
                            channel->channelVolume;
    // The same 0..127 as the other formats' chain.
    const int64_t scaled = product >> 47;
    return static_cast<int32_t>(scaled > 127 ? 127 : scaled);
}

void updateVolume(const PlayState* state, ChannelState* channel) {
    int32_t finalVolume;
    if (state->behaviours & BEHAVIOUR_LAYERED_VOLUMES) {
        // A channel the file switches off plays nothing, though its effects go on.
        const bool disabled = channel->owner >= 0 && channel->owner < MAX_SONG_CHANNELS &&
                              (state->song->channelFlags[channel->owner] & CHANNEL_DISABLED);
        finalVolume = disabled ? 0 : layeredVolume(state, channel);
    } else {
        // 255 / 2^35 folds the four factors' full scales (64 x 64 x 65536 x 64) into 0..127.
        const int32_t volume = channel->tremorSilenced ? 0 : channel->volume + channel->volumeDelta;
        const int64_t product = static_cast<int64_t>(channel->volumeEnvelope.output) * volume *
                                channel->fadeoutVolume * state->globalVolume * 255;
        finalVolume = static_cast<int32_t>(product / (int64_t{1} << 35));
        const int32_t master = state->song->masterVolume;
        if (master) finalVolume = finalVolume * master / UNITY_MASTER_VOLUME;
        // Scream Tracker mixes stereo at 11/8 of the master volume: a mono file plays at 8/11
        // of a stereo one.
        if (state->behaviours & BEHAVIOUR_MONO) finalVolume = finalVolume * 8 / 11;
    }
    Voice* voice = channel->voice;
    voice->mixVolume = finalVolume;
    voice->finalVolume = finalVolume;
    setGains(voice, finalVolume, voice->mixPanning);
}

// Impulse Tracker's panning: the channel's (with the note's swing and the panbrello), moved by
// the envelope, narrowed by the song's separation; surround sits in the centre.
int32_t layeredPanning(const PlayState* state, const ChannelState* channel) {
    if (channel->surround) return 128;
    int64_t panning =
        static_cast<int64_t>(channel->panning) + channel->swingPanning + channel->panningDelta;
    panning = panning < 0 ? 0 : panning > 255 ? 255 : panning;
    const int64_t swing = channel->panningEnvelope.output - 32;
    const int64_t reach = (128 - std::llabs(panning - 128)) / 32;
    panning = clampToByte(panning + swing * reach);
    return static_cast<int32_t>(128 + (panning - 128) * state->song->panSeparation / 128);
}

void updatePanning(const PlayState* state, ChannelState* channel) {
    int32_t finalPanning;
    if (state->behaviours & BEHAVIOUR_LAYERED_VOLUMES) {
        finalPanning = layeredPanning(state, channel);
    } else {
        // The envelope swings the panning less the nearer it is to a side: 4 units per envelope
        // step at the centre, none at the edges.
        const int64_t swing = channel->panningEnvelope.output - 32;
        const int64_t panning = channel->panning;
        const int64_t reach = (128 - std::llabs(panning - 128)) / 32;
        finalPanning = clampToByte(panning + swing * reach);
    }
    if (state->behaviours & BEHAVIOUR_MONO) finalPanning = 128;
    Voice* voice = channel->voice;
    voice->mixPanning = finalPanning;
    voice->finalPanning = finalPanning;
    setGains(voice, voice->mixVolume, finalPanning);
}

// Four times the clock the Amiga's periods count: FastTracker 2's, and the PAL Amiga's that
// ProTracker songs were tuned on (a sixth of a semitone lower).
constexpr int64_t AMIGA_CLOCK = 14317056;
constexpr int64_t PAL_AMIGA_CLOCK = 4 * 3546895;

// The period of middle C (IT's C-5) where notes sound at their sample's middle-C rate.
constexpr int64_t LINEAR_MIDDLE_C = 7680 - 60 * 64;
constexpr int64_t AMIGA_MIDDLE_C = 1712;

int32_t frequencyAtRate(const PlayState* state, int64_t rate, int64_t period, int64_t delta) {
    double frequency;
    if (!usesLinearPeriods(state->song)) {
        if (period + delta <= 0) return INT32_MAX;
        frequency =
            static_cast<double>(rate) * AMIGA_MIDDLE_C / static_cast<double>(period + delta);
    } else {
        const double exponent = static_cast<double>(LINEAR_MIDDLE_C - period + delta) / 768.0;
        frequency = std::pow(2.0, exponent) * static_cast<double>(rate);
    }
    if (frequency >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(frequency);
}

// The octave (exponent of 2 against 8363 Hz) of a linear period beyond 9983, worked out as the
// tracker did, in 16 bits: 9983 - period, wrapped, gives an octave count and a step in the octave,
// and the frequency of the step is shifted right by 14 less that count, modulo 32. Up to 9983 this
// is the plain 2^((4608 - period) / 768); beyond, the count wraps and the shift with it.
double wrappedLinearExponent(int64_t period) {
    const auto inverse = static_cast<uint16_t>(9983 - period);
    const int octaves = inverse / 768;
    const int step = inverse % 768;
    const int shift = (14 - octaves) & 31;
    return 7.0 + static_cast<double>(step + 1) / 768.0 - shift;
}

// In linear mode a positive periodDelta raises the pitch, in Amiga mode it lowers it.
int32_t frequencyOf(const PlayState* state, const ChannelState* channel, int64_t period,
                    int64_t periodDelta) {
    if (channel->middleCRate > 0)
        return frequencyAtRate(state, channel->middleCRate, period, periodDelta);
    if (!usesLinearPeriods(state->song)) {
        const bool pal = state->behaviours & BEHAVIOUR_PAL_CLOCK;
        const int64_t clock = pal ? PAL_AMIGA_CLOCK : AMIGA_CLOCK;
        if (period + periodDelta == 0) return 0;  // a period of 0 stands still
        return static_cast<int32_t>(clock / (period + periodDelta));
    }
    // Linear periods: 768 units per octave, 4608 being 8363 Hz.
    double exponent = static_cast<double>((4608 - period) + periodDelta) / 768.0;
    if ((state->behaviours & BEHAVIOUR_LINEAR_FREQUENCY_WRAPS) && period - periodDelta > 9983)
        exponent = wrappedLinearExponent(period - periodDelta);
    const double frequency = std::pow(2.0, exponent) * 8363.0;
    if (frequency >= 2147483647.0) return INT32_MAX;
    return static_cast<int32_t>(frequency);
}

void updatePitch(const PlayState* state, ChannelState* channel) {
    Voice* voice = channel->voice;
    int32_t frequency = frequencyOf(state, channel, channel->period, channel->periodDelta);
    voice->frequency = frequency;
    const int32_t sampleRate = state->sampleRate;
    if (sampleRate <= 0) return;
    // A sound below 100 Hz plays at 100 Hz, unless the tracker played it as low as it goes, or
    // stopped it with a period of 0 as ProTracker's arpeggio may.
    const bool asLow = state->behaviours & BEHAVIOUR_LINEAR_FREQUENCY_WRAPS;
    const bool stopped = frequency == 0 && (state->behaviours & BEHAVIOUR_PROTRACKER_PERIODS);
    if (frequency <= 99 && !asLow && !stopped) frequency = 100;
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
    envelope->held = 0;
}

// Waveform control 4 and above keeps the oscillators' phase across notes.
void restartOscillators(ChannelState* channel) {
    if ((channel->waveControl & 0x0F) <= 3) channel->vibratoPosition = 0;
    if ((channel->waveControl >> 4) <= 3) channel->tremoloPosition = 0;
}

// Whether the cell releases the note at the row start: a key-off note or Kxx, unless the profile
// has them wait for a note delay's tick or Kxx's own.
bool releasesAtRowStart(const PlayState* state, const NoteCell& cell) {
    const BehaviourSet rules = state->behaviours;
    const uint8_t command = cell.effect.command;
    const bool delayed = command == CMD_NOTE_DELAY && cell.effect.param != 0 &&
                         (rules & BEHAVIOUR_DELAY_HOLDS_KEY_OFF);
    if (cell.note == NOTE_KEY_OFF && !delayed) return true;
    return command == CMD_KEY_OFF &&
           (cell.effect.param == 0 || !(rules & BEHAVIOUR_KEY_OFF_ON_ITS_TICK));
}

// The sample whose volume and panning an instrument number sets: the instrument's, or without a
// note, where the profile says so, the sample sounding.
const Sample* sampleToReset(const PlayState* state, const ChannelState* channel,
                            const Sample* named, bool hasNote) {
    const Voice* voice = channel->voice;
    if (hasNote || !(state->behaviours & BEHAVIOUR_INSTRUMENT_KEEPS_SAMPLE)) return named;
    return voice && voice->sample ? voice->sample : named;
}

// With BEHAVIOUR_NOTE_RANGE_LIMITS, whether the cell's note with its sample's relative note lands
// at B-9 or above, where it is no note.
bool noteAboveRange(const PlayState* state, const ChannelState* channel, const NoteCell& cell) {
    constexpr int HIGHEST_NOTE = 118;  // A#9
    ChannelState would = *channel;
    if (cell.instrument != 0) would.instrumentIndex = cell.instrument - 1;
    would.noteIndex = cell.note - 1;
    const ChannelSound sound = resolveSound(state, &would);
    return sound.note + sound.sample->relativeNote > HIGHEST_NOTE;
}

// A sample number without a note: the sample playing goes on to the end of its loop, and the new
// one plays from there, from its loop's start; a voice that has stopped stays silent.
void swapSample(ChannelState* channel, const Sample* sample) {
    Voice* voice = channel->voice;
    if (voice && voice->sample && voice->sample != sample) voice->nextSample = sample;
}

}  // namespace

ChannelSound resolveSound(const PlayState* state, const ChannelState* channel) {
    const Song* song = state->song;
    const uint8_t noteIndex = channel->noteIndex < NOTE_COUNT ? channel->noteIndex : 0;
    if (channel->instrumentIndex >= song->instrumentCount || !song->instruments) {
        return {&emptyInstrument, &emptySample, noteIndex};
    }
    const Instrument* instrument = &song->instruments[channel->instrumentIndex];
    const KeyboardEntry& key = instrument->keyboard[noteIndex];
    const bool held = key.sample >= 0 && key.sample < song->sampleCount;
    return {instrument, held ? &song->samples[key.sample] : &emptySample, key.note};
}

int sampleFinetune(const PlayState* state, const Sample* sample) {
    const Song* song = state->song;
    if (sample < song->samples || sample >= song->samples + song->sampleCount) return 0;
    return state->sampleFinetune[sample - song->samples];
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

namespace {

// ProTracker's periods (the file's units) of its three octaves, C-1 to B-3, one row of 36 for
// each finetune in the order a sample header stores it: 0 to 7, then -8 to -1.
constexpr int PROTRACKER_NOTES = 36;
constexpr int PROTRACKER_LOWEST_NOTE = 36;  // C-1 among the real notes
const uint16_t PROTRACKER_PERIODS[16 * PROTRACKER_NOTES] =
    {
        856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480, 453,  // finetune 0
        428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240, 226,
        214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120, 113,
        850, 802, 757, 715, 674, 637, 601, 567, 535, 505, 477, 450,  // finetune 1
        425, 401, 379, 357, 337, 318, 300, 284, 268, 253, 239, 225,
        213, 201, 189, 179, 169, 159, 150, 142, 134, 126, 119, 113,
        844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474, 447,  // finetune 2
        422, 398, 376, 355, 335, 316, 298, 282, 266, 251, 237, 224,
        211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118, 112,
        838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470, 444,  // finetune 3
        419, 395, 373, 352, 332, 314, 296, 280, 264, 249, 235, 222,
        209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118, 111,
        832, 785, 741, 699, 660, 623, 588, 555, 524, 495, 467, 441,  // finetune 4
        416, 392, 370, 350, 330, 312, 294, 278, 262, 247, 233, 220,
        208, 196, 185, 175, 165, 156, 147, 139, 131, 124, 117, 110,
        826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463, 437,  // finetune 5
        413, 390, 368, 347, 328, 309, 292, 276, 260, 245, 232, 219,
        206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116, 109,
        820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460, 434,  // finetune 6
        410, 387, 365, 345, 325, 307, 290, 274, 258, 244, 230, 217,
        205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115, 109,
        814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457, 431,  // finetune 7
        407, 384, 363, 342, 323, 305, 288, 272, 256, 242, 228, 216,
        204, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114, 108,
        907, 856, 808, 762, 720, 678, 640, 604, 570, 538, 508, 480,  // finetune -8
        453, 428, 404, 381, 360, 339, 320, 302, 285, 269, 254, 240,
        226, 214, 202, 190, 180, 170, 160, 151, 143, 135, 127, 120,
        900, 850, 802, 757, 715, 675, 636, 601, 567, 535, 505, 477,  // finetune -7
        450, 425, 401, 379, 357, 337, 318, 300, 284, 268, 253, 238,
        225, 212, 200, 189, 179, 169, 159, 150, 142, 134, 126, 119,
        894, 844, 796, 752, 709, 670, 632, 597, 563, 532, 502, 474,  // finetune -6
        447, 422, 398, 376, 355, 335, 316, 298, 282, 266, 251, 237,
        223, 211, 199, 188, 177, 167, 158, 149, 141, 133, 125, 118,
        887, 838, 791, 746, 704, 665, 628, 592, 559, 528, 498, 470,  // finetune -5
        444, 419, 395, 373, 352, 332, 314, 296, 280, 264, 249, 235,
        222, 209, 198, 187, 176, 166, 157, 148, 140, 132, 125, 118,
        881, 832, 785, 741, 699, 660, 623, 588, 555, 524, 494, 467,  // finetune -4
        441, 416, 392, 370, 350, 330, 312, 294, 278, 262, 247, 233,
        220, 208, 196, 185, 175, 165, 156, 147, 139, 131, 123, 117,
        875, 826, 779, 736, 694, 655, 619, 584, 551, 520, 491, 463,  // finetune -3
        437, 413, 390, 368, 347, 328, 309, 292, 276, 260, 245, 232,
        219, 206, 195, 184, 174, 164, 155, 146, 138, 130, 123, 116,
        868, 820, 774, 730, 689, 651, 614, 580, 547, 516, 487, 460,  // finetune -2
        434, 410, 387, 365, 345, 325, 307, 290, 274, 258, 244, 230,
        217, 205, 193, 183, 172, 163, 154, 145, 137, 129, 122, 115,
        862, 814, 768, 725, 684, 646, 610, 575, 543, 513, 484, 457,  // finetune -1
        431, 407, 384, 363, 342, 323, 305, 288, 272, 256, 242, 228,
        216, 203, 192, 181, 171, 161, 152, 144, 136, 128, 121, 114,
};

// The table of a MOD finetune (-128..112, as its high nibble).
const uint16_t* protrackerRow(int finetune) {
    return &PROTRACKER_PERIODS[((finetune >> 4) & 15) * PROTRACKER_NOTES];
}

}  // namespace

int32_t protrackerPeriod(int realNote, int finetune) {
    const int note = realNote - PROTRACKER_LOWEST_NOTE;
    if (note < 0 || note >= PROTRACKER_NOTES) return 0;
    return 4 * protrackerRow(finetune)[note];
}

int32_t protrackerArpeggioPeriod(int32_t period, int finetune, int offset) {
    // The row is read as 37 entries, the 36 periods and a 0 after them, and an interval that goes
    // beyond comes round to the row's start: the 0 stops the sample where it is.
    const uint16_t* row = protrackerRow(finetune);
    int index = 0;
    while (index < PROTRACKER_NOTES && 4 * row[index] > period) ++index;
    int target = index + offset;
    if (target > PROTRACKER_NOTES) target -= PROTRACKER_NOTES + 1;
    return target == PROTRACKER_NOTES ? 0 : 4 * row[target];
}

int32_t notePeriodOf(const Song* song, int realNote, int finetune) {
    if (usesLinearPeriods(song)) return 7680 - finetune / 2 - realNote * 64;
    // Middle C is IT's C-5, an octave above XM's C-4 (period 1712).
    if (formatBehaviours(song->format) & BEHAVIOUR_MIDDLE_C_RATES)
        return amigaPeriod(realNote - 12, finetune);
    return amigaPeriod(realNote, finetune);
}

int32_t ratePeriod(int note, uint32_t middleCRate) {
    // The periods of octave 4's semitones at 8363 Hz (four times the Amiga's); an octave lower
    // doubles them.
    static const int64_t SEMITONE_PERIODS[12] = {1712, 1616, 1524, 1440, 1356, 1280,
                                                 1208, 1140, 1076, 1016, 960,  907};
    if (note < 0) note = 0;
    const int octave = note / 12 < 20 ? note / 12 : 20;
    const int64_t rate = static_cast<int64_t>(middleCRate ? middleCRate : 8363) << octave;
    const int64_t period = 8363 * 16 * SEMITONE_PERIODS[note % 12] / rate;
    return static_cast<int32_t>(period < 1 ? 1 : period);
}

int32_t channelNotePeriod(const PlayState* state, int realNote, int finetune) {
    const bool sixteenths = state->behaviours & BEHAVIOUR_FINETUNE_SIXTEENTHS;
    if (sixteenths && usesLinearPeriods(state->song)) finetune = (finetune >> 3) * 8;
    if ((state->behaviours & BEHAVIOUR_PROTRACKER_PERIODS) && !usesLinearPeriods(state->song)) {
        const int32_t period = protrackerPeriod(realNote, finetune);
        if (period) return period;
    }
    return notePeriodOf(state->song, realNote, finetune);
}

int32_t samplePeriod(const PlayState* state, int realNote, const Sample* sample) {
    if (sample->middleCRate && !usesLinearPeriods(state->song))
        return ratePeriod(realNote, sample->middleCRate);
    return channelNotePeriod(state, realNote, sampleFinetune(state, sample));
}

namespace {

bool sharesMemory(uint8_t command) {
    switch (command) {
        case CMD_VOLUME_SLIDE:
        case CMD_PORTA_DOWN:
        case CMD_PORTA_UP:
        case CMD_TREMOR:
        case CMD_ARPEGGIO:
        case CMD_VIBRATO_VOLUME_SLIDE:
        case CMD_TONE_PORTA_VOLUME_SLIDE:
        case CMD_MULTI_RETRIGGER:
        case CMD_TREMOLO: return true;
        default: return false;
    }
}

}  // namespace

NoteCell withSharedMemory(const PlayState* state, ChannelState* channel, const NoteCell& cell) {
    NoteCell resolved = cell;
    if (!(state->behaviours & BEHAVIOUR_SHARED_EFFECT_MEMORY)) return resolved;
    // The file's own letter and byte (the cell's shown bytes) say which command wrote the memory:
    // every one of D..S and U does, T, V and the others do not.
    constexpr uint8_t LETTER_D = 4, LETTER_S = 19, LETTER_U = 21;
    const uint8_t letter = cell.shownEffect;
    const bool writes = (letter >= LETTER_D && letter <= LETTER_S) || letter == LETTER_U;
    if (writes && cell.shownParam) channel->sharedMemory = cell.shownParam;
    if (cell.shownParam != 0 || !channel->sharedMemory) return resolved;
    if (letter == LETTER_S) {
        resolved.effect = decodeS3mEffect(LETTER_S, channel->sharedMemory, false);
    } else if (sharesMemory(cell.effect.command)) {
        resolved.effect.param = channel->sharedMemory;
    }
    return resolved;
}

namespace {

// The volume and panning an instrument number sets.
void resetVolumes(ChannelState* channel, const Sample* sample) {
    channel->volume = sample->volume;
    if (sample->panning != SAMPLE_PANNING_NONE) channel->panning = sample->panning;
    channel->updateFlags |= UPDATE_VOLUME | UPDATE_PANNING;
}

}  // namespace

void resetChannelInstrument(ChannelState* channel, const Sample* sample) {
    resetVolumes(channel, sample);
    restartEnvelope(&channel->volumeEnvelope, 64);
    restartEnvelope(&channel->panningEnvelope, 32);
    channel->keyOff = 0;
    channel->fadeoutVolume = FULL_FADEOUT;
    channel->autoVibratoSweepTicks = 0;
    channel->autoVibratoPosition = 0;
    restartOscillators(channel);
    channel->tremorCounter = 0;
    channel->tremorSilenced = 0;
}

void startChannelRow(PlayState* state, ChannelState* channel, const NoteCell& fileCell,
                     bool* jumpSeen) {
    const NoteCell cell = withSharedMemory(state, channel, fileCell);
    // A tone portamento slides to the cell's note instead of starting it, on the old instrument.
    const uint8_t command = cell.effect.command;
    const bool isPorta = command == CMD_TONE_PORTA || command == CMD_TONE_PORTA_VOLUME_SLIDE;
    const BehaviourSet rules = state->behaviours;
    bool hasNote = isNote(cell.note);
    if (command == CMD_KEY_OFF && cell.effect.param == 0 && (rules & BEHAVIOUR_K00_REPLACES_NOTE))
        hasNote = false;
    if (hasNote && !isPorta && (rules & BEHAVIOUR_NOTE_RANGE_LIMITS) &&
        noteAboveRange(state, channel, cell))
        hasNote = false;
    if (hasNote && !isPorta && (rules & BEHAVIOUR_NEW_NOTE_ACTIONS))
        newNoteActions(state, channel, cell);
    // Where the target is set once, a tone portamento's sample number names the sample as well.
    const bool portaTakesSample = isPorta && (rules & BEHAVIOUR_TONE_PORTA_TARGET_ONCE);
    if (cell.instrument != 0 && (!isPorta || portaTakesSample))
        channel->instrumentIndex = cell.instrument - 1;
    if (hasNote && !isPorta) channel->noteIndex = cell.note - 1;
    const ChannelSound sound = resolveSound(state, channel);

    const RowStartCopies before{channel->volume, channel->period, channel->panning};
    // A tremolo that ends leaves its last offset in the volume, unless the format brings the
    // volume back.
    if (channel->lastEffect == CMD_TREMOLO && command != CMD_TREMOLO &&
        !(state->behaviours & BEHAVIOUR_TREMOLO_VOLUME_RETURNS)) {
        channel->volume += channel->volumeDelta;
    }
    channel->lastEffect = command;
    channel->volumeDelta = 0;
    channel->updateFlags = 0;

    if (hasNote) {
        // The note the keyboard plays for the cell's (XM and MOD keyboards play the note itself);
        // a portamento's target is the cell's note on the sample already playing.
        const int cellNote = isPorta ? cell.note - 1 : sound.note;
        int realNote = cellNote + sound.sample->relativeNote;
        if ((rules & BEHAVIOUR_NOTE_RANGE_LIMITS) && realNote < 0) realNote = 0;
        channel->realNote = static_cast<uint8_t>(realNote);
        channel->notePeriod = samplePeriod(state, channel->realNote, sound.sample);
        if (!isPorta) channel->period = channel->notePeriod;
        if (!isPorta && (state->behaviours & BEHAVIOUR_NOTE_RESTARTS_OSCILLATORS))
            restartOscillators(channel);
        channel->updateFlags = UPDATE_TRIGGER;
    }
    channel->periodDelta = 0;
    channel->updateFlags |= UPDATE_PITCH | UPDATE_VOLUME;
    // A release that zeroes the volume comes before the instrument number sets it again.
    const bool release = releasesAtRowStart(state, cell);
    const bool zeroes = state->behaviours & BEHAVIOUR_KEY_OFF_ZEROES_VOLUME;
    if (release && zeroes) releaseNote(state, channel, sound.instrument);
    if (cell.instrument != 0 && (rules & BEHAVIOUR_ENVELOPE_RANGES)) {
        // The envelopes start again with the note (or carry on), not with the instrument.
        const EnvelopeState kept[3] = {channel->volumeEnvelope, channel->panningEnvelope,
                                       channel->pitchEnvelope};
        resetChannelInstrument(channel, sound.sample);
        channel->volumeEnvelope = kept[0];
        channel->panningEnvelope = kept[1];
        channel->pitchEnvelope = kept[2];
    } else if (cell.instrument != 0 && release && (rules & BEHAVIOUR_KEY_OFF_KEEPS_ENVELOPES)) {
        resetVolumes(channel, sampleToReset(state, channel, sound.sample, hasNote));
    } else if (cell.instrument != 0 && command == CMD_NOTE_DELAY && cell.effect.param != 0 &&
               (rules & BEHAVIOUR_DELAYED_INSTRUMENT_WAITS)) {
        // The delay's tick starts the instrument (noteDelay), if the row reaches it.
    } else if (cell.instrument != 0) {
        const int8_t phases[2] = {channel->vibratoPosition, channel->tremoloPosition};
        resetChannelInstrument(channel, sampleToReset(state, channel, sound.sample, hasNote));
        if (rules & BEHAVIOUR_SAMPLE_NUMBER_KEEPS_OSCILLATORS) {
            channel->vibratoPosition = phases[0];
            channel->tremoloPosition = phases[1];
        }
    }
    if (cell.instrument != 0 && (!hasNote || portaTakesSample) && (rules & BEHAVIOUR_SAMPLE_SWAP))
        swapSample(channel, sound.sample);
    if (rules & BEHAVIOUR_MIDDLE_C_RATES) {
        if ((hasNote && !isPorta) || cell.instrument != 0)
            startImpulseNote(state, channel, sound, hasNote && !isPorta);
    }
    if (cell.volume.command != VOL_NONE && !((rules & BEHAVIOUR_IMPULSE_EFFECTS) &&
                                             impulseVolumeColumnRow(state, channel, cell.volume)))
        applyVolumeColumnRow(state, channel, cell.volume);
    if (rules & BEHAVIOUR_ENVELOPE_RANGES) {
        if (cell.note == NOTE_KEY_OFF) releaseImpulseNote(channel, sound.instrument);
        if (cell.note == NOTE_CUT) cutNote(channel);
        if (cell.note == NOTE_FADE) channel->fading = 1;
        applyRowEffect(state, channel, cell, sound, before, jumpSeen);
        advanceImpulseEnvelopes(state, channel, sound);
        updateVoice(state, channel, sound.sample);
        return;
    }
    if (release) channel->keyOff = 1;
    // The note-cut note silences the channel at once.
    if (cell.note == NOTE_CUT) {
        channel->volume = 0;
        channel->updateFlags |= UPDATE_VOLUME;
    }
    advanceEnvelopes(state, channel, sound.instrument, !zeroes);
    applyRowEffect(state, channel, cell, sound, before, jumpSeen);
    autoVibratoStep(channel, sound.instrument);
    updateVoice(state, channel, sound.sample);
}

void refreshVolumes(PlayState* state) {
    if (!(state->behaviours & BEHAVIOUR_GLOBAL_VOLUME_AT_ONCE)) return;
    const int channels = playedChannelCount(state->song);
    for (int c = 0; c < channels; ++c) {
        if (state->channels[c].voice) updateVolume(state, &state->channels[c]);
    }
}

void updateVoice(const PlayState* state, ChannelState* channel, const Sample* sample) {
    if (!channel->voice) return;
    // A zero period has no frequency: the pitch stays, or where ProTracker's periods are played,
    // the sample stands still.
    if (static_cast<int64_t>(channel->period) + channel->periodDelta == 0 &&
        !(state->behaviours & BEHAVIOUR_PROTRACKER_PERIODS)) {
        channel->updateFlags &= static_cast<uint8_t>(~UPDATE_PITCH);
    }
    // A new global volume reaches every channel on the tick after it is set, at the latest.
    if (state->behaviours & BEHAVIOUR_GLOBAL_VOLUME_EVERY_TICK)
        channel->updateFlags |= UPDATE_VOLUME;
    const uint8_t flags = channel->updateFlags;
    if ((flags & UPDATE_TRIGGER) && state->voices) triggerVoice(state, channel, sample);
    if (flags & UPDATE_VOLUME) updateVolume(state, channel);
    if (flags & UPDATE_PANNING) updatePanning(state, channel);
    if (flags & UPDATE_PITCH) updatePitch(state, channel);
    if (flags & UPDATE_REWIND) {
        Voice* voice = channel->voice;
        voice->positionFraction = 0;
        voice->position = 0;
        voice->startOffset = 0;
    }
}
