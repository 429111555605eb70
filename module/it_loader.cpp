#include "module/it_loader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "module/it_samples.h"
#include "module/module_reader.h"

namespace {

constexpr int HEADER_BYTES = 0xC0;
constexpr int IT_CHANNELS = 64;
// The numbers a cell's instrument byte can name.
constexpr int MAX_IT_INSTRUMENTS = 255;
constexpr int MAX_IT_SAMPLES = 255;
constexpr int INSTRUMENT_BYTES = 554;
constexpr int SAMPLE_HEADER_BYTES = 0x50;
constexpr int MIDI_CONFIG_BYTES = (9 + 16 + 128) * MIDI_MACRO_SIZE;
// Impulse Tracker writes at most 200 rows; later trackers more. Any count up to this loads.
constexpr int MAX_ROWS = 4096;
// Cells of rows the file does not back with data (patterns with offset 0, rows a pattern's data
// ends before) that the song may ask for in all.
constexpr int64_t EMPTY_CELL_BUDGET = 8 * 1024 * 1024;

// Header flags.
constexpr uint16_t FLAG_STEREO = 1;
constexpr uint16_t FLAG_INSTRUMENTS = 4;
constexpr uint16_t FLAG_LINEAR = 8;
constexpr uint16_t FLAG_OLD_EFFECTS = 16;
constexpr uint16_t FLAG_LINKED_G = 32;
// Special flags.
constexpr uint16_t SPECIAL_MESSAGE = 1;
constexpr uint16_t SPECIAL_EDIT_HISTORY = 2;  // written by later versions before the macros
constexpr uint16_t SPECIAL_MIDI_CONFIG = 8;

// Channel panning bytes.
constexpr uint8_t PAN_DISABLED = 128;
constexpr uint8_t PAN_SURROUND = 100;

// Sample flags and conversion bits.
constexpr uint8_t SAMPLE_HAS_DATA = 1;
constexpr uint8_t SAMPLE_16_BIT = 2;
constexpr uint8_t SAMPLE_STEREO = 4;
constexpr uint8_t SAMPLE_COMPRESSED = 8;
constexpr uint8_t SAMPLE_LOOP = 16;
constexpr uint8_t SAMPLE_SUSTAIN = 32;
constexpr uint8_t SAMPLE_PINGPONG = 64;
constexpr uint8_t SAMPLE_SUSTAIN_PINGPONG = 128;
constexpr uint8_t CONVERT_SIGNED = 1;
constexpr uint8_t CONVERT_BIG_ENDIAN = 2;
constexpr uint8_t CONVERT_DELTA = 4;  // compressed: the 2.15 form

// Envelope flags as the file stores them.
constexpr uint8_t FILE_ENVELOPE_ON = 1;
constexpr uint8_t FILE_ENVELOPE_LOOP = 2;
constexpr uint8_t FILE_ENVELOPE_SUSTAIN = 4;
constexpr uint8_t FILE_ENVELOPE_CARRY = 8;
constexpr uint8_t FILE_ENVELOPE_FILTER = 128;

// The panning envelope's values sit around this centre, as XM's do: 0..64.
constexpr int PANNING_ENVELOPE_CENTRE = 32;

struct ItHeader {
    int orderCount;
    int instrumentCount;
    int sampleCount;
    int patternCount;
    uint16_t flags;
    uint16_t special;
    uint32_t messageLength;
    uint32_t messageOffset;
};

uint8_t atMost(int value, int most) { return static_cast<uint8_t>(value < most ? value : most); }

// 0..64 onto the engine's 0..255.
uint8_t panningFrom64(int value) { return atMost(value * 4, 255); }

void nameTracker(Song* song) {
    const uint16_t cwt = song->createdWith;
    const char* writer = "Impulse Tracker";
    int major = cwt >> 8 & 0x0F;
    int minor = cwt & 0xFF;
    switch (cwt >> 12) {
        case 0x0: major = cwt >> 8; break;
        case 0x1: writer = "Schism Tracker"; break;
        case 0x5: writer = "OpenMPT"; break;
        default: writer = "a tracker writing IT"; break;
    }
    if (cwt >> 12 == 0x1) {
        snprintf(song->tracker, sizeof song->tracker, "%s", writer);
    } else {
        snprintf(song->tracker, sizeof song->tracker, "%s %x.%02x", writer, major, minor);
    }
}

// ---- header ----

int readHeader(Song* song, Reader& reader, ItHeader* header) {
    uint8_t bytes[HEADER_BYTES];
    if (!readExact(reader, bytes, sizeof bytes))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside its header");
    copyName(song->title, sizeof song->title, bytes + 4, 26);
    header->orderCount = le16(bytes + 0x20);
    header->instrumentCount = le16(bytes + 0x22);
    header->sampleCount = le16(bytes + 0x24);
    header->patternCount = le16(bytes + 0x26);
    song->createdWith = le16(bytes + 0x28);
    song->compatibleWith = le16(bytes + 0x2A);
    header->flags = le16(bytes + 0x2C);
    header->special = le16(bytes + 0x2E);
    song->initialGlobalVolume = atMost(bytes[0x30], 128);
    song->globalVolumeRange = 128;
    song->mixVolume = atMost(bytes[0x31], 128);
    song->defaultSpeed = bytes[0x32] ? bytes[0x32] : 6;
    song->defaultBpm = bytes[0x33] >= 32 ? bytes[0x33] : 125;
    song->panSeparation = atMost(bytes[0x34], 128);
    song->pitchWheelDepth = bytes[0x35];
    header->messageLength = le16(bytes + 0x36);
    header->messageOffset = le32(bytes + 0x38);
    if (header->instrumentCount > MAX_IT_INSTRUMENTS || header->sampleCount > MAX_IT_SAMPLES)
        return fail(reader, LoadFailure::DAMAGED, "more than 255 instruments or samples");

    song->format = FORMAT_IT;
    nameTracker(song);
    song->instrumentMode = (header->flags & FLAG_INSTRUMENTS) != 0;
    song->songFlags = (header->flags & FLAG_LINEAR) ? 1 : 0;
    if (header->flags & FLAG_OLD_EFFECTS) song->fileBehaviours |= BEHAVIOUR_IT_OLD_EFFECTS;
    if (header->flags & FLAG_LINKED_G) song->fileBehaviours |= BEHAVIOUR_IT_LINKED_TONE_PORTA;
    // A mono song plays every channel in the centre.
    if (!(header->flags & FLAG_STEREO)) song->panSeparation = 0;
    for (int c = 0; c < IT_CHANNELS; ++c) {
        const uint8_t pan = bytes[0x40 + c];
        const uint8_t position = pan & 0x7F;
        if (pan & PAN_DISABLED) song->channelFlags[c] |= CHANNEL_DISABLED;
        if (position == PAN_SURROUND) song->channelFlags[c] |= CHANNEL_SURROUND;
        song->channelPanning[c] = position <= 64 ? panningFrom64(position) : 128;
        song->channelVolume[c] = atMost(bytes[0x80 + c], 64);
    }
    return 1;
}

// The order list: 255 ends the song, 254 is passed over.
int readOrders(Song* song, Reader& reader, int orderCount) {
    uint8_t orders[MAX_ORDERS];
    const int kept = orderCount < MAX_ORDERS ? orderCount : MAX_ORDERS;
    if (!readExact(reader, orders, kept))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside its order list");
    if (orderCount > kept) {
        noteRepair(song, "order list of %d cut to %d", orderCount, MAX_ORDERS);
        seekTo(reader, streamTell(reader.stream) + (orderCount - kept));
    }
    int end = -1;  // the first end marker
    for (int i = 0; i < MAX_ORDERS; ++i) {
        const uint8_t order = i < kept ? orders[i] : 255;
        song->orderTable[i] = order == 255 ? ORDER_END : order == 254 ? ORDER_SKIP : order;
        if (order == 255 && end < 0) end = i;
    }
    song->songLength = static_cast<int16_t>(end < 0 ? kept : end);
    bool playable = false;
    for (int i = 0; i < song->songLength; ++i)
        playable = playable || song->orderTable[i] < ORDER_SKIP;
    if (!playable) {
        // Nothing to play (no orders, or only markers): one empty pattern.
        noteRepair(song, "no pattern in the order list");
        song->songLength = 1;
        song->orderTable[0] = 0;
    }
    return 1;
}

// `count` 32-bit offsets.
bool readOffsets(Reader& reader, uint32_t* offsets, int count) {
    for (int i = 0; i < count; ++i) {
        uint8_t bytes[4];
        if (!readExact(reader, bytes, 4)) return false;
        offsets[i] = le32(bytes);
    }
    return true;
}

// The edit history (skipped) and the embedded MIDI macros that follow the offset tables.
int readMidiConfig(Song* song, Reader& reader, uint16_t special) {
    if (special & SPECIAL_EDIT_HISTORY) {
        uint8_t count[2];
        if (!readExact(reader, count, 2)) return 1;
        seekTo(reader, streamTell(reader.stream) + 8 * static_cast<int64_t>(le16(count)));
    }
    if (!(special & SPECIAL_MIDI_CONFIG)) return 1;
    uint8_t bytes[MIDI_CONFIG_BYTES];
    if (!readExact(reader, bytes, sizeof bytes)) {
        noteRepair(song, "MIDI macros cut short: the defaults play");
        return 1;
    }
    song->midiMacros = static_cast<MidiMacros*>(calloc(1, sizeof(MidiMacros)));
    if (!song->midiMacros)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the MIDI macros");
    static_assert(sizeof(MidiMacros) == MIDI_CONFIG_BYTES);
    memcpy(song->midiMacros, bytes, sizeof bytes);
    // Every macro ends within its 32 bytes.
    char* text = reinterpret_cast<char*>(song->midiMacros);
    for (int k = 0; k < MIDI_CONFIG_BYTES / MIDI_MACRO_SIZE; ++k)
        text[k * MIDI_MACRO_SIZE + MIDI_MACRO_SIZE - 1] = '\0';
    return 1;
}

// The message: carriage returns end lines; it ends at the first zero byte.
int readMessage(Song* song, Reader& reader, const ItHeader& header) {
    if (!(header.special & SPECIAL_MESSAGE) || header.messageLength == 0) return 1;
    if (header.messageOffset >= reader.fileSize) {
        noteRepair(song, "song message absent: the file ends");
        return 1;
    }
    const int64_t held = reader.fileSize - header.messageOffset;
    const int length = static_cast<int>(held < header.messageLength ? held : header.messageLength);
    song->message = static_cast<char*>(calloc(static_cast<size_t>(length) + 1, 1));
    if (!song->message)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the song message");
    seekTo(reader, header.messageOffset);
    readExact(reader, song->message, length);
    for (int k = 0; k < length; ++k) {
        char& c = song->message[k];
        if (c == '\0') break;
        if (c == '\r')
            c = '\n';
        else if (static_cast<uint8_t>(c) < 32 && c != '\n')
            c = ' ';
    }
    return 1;
}

// ---- samples ----

// Sample data budget: frames decoded in all, so that samples pointing at the same bytes cannot
// multiply a small file into gigabytes.
int64_t frameBudget(const Reader& reader) { return 8 * reader.fileSize + (1 << 20); }

void setLoop(uint32_t begin, uint32_t end, uint32_t length, bool on, bool pingPong, uint32_t* start,
             uint32_t* loopLength, uint8_t* mode) {
    if (end > length) end = length;
    if (!on || begin >= end) {
        *start = 0;
        *loopLength = length;
        *mode = LOOP_NONE;
        return;
    }
    *start = begin;
    *loopLength = end - begin;
    *mode = pingPong ? LOOP_PINGPONG : LOOP_FORWARD;
}

// Auto-vibrato waveforms: Impulse Tracker numbers them sine, ramp down, square, random.
uint8_t vibratoWaveform(uint8_t type) {
    static const uint8_t engine[4] = {0, 2, 1, VIBRATO_RANDOM};
    return engine[type & 3];
}

struct SampleHeader {
    uint8_t flags;
    uint8_t convert;
    uint32_t dataOffset;
};

SampleHeader readSampleHeader(Sample* smp, const uint8_t* bytes) {
    SampleHeader header = {bytes[0x12], bytes[0x2E], le32(bytes + 0x48)};
    copyName(smp->fileName, sizeof smp->fileName, bytes + 4, 12);
    copyName(smp->name, sizeof smp->name, bytes + 0x14, 26);
    smp->globalVolume = atMost(bytes[0x11], 64);
    smp->volume = atMost(bytes[0x13], 64);
    smp->panning = (bytes[0x2F] & 0x80) ? panningFrom64(bytes[0x2F] & 0x7F) : SAMPLE_PANNING_NONE;
    smp->length = (header.flags & SAMPLE_HAS_DATA) ? le32(bytes + 0x30) : 0;
    const uint32_t rate = le32(bytes + 0x3C);
    smp->middleCRate = rate == 0 ? 8363 : rate > 9999999 ? 9999999 : rate;
    smp->fileBits = (header.flags & SAMPLE_16_BIT) ? 16 : 8;
    smp->bits = smp->fileBits;
    smp->stereo = (header.flags & SAMPLE_STEREO) ? 1 : 0;
    smp->vibratoRate = atMost(bytes[0x4C], 64);
    smp->vibratoDepth = atMost(bytes[0x4D], 64);
    smp->vibratoSweep = bytes[0x4E];
    smp->vibratoType = vibratoWaveform(bytes[0x4F]);
    return header;
}

void setLoops(Sample* smp, const uint8_t* bytes, uint8_t flags) {
    setLoop(le32(bytes + 0x34), le32(bytes + 0x38), smp->length, flags & SAMPLE_LOOP,
            flags & SAMPLE_PINGPONG, &smp->loopStart, &smp->loopLength, &smp->loopMode);
    setLoop(le32(bytes + 0x40), le32(bytes + 0x44), smp->length, flags & SAMPLE_SUSTAIN,
            flags & SAMPLE_SUSTAIN_PINGPONG, &smp->sustainStart, &smp->sustainLength,
            &smp->sustainMode);
}

// Plain frames of one channel: `frames` frames from `bytes` (held bytes) into out. Returns the
// frames the bytes held.
uint32_t convertPlain(const uint8_t* bytes, size_t held, int16_t* out, uint32_t frames, int bits,
                      uint8_t convert) {
    const size_t width = static_cast<size_t>(bits / 8);
    const uint32_t got = static_cast<uint32_t>(held / width < frames ? held / width : frames);
    const uint16_t flip = (convert & CONVERT_SIGNED) ? 0 : (bits == 8 ? 0x80 : 0x8000);
    uint16_t sum = 0;
    for (uint32_t k = 0; k < got; ++k) {
        const uint8_t* p = bytes + k * width;
        uint16_t v = bits == 8                        ? p[0]
                     : (convert & CONVERT_BIG_ENDIAN) ? static_cast<uint16_t>(p[0] << 8 | p[1])
                                                      : le16(p);
        v = static_cast<uint16_t>(v ^ flip);
        if (convert & CONVERT_DELTA) v = sum = static_cast<uint16_t>(sum + v);
        out[k] = bits == 8 ? static_cast<int16_t>(static_cast<int8_t>(v) * 256)
                           : static_cast<int16_t>(v);
    }
    return got;
}

// Decodes one channel of a sample from `bytes`; *used gets the bytes it took.
uint32_t decodeChannel(const uint8_t* bytes, size_t held, int16_t* out, uint32_t frames, int bits,
                       const SampleHeader& header, size_t* used) {
    if (header.flags & SAMPLE_COMPRESSED) {
        return decompressItSample(bytes, held, out, frames, bits,
                                  (header.convert & CONVERT_DELTA) != 0, used);
    }
    const uint32_t got = convertPlain(bytes, held, out, frames, bits, header.convert);
    *used = static_cast<size_t>(got) * static_cast<size_t>(bits / 8);
    return got;
}

// The bytes a compressed sample's blocks take from `offset` (each a 16-bit size and that many
// bytes), for `frames` frames of each of `channels` channels; the file's end cuts it.
int64_t compressedBytes(Reader& reader, uint32_t offset, uint32_t frames, int bits, int channels) {
    const int64_t blocks =
        (static_cast<int64_t>(frames) + itBlockFrames(bits) - 1) / itBlockFrames(bits) * channels;
    int64_t at = offset;
    for (int64_t b = 0; b < blocks; ++b) {
        uint8_t size[2];
        if (!seekTo(reader, at) || !readExact(reader, size, 2)) break;
        at += 2 + le16(size);
    }
    return (at < reader.fileSize ? at : reader.fileSize) - offset;
}

// Reads a sample's data into 16-bit frames with guard frames after the end; a stereo sample's two
// channels are mixed. Frames the file does not hold are cut off.
int readData(Song* song, Sample* smp, Reader& reader, const SampleHeader& header, int index,
             int64_t* budget) {
    const int bits = smp->fileBits;
    const int channels = smp->stereo ? 2 : 1;
    if (header.dataOffset >= reader.fileSize) {
        noteRepair(song, "sample %d data absent: the file ends", index + 1);
        smp->length = 0;
        return 1;
    }
    // The budget first, then the bytes to read, and the frames they can hold at most: plain data
    // takes bits/8 bytes a frame, compressed data at least a bit.
    const uint32_t wanted = smp->length;
    if (smp->length > *budget / channels) smp->length = static_cast<uint32_t>(*budget / channels);
    const bool compressed = (header.flags & SAMPLE_COMPRESSED) != 0;
    const int64_t held = reader.fileSize - header.dataOffset;
    int64_t size = compressed
                       ? compressedBytes(reader, header.dataOffset, smp->length, bits, channels)
                       : static_cast<int64_t>(smp->length) * channels * (bits / 8);
    if (size > held) size = held;
    const int64_t most = (compressed ? size * 8 : size / (bits / 8)) / channels;
    if (smp->length > most) smp->length = static_cast<uint32_t>(most);
    *budget -= static_cast<int64_t>(smp->length) * channels;

    auto* bytes = static_cast<uint8_t*>(malloc(static_cast<size_t>(size) + 1));
    auto* frames = static_cast<int16_t*>(
        calloc(static_cast<size_t>(smp->length) * channels + 8, sizeof(int16_t)));
    if (!bytes || !frames) {
        free(bytes);
        free(frames);
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for sample data");
    }
    seekTo(reader, header.dataOffset);
    readExact(reader, bytes, static_cast<int>(size));
    uint32_t got = smp->length;
    size_t at = 0;
    for (int c = 0; c < channels; ++c) {
        size_t used = 0;
        const uint32_t decoded = decodeChannel(bytes + at, static_cast<size_t>(size) - at,
                                               frames + c * static_cast<size_t>(smp->length),
                                               smp->length, bits, header, &used);
        at += used;
        if (decoded < got) got = decoded;
    }
    free(bytes);
    if (channels == 2) {
        for (uint32_t k = 0; k < smp->length; ++k)
            frames[k] = static_cast<int16_t>((frames[k] + frames[smp->length + k]) / 2);
    }
    if (got < wanted) {
        noteRepair(song, "sample %d cut short: %u of %u frames", index + 1, got, wanted);
        smp->length = got;
    }
    if (smp->length == 0) {
        free(frames);
        return 1;
    }
    // The guard frames after the end are silent (a stereo sample's second channel was there).
    memset(frames + smp->length, 0, 8 * sizeof(int16_t));
    smp->data = frames;
    smp->bits = 16;
    return 1;
}

// The guard frame after a loop: the interpolation partner of its last frame.
void setLoopGuard(Sample* smp) {
    const uint32_t loopEnd = smp->loopStart + smp->loopLength;
    if (smp->loopMode == LOOP_PINGPONG) smp->data[loopEnd] = smp->data[loopEnd - 1];
    if (smp->loopMode == LOOP_FORWARD) smp->data[loopEnd] = smp->data[smp->loopStart];
}

int readSample(Song* song, Reader& reader, uint32_t offset, int index, int64_t* budget) {
    Sample* smp = &song->samples[index];
    smp->panning = SAMPLE_PANNING_NONE;
    smp->middleCRate = 8363;
    smp->loopMode = LOOP_NONE;
    smp->sustainMode = LOOP_NONE;
    smp->bits = 16;
    smp->fileBits = 8;
    uint8_t bytes[SAMPLE_HEADER_BYTES];
    if (offset == 0) return 1;  // no sample here
    if (!seekTo(reader, offset) || !readExact(reader, bytes, sizeof bytes)) {
        noteRepair(song, "sample %d absent: the file ends", index + 1);
        return 1;
    }
    if (memcmp(bytes, "IMPS", 4) != 0) noteRepair(song, "sample %d has no IMPS mark", index + 1);
    const SampleHeader header = readSampleHeader(smp, bytes);
    if (smp->length > 0 && !readData(song, smp, reader, header, index, budget)) return 0;
    setLoops(smp, bytes, header.flags);
    if (!smp->data) {
        smp->length = 0;
        smp->loopStart = smp->loopLength = 0;
        smp->sustainStart = smp->sustainLength = 0;
        smp->loopMode = smp->sustainMode = LOOP_NONE;
        return 1;
    }
    setLoopGuard(smp);
    return 1;
}

// ---- instruments ----

// Keeps an envelope inside its points: positions strictly increasing, loop and sustain ranges
// that name points in order (else that feature is off).
void clampEnvelope(Envelope* envelope) {
    uint8_t& count = envelope->pointCount;
    if (count > MAX_ENVELOPE_POINTS) count = MAX_ENVELOPE_POINTS;
    for (int k = 1; k < count; ++k) {
        if (envelope->points[k].position <= envelope->points[k - 1].position) {
            count = static_cast<uint8_t>(k);
            break;
        }
    }
    if (count < 2) {
        envelope->flags = 0;  // a single point is no envelope
        return;
    }
    if (envelope->sustainStart > envelope->sustainEnd || envelope->sustainEnd >= count)
        envelope->flags &= static_cast<uint8_t>(~ENVELOPE_SUSTAIN);
    if (envelope->loopStart > envelope->loopEnd || envelope->loopEnd >= count)
        envelope->flags &= static_cast<uint8_t>(~ENVELOPE_LOOP);
}

uint8_t envelopeFlags(uint8_t fileFlags) {
    uint8_t flags = 0;
    if (fileFlags & FILE_ENVELOPE_ON) flags |= ENVELOPE_ON;
    if (fileFlags & FILE_ENVELOPE_LOOP) flags |= ENVELOPE_LOOP;
    if (fileFlags & FILE_ENVELOPE_SUSTAIN) flags |= ENVELOPE_SUSTAIN;
    if (fileFlags & FILE_ENVELOPE_CARRY) flags |= ENVELOPE_CARRY;
    return flags;
}

enum EnvelopeKind { VOLUME, PANNING, PITCH };

// One envelope of the newer layout: flags, count, loop, sustain loop, 25 points of a value byte
// and a 16-bit tick.
void readEnvelope(Envelope* envelope, const uint8_t* bytes, EnvelopeKind kind) {
    envelope->flags = envelopeFlags(bytes[0]);
    if (kind == PITCH && (bytes[0] & FILE_ENVELOPE_FILTER)) envelope->flags |= ENVELOPE_FILTER;
    envelope->pointCount = bytes[1];
    envelope->loopStart = bytes[2];
    envelope->loopEnd = bytes[3];
    envelope->sustainStart = bytes[4];
    envelope->sustainEnd = bytes[5];
    for (int k = 0; k < MAX_ENVELOPE_POINTS; ++k) {
        const uint8_t* point = bytes + 6 + 3 * k;
        int value = static_cast<int8_t>(point[0]);
        if (kind == VOLUME)
            value = value < 0 ? 0 : value > 64 ? 64 : value;
        else
            value = (value < -32 ? -32 : value > 32 ? 32 : value);
        if (kind == PANNING) value += PANNING_ENVELOPE_CENTRE;
        envelope->points[k] = {le16(point + 1), static_cast<int16_t>(value)};
    }
    clampEnvelope(envelope);
}

// The keyboard: 120 pairs of the note to play and the sample (1-based, 0 none).
void readKeyboard(Song* song, Instrument* ins, const uint8_t* bytes) {
    for (int n = 0; n < NOTE_COUNT; ++n) {
        const uint8_t note = bytes[2 * n];
        const int sample = bytes[2 * n + 1];
        const bool plays = sample >= 1 && sample <= song->sampleCount && note < NOTE_COUNT;
        ins->keyboard[n] = {static_cast<int16_t>(plays ? sample - 1 : NO_SAMPLE),
                            static_cast<uint8_t>(plays ? note : n)};
    }
}

void readNewInstrument(Song* song, Instrument* ins, const uint8_t* bytes) {
    ins->newNoteAction = bytes[0x11] <= NNA_NOTE_FADE ? bytes[0x11] : NNA_CUT;
    ins->duplicateCheck = bytes[0x12] <= DUPLICATE_INSTRUMENT ? bytes[0x12] : DUPLICATE_OFF;
    ins->duplicateAction =
        bytes[0x13] <= DUPLICATE_ACTION_NOTE_FADE ? bytes[0x13] : DUPLICATE_ACTION_CUT;
    // Out of 1024 a tick; the record counts out of 65536.
    const uint32_t fadeout = le16(bytes + 0x14);
    ins->fadeout = static_cast<uint16_t>(fadeout > 1023 ? 65535 : fadeout * 64);
    const int separation = static_cast<int8_t>(bytes[0x16]);
    ins->pitchPanSeparation = static_cast<int8_t>(separation < -32  ? -32
                                                  : separation > 32 ? 32
                                                                    : separation);
    ins->pitchPanCentre = atMost(bytes[0x17], NOTE_COUNT - 1);
    ins->globalVolume = atMost(bytes[0x18], 128);
    ins->defaultPanning = (bytes[0x19] & 0x80) ? -1 : panningFrom64(bytes[0x19] & 0x7F);
    ins->randomVolume = atMost(bytes[0x1A], 100);
    ins->randomPanning = atMost(bytes[0x1B], 64);
    ins->filterCutoff = bytes[0x3A];
    ins->filterResonance = bytes[0x3B];
    readKeyboard(song, ins, bytes + 0x40);
    readEnvelope(&ins->volumeEnvelope, bytes + 0x130, VOLUME);
    readEnvelope(&ins->panningEnvelope, bytes + 0x182, PANNING);
    readEnvelope(&ins->pitchEnvelope, bytes + 0x1D4, PITCH);
}

// The layout before format 2.00: one volume envelope of up to 25 (tick, value) node pairs ended by
// a tick of 255, a duplicate-note switch, fadeout out of 512.
void readOldInstrument(Song* song, Instrument* ins, const uint8_t* bytes) {
    const uint8_t flags = bytes[0x11];
    Envelope& envelope = ins->volumeEnvelope;
    envelope.flags = envelopeFlags(flags & 7);
    envelope.loopStart = bytes[0x12];
    envelope.loopEnd = bytes[0x13];
    envelope.sustainStart = bytes[0x14];
    envelope.sustainEnd = bytes[0x15];
    const uint32_t fadeout = le16(bytes + 0x18);
    ins->fadeout = static_cast<uint16_t>(fadeout > 511 ? 65535 : fadeout * 128);
    ins->newNoteAction = bytes[0x1A] <= NNA_NOTE_FADE ? bytes[0x1A] : NNA_CUT;
    ins->duplicateCheck = bytes[0x1B] ? DUPLICATE_NOTE : DUPLICATE_OFF;
    ins->duplicateAction = DUPLICATE_ACTION_CUT;
    ins->globalVolume = 128;
    ins->defaultPanning = -1;
    ins->pitchPanCentre = 60;
    readKeyboard(song, ins, bytes + 0x40);
    int count = 0;
    while (count < MAX_ENVELOPE_POINTS && bytes[0x1F8 + 2 * count] != 0xFF) {
        const uint8_t* node = bytes + 0x1F8 + 2 * count;
        envelope.points[count] = {node[0], static_cast<int16_t>(node[1] > 64 ? 64 : node[1])};
        ++count;
    }
    envelope.pointCount = static_cast<uint8_t>(count);
    clampEnvelope(&envelope);
}

int readInstrument(Song* song, Reader& reader, uint32_t offset, int index) {
    Instrument* ins = &song->instruments[index];
    ins->defaultPanning = -1;
    ins->globalVolume = 128;
    for (int n = 0; n < NOTE_COUNT; ++n) ins->keyboard[n] = {NO_SAMPLE, static_cast<uint8_t>(n)};
    uint8_t bytes[INSTRUMENT_BYTES] = {};
    if (offset == 0) return 1;
    if (!seekTo(reader, offset) || offset >= reader.fileSize) {
        noteRepair(song, "instrument %d absent: the file ends", index + 1);
        return 1;
    }
    // Impulse Tracker writes 554 bytes whichever the layout; the newer one uses 547 of them, so a
    // file that ends in the unused bytes still loads.
    const int64_t held = reader.fileSize - offset;
    const int need = song->compatibleWith < 0x200 ? INSTRUMENT_BYTES : 0x1D4 + 81;
    if (held < need) {
        noteRepair(song, "instrument %d absent: the file ends", index + 1);
        return 1;
    }
    readExact(reader, bytes, static_cast<int>(held < INSTRUMENT_BYTES ? held : INSTRUMENT_BYTES));
    if (memcmp(bytes, "IMPI", 4) != 0)
        noteRepair(song, "instrument %d has no IMPI mark", index + 1);
    copyName(ins->fileName, sizeof ins->fileName, bytes + 4, 12);
    copyName(ins->name, sizeof ins->name, bytes + 0x20, 26);
    if (song->compatibleWith < 0x200) {
        readOldInstrument(song, ins, bytes);
    } else {
        readNewInstrument(song, ins, bytes);
    }
    // The samples the keyboard plays count as the instrument's: the lowest to the highest.
    int lowest = song->sampleCount;
    int highest = -1;
    for (const KeyboardEntry& key : ins->keyboard) {
        if (key.sample == NO_SAMPLE) continue;
        if (key.sample < lowest) lowest = key.sample;
        if (key.sample > highest) highest = key.sample;
    }
    if (highest >= 0) {
        ins->firstSample = lowest;
        ins->sampleCount = highest - lowest + 1;
    }
    return 1;
}

// Sample mode: each sample plays through an instrument of its own whose keyboard plays every note
// on it as it is.
int makeSampleInstruments(Song* song, Reader& reader) {
    song->instrumentCount = static_cast<int16_t>(song->sampleCount);
    if (song->sampleCount == 0) return 1;
    song->instruments = static_cast<Instrument*>(calloc(song->sampleCount, sizeof(Instrument)));
    if (!song->instruments)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the instrument table");
    for (int i = 0; i < song->sampleCount; ++i) {
        Instrument* ins = &song->instruments[i];
        ins->firstSample = i;
        ins->sampleCount = 1;
        ins->globalVolume = 128;
        ins->defaultPanning = -1;
        ins->pitchPanCentre = 60;
        for (int n = 0; n < NOTE_COUNT; ++n)
            ins->keyboard[n] = {static_cast<int16_t>(i), static_cast<uint8_t>(n)};
        memcpy(ins->name, song->samples[i].name, sizeof ins->name);
    }
    return 1;
}

// ---- patterns ----

// A pattern's packed bytes as the file holds them.
struct PackedPattern {
    uint8_t* bytes;
    int64_t size;
    int rows;
};

// Reads pattern p's header and packed bytes (rows 64 and no bytes for offset 0).
int readPackedPattern(Song* song, Reader& reader, uint32_t offset, int p, PackedPattern* packed) {
    packed->rows = 64;
    if (offset == 0) return 1;
    uint8_t header[8];
    if (!seekTo(reader, offset) || !readExact(reader, header, sizeof header)) {
        noteRepair(song, "pattern %d absent: the file ends", p);
        return 1;
    }
    const int rows = le16(header + 2);
    packed->rows = rows < 1 ? 64 : rows > MAX_ROWS ? MAX_ROWS : rows;
    if (rows < 1 || rows > MAX_ROWS) noteRepair(song, "pattern %d of %d rows", p, rows);
    const int64_t length = le16(header);
    const int64_t held = bytesLeft(reader) < length ? bytesLeft(reader) : length;
    packed->size = held;
    packed->bytes = static_cast<uint8_t*>(malloc(static_cast<size_t>(held) + 1));
    if (!packed->bytes)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for patterns");
    readExact(reader, packed->bytes, static_cast<int>(held));
    return 1;
}

// Walks a pattern's packed data: calls `cell(row, channel, mask, values)` for every cell it
// stores (values: note, instrument, volume, effect, parameter; mask bits 0-3 say which were read
// or, bits 4-7, repeated); returns the rows whose data is whole.
template <typename Visit>
int unpack(const PackedPattern& packed, Visit cell) {
    uint8_t lastMask[IT_CHANNELS] = {};
    uint8_t last[IT_CHANNELS][5] = {};
    int64_t at = 0;
    auto next = [&](uint8_t* value) {
        if (at >= packed.size) return false;
        *value = packed.bytes[at++];
        return true;
    };
    for (int row = 0; row < packed.rows; ++row) {
        for (;;) {
            uint8_t marker;
            if (!next(&marker)) return row;
            if (marker == 0) break;
            const int channel = (marker - 1) & 63;
            uint8_t mask = lastMask[channel];
            if ((marker & 0x80) && !next(&mask)) return row;
            lastMask[channel] = mask;
            uint8_t* values = last[channel];
            if ((mask & 1) && !next(&values[0])) return row;
            if ((mask & 2) && !next(&values[1])) return row;
            if ((mask & 4) && !next(&values[2])) return row;
            if ((mask & 8) && (!next(&values[3]) || !next(&values[4]))) return row;
            cell(row, channel, mask, values);
        }
    }
    return packed.rows;
}

void fillCell(NoteCell* cell, uint8_t mask, const uint8_t* values) {
    if (mask & (1 | 16)) {
        const uint8_t note = values[0];
        cell->note = note < NOTE_COUNT ? static_cast<uint8_t>(note + 1)
                     : note == 255     ? NOTE_KEY_OFF
                     : note == 254     ? NOTE_CUT
                                       : NOTE_FADE;
    }
    if (mask & (2 | 32)) cell->instrument = values[1];
    if (mask & (4 | 64)) {
        cell->shownVolume = values[2];
        cell->volume = decodeItVolumeColumn(values[2]);
    } else {
        cell->shownVolume = 0xFF;  // none (0 is a volume)
    }
    if (mask & (8 | 128)) {
        cell->shownEffect = values[3];
        cell->shownParam = values[4];
        cell->effect = decodeItEffect(values[3], values[4]);
    }
}

int readPatterns(Song* song, Reader& reader, const uint32_t* offsets, int fileCount) {
    int used = 0;
    for (int i = 0; i < song->songLength; ++i) {
        const uint16_t order = song->orderTable[i];
        if (order < ORDER_SKIP && order + 1 > used) used = order + 1;
    }
    song->usedPatternCount = used;
    song->patternCount = fileCount > used ? fileCount : used;
    if (song->patternCount == 0) song->patternCount = 1;
    song->patterns = static_cast<Pattern*>(calloc(song->patternCount, sizeof(Pattern)));
    auto* packed = static_cast<PackedPattern*>(calloc(song->patternCount, sizeof(PackedPattern)));
    if (!song->patterns || !packed) {
        free(packed);
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the pattern table");
    }
    int ok = 1;
    for (int p = 0; p < song->patternCount && ok; ++p) {
        packed[p].rows = 64;
        if (p < fileCount) ok = readPackedPattern(song, reader, offsets[p], p, &packed[p]);
    }
    // The channels are those the patterns use.
    int channels = 1;
    for (int p = 0; p < song->patternCount && ok; ++p) {
        unpack(packed[p], [&](int, int channel, uint8_t mask, const uint8_t*) {
            if (mask && channel + 1 > channels) channels = channel + 1;
        });
    }
    song->channelCount = static_cast<int16_t>(channels);
    int64_t budget = EMPTY_CELL_BUDGET;
    for (int p = 0; p < song->patternCount && ok; ++p) {
        Pattern& pattern = song->patterns[p];
        pattern.rowCount = packed[p].rows;
        const int64_t cellCount = static_cast<int64_t>(channels) * pattern.rowCount;
        // Rows the data can back: each takes at least its end byte.
        const int64_t backed =
            packed[p].size < pattern.rowCount ? packed[p].size : pattern.rowCount;
        budget -= static_cast<int64_t>(channels) * (pattern.rowCount - backed);
        if (budget < 0) {
            ok = fail(reader, LoadFailure::DAMAGED, "the empty patterns are too large");
            break;
        }
        pattern.cells =
            static_cast<NoteCell*>(calloc(static_cast<size_t>(cellCount), sizeof(NoteCell)));
        if (!pattern.cells) {
            ok = fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for pattern data");
            break;
        }
        for (int64_t k = 0; k < cellCount; ++k) pattern.cells[k].shownVolume = 0xFF;
        const int whole =
            unpack(packed[p], [&](int row, int channel, uint8_t mask, const uint8_t* values) {
                if (channel < channels)
                    fillCell(&pattern.cells[row * channels + channel], mask, values);
            });
        if (whole < pattern.rowCount && p < fileCount && offsets[p] != 0)
            noteRepair(song, "pattern %d cut short: %d of %d rows", p, whole, pattern.rowCount);
    }
    for (int p = 0; p < song->patternCount; ++p) free(packed[p].bytes);
    free(packed);
    return ok;
}

}  // namespace

bool isIt(ModuleStream* stream) {
    char signature[4];
    streamSeek(stream, 0, STREAM_SEEK_SET);
    return streamRead(signature, 4, stream) == 4 && memcmp(signature, "IMPM", 4) == 0;
}

int loadIt(Song* song, ModuleStream* stream, LoadError* error) {
    LoadError ignored;
    Reader reader = openReader(stream, error ? error : &ignored);
    if (!song || !stream) return fail(reader, LoadFailure::DAMAGED, "no song or no stream");
    if (!isIt(stream)) return fail(reader, LoadFailure::NOT_A_MODULE, "not an IT module (no IMPM)");
    seekTo(reader, 0);
    ItHeader header = {};
    if (!readHeader(song, reader, &header) || !readOrders(song, reader, header.orderCount))
        return 0;
    const int offsetCount = header.instrumentCount + header.sampleCount + header.patternCount;
    auto* offsets = static_cast<uint32_t*>(calloc(static_cast<size_t>(offsetCount) + 1, 4));
    if (!offsets) return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory");
    if (!readOffsets(reader, offsets, offsetCount)) {
        free(offsets);
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside its offset tables");
    }
    const uint32_t* instrumentOffsets = offsets;
    const uint32_t* sampleOffsets = offsets + header.instrumentCount;
    const uint32_t* patternOffsets = sampleOffsets + header.sampleCount;

    int ok = readMidiConfig(song, reader, header.special) && readMessage(song, reader, header);
    if (ok && header.sampleCount > 0 && addSamples(song, header.sampleCount) < 0)
        ok = fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the samples");
    int64_t budget = frameBudget(reader);
    for (int i = 0; ok && i < header.sampleCount; ++i)
        ok = readSample(song, reader, sampleOffsets[i], i, &budget);
    if (ok && song->instrumentMode) {
        song->instrumentCount = static_cast<int16_t>(header.instrumentCount);
        if (header.instrumentCount > 0) {
            song->instruments =
                static_cast<Instrument*>(calloc(header.instrumentCount, sizeof(Instrument)));
            if (!song->instruments)
                ok = fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for instruments");
        }
        for (int i = 0; ok && i < header.instrumentCount; ++i)
            ok = readInstrument(song, reader, instrumentOffsets[i], i);
    } else if (ok) {
        ok = makeSampleInstruments(song, reader);
    }
    if (ok) ok = readPatterns(song, reader, patternOffsets, header.patternCount);
    free(offsets);
    return ok;
}
