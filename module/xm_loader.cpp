#include "module/xm_loader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "module/module_reader.h"

namespace {

const char XM_SIGNATURE[] = "Extended Module: ";
constexpr int SIGNATURE_LENGTH = 17;
// The channels FastTracker 2 offers.
constexpr int XM_MAX_CHANNELS = 32;

// Cells that patterns stored empty (packed size 0) may ask for in all; such a pattern costs the
// file 9 bytes whatever its size, so without a limit a small file could demand gigabytes.
constexpr int64_t EMPTY_PATTERN_CELL_BUDGET = 8 * 1024 * 1024;

// Notes that the file ends before the patterns or instruments `first`..`last` (numbered as
// brom-play --info numbers them).
void noteAbsent(Song* song, const char* what, int first, int last) {
    if (first == last) {
        noteRepair(song, "%s %d absent: the file ends", what, first);
    } else {
        noteRepair(song, "%ss %d..%d absent: the file ends", what, first, last);
    }
}

// ---- header ----

int readHeader(Song* song, Reader& reader, int* filePatternCount, uint16_t* version) {
    uint8_t header[80 + 256];
    seekTo(reader, 0);
    if (!readExact(reader, header, sizeof header))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside its header");
    copyName(song->title, sizeof song->title, header + 17, 20);
    copyName(song->tracker, sizeof song->tracker, header + 38, 20);
    *version = le16(header + 58);
    uint32_t headerSize = le32(header + 60);
    song->songLength = static_cast<int16_t>(le16(header + 64));
    song->restartPosition = static_cast<int16_t>(le16(header + 66));
    song->channelCount = static_cast<int16_t>(le16(header + 68));
    *filePatternCount = le16(header + 70);
    song->instrumentCount = static_cast<int16_t>(le16(header + 72));
    song->songFlags = static_cast<int16_t>(le16(header + 74));
    song->defaultSpeed = static_cast<int16_t>(le16(header + 76));
    song->defaultBpm = static_cast<int16_t>(le16(header + 78));
    for (int i = 0; i < MAX_ORDERS; ++i) song->orderTable[i] = header[80 + i];

    if (song->channelCount < 1 || song->channelCount > XM_MAX_CHANNELS) {
        return fail(reader, LoadFailure::DAMAGED, "the channel count is not between 1 and 32");
    }
    if (60 + static_cast<int64_t>(headerSize) > reader.fileSize) {
        return fail(reader, LoadFailure::DAMAGED,
                    "the header size points beyond the end of the file");
    }
    // Keep the order table, the restart position and the tempo inside what the player can use.
    if (song->songLength > 256) song->songLength = 256;
    if (song->songLength < 1) song->songLength = 1;
    if (song->restartPosition < 0 || song->restartPosition >= song->songLength) {
        song->restartPosition = 0;
    }
    if (song->defaultBpm < 1) song->defaultBpm = 125;
    return seekTo(reader, 60 + static_cast<int64_t>(headerSize))
               ? 1
               : fail(reader, LoadFailure::DAMAGED, "bad header size");
}

// ---- patterns ----

// What reading one structure came to: WHOLE, CUT (the file ends inside it; what it holds is
// kept, and nothing after it is read) or FAILED (the reason is in the Reader's error).
enum Outcome { FAILED = 0, WHOLE, CUT };

// A pattern's packed cells as they are read from the stream: at most `left` more bytes.
struct PackedData {
    Reader* reader;
    int64_t left;
};

bool nextByte(PackedData& data, uint8_t* value) {
    if (data.left <= 0 || streamRead(value, 1, data.reader->stream) != 1) return false;
    --data.left;
    return true;
}

// Decodes one packed cell; false when the data ends inside it. The fields read so far are kept and
// the others stay empty: what the file holds of a cell is still that cell's.
bool decodeCell(PackedData& data, NoteCell* cell) {
    uint8_t first;
    if (!nextByte(data, &first)) return false;
    uint8_t bytes[5] = {};  // note, instrument, volume column, effect, parameter
    bool whole = true;
    if (first & 0x80) {
        for (int bit = 0; bit < 5 && whole; ++bit) {
            if (first & (1 << bit)) whole = nextByte(data, &bytes[bit]);
        }
    } else {
        bytes[0] = first;
        for (int k = 1; k < 5 && whole; ++k) whole = nextByte(data, &bytes[k]);
    }
    // Notes run 1..96 and 97 releases the key, as does 255 (the key-off value itself); the other
    // values are no note, shown as the file has them.
    const bool keyOff = bytes[0] == 97 || bytes[0] == NOTE_KEY_OFF;
    cell->note = keyOff ? NOTE_KEY_OFF : bytes[0] <= 96 ? bytes[0] : 0;
    cell->shownNote = keyOff ? NOTE_KEY_OFF : bytes[0];
    cell->instrument = bytes[1] > 128 ? 0 : bytes[1];
    cell->shownVolume = bytes[2];
    cell->shownEffect = bytes[3];
    cell->shownParam = bytes[4];
    cell->volume = decodeXmVolumeColumn(bytes[2]);
    cell->effect = decodeXmEffect(bytes[3], bytes[4]);
    return whole;
}

struct PatternHeader {
    int32_t rowCount;
    uint16_t packedSize;
};

// Reads a pattern header and moves to its data; false when the file ends inside it. Version 1.02
// wrote 8 bytes with the row count less one in one byte, later versions 9 bytes with a 16-bit row
// count. The data starts where the header's length field says (a longer header is padding),
// unless that length is shorter than the fields or reaches past the end of the file: then it
// cannot be right, and the data follows the fields.
bool readPatternHeader(Song* song, Reader& reader, uint16_t version, int p, PatternHeader* header) {
    int64_t start = streamTell(reader.stream);
    uint8_t bytes[9];
    const int fieldBytes = version == 0x0102 ? 8 : 9;
    if (!readExact(reader, bytes, fieldBytes)) return false;
    if (version == 0x0102) {
        header->rowCount = bytes[5] + 1;
        header->packedSize = le16(bytes + 6);
    } else {
        header->rowCount = le16(bytes + 5);
        header->packedSize = le16(bytes + 7);
    }
    uint32_t length = le32(bytes);
    if (length == static_cast<uint32_t>(fieldBytes)) return true;
    if (length < static_cast<uint32_t>(fieldBytes) || start + length > reader.fileSize) {
        noteRepair(song, "pattern %d header length %u taken as %d", p, length, fieldBytes);
        return true;
    }
    return seekTo(reader, start + length);
}

int readPattern(Song* song, Reader& reader, uint16_t version, int p, int64_t* emptyCellBudget) {
    PatternHeader header;
    if (!readPatternHeader(song, reader, version, p, &header)) return CUT;
    Pattern& pattern = song->patterns[p];
    pattern.rowCount = header.rowCount;
    const int64_t cellCount = static_cast<int64_t>(song->channelCount) * header.rowCount;
    const int64_t dataEnd = streamTell(reader.stream) + header.packedSize;
    // Every stored cell takes at least one byte, so the data the file holds fills at most that
    // many cells; the others stay empty and draw on the budget, so that a small file cannot
    // demand gigabytes.
    const int64_t available =
        header.packedSize < bytesLeft(reader) ? header.packedSize : bytesLeft(reader);
    *emptyCellBudget -= cellCount - (available < cellCount ? available : cellCount);
    if (*emptyCellBudget < 0)
        return fail(reader, LoadFailure::DAMAGED, "the empty patterns are too large");
    pattern.cells = static_cast<NoteCell*>(calloc(cellCount ? cellCount : 1, sizeof(NoteCell)));
    if (!pattern.cells)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for pattern data");
    if (header.packedSize == 0) return WHOLE;

    // The packed size is where the file puts the next pattern, so it bounds the data: cells it
    // leaves out stay empty, and bytes it holds beyond the last cell are skipped.
    PackedData data{&reader, available};
    int64_t whole = 0;
    while (whole < cellCount && decodeCell(data, &pattern.cells[whole])) ++whole;
    if (whole < cellCount) {
        noteRepair(song, "pattern %d cut short: %lld of %d rows", p,
                   static_cast<long long>(whole / song->channelCount), header.rowCount);
    }
    if (dataEnd > reader.fileSize) return CUT;
    seekTo(reader, dataEnd);
    return WHOLE;
}

// Reads the file's patterns. A pattern the file cuts short keeps the cells it holds; those after
// it are absent and, like patterns the order table names beyond the file's count, become 64
// empty rows where the order table names them.
int readPatterns(Song* song, Reader& reader, uint16_t version, int filePatternCount) {
    song->usedPatternCount = 0;
    for (int i = 0; i < song->songLength; ++i) {
        if (song->orderTable[i] >= song->usedPatternCount) {
            song->usedPatternCount = song->orderTable[i] + 1;
        }
    }
    song->patternCount =
        filePatternCount > song->usedPatternCount ? filePatternCount : song->usedPatternCount;
    song->patterns = static_cast<Pattern*>(calloc(song->patternCount, sizeof(Pattern)));
    if (!song->patterns)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the pattern table");

    int64_t emptyCellBudget = EMPTY_PATTERN_CELL_BUDGET;
    int read = 0;
    while (read < filePatternCount) {
        int outcome = readPattern(song, reader, version, read, &emptyCellBudget);
        if (outcome == FAILED) return 0;
        if (song->patterns[read].cells) ++read;
        if (outcome == CUT) {
            seekTo(reader, reader.fileSize);  // nothing after a cut can be read
            break;
        }
    }
    if (read < filePatternCount) {
        noteAbsent(song, "pattern", read, filePatternCount - 1);
        song->patternCount = read > song->usedPatternCount ? read : song->usedPatternCount;
    }
    for (int p = read; p < song->patternCount; ++p) {
        song->patterns[p].rowCount = 64;
        song->patterns[p].cells =
            static_cast<NoteCell*>(calloc(song->channelCount * 64, sizeof(NoteCell)));
        if (!song->patterns[p].cells)
            return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for pattern data");
    }
    return 1;
}

// ---- instruments ----

// The points an XM instrument stores per envelope.
constexpr int XM_ENVELOPE_POINTS = 12;

// Keeps an envelope inside its loaded points: at most 12 points, positions strictly increasing,
// and sustain and loop indices that name a point (else that feature is switched off).
void clampEnvelope(Envelope* envelope) {
    uint8_t& count = envelope->pointCount;
    if (count > XM_ENVELOPE_POINTS) count = XM_ENVELOPE_POINTS;
    for (int k = 1; k < count; ++k) {
        if (envelope->points[k].position <= envelope->points[k - 1].position) {
            count = static_cast<uint8_t>(k);
            break;
        }
    }
    if (count < 2) {
        envelope->flags = 0;
        return;
    }
    if (envelope->sustainStart >= count) envelope->flags &= static_cast<uint8_t>(~ENVELOPE_SUSTAIN);
    if (envelope->loopStart >= count || envelope->loopEnd >= count)
        envelope->flags &= static_cast<uint8_t>(~ENVELOPE_LOOP);
}

// Envelope values are volumes and pannings of 0..64; the player scales gains by them, so a larger
// value would drive a voice far beyond full scale.
constexpr uint16_t MAX_ENVELOPE_VALUE = 64;

void readEnvelopePoints(const uint8_t* bytes, EnvelopePoint* points) {
    for (int k = 0; k < XM_ENVELOPE_POINTS; ++k) {
        points[k].position = le16(bytes + 4 * k);
        uint16_t value = le16(bytes + 4 * k + 2);
        points[k].value =
            static_cast<int16_t>(value > MAX_ENVELOPE_VALUE ? MAX_ENVELOPE_VALUE : value);
    }
}

// An envelope's count, sustain point, loop and flags, from the bytes that hold them.
void readEnvelopeShape(Envelope* envelope, uint8_t count, uint8_t sustain, uint8_t loopStart,
                       uint8_t loopEnd, uint8_t flags) {
    envelope->pointCount = count;
    envelope->sustainStart = sustain;
    envelope->sustainEnd = sustain;
    envelope->loopStart = loopStart;
    envelope->loopEnd = loopEnd;
    envelope->flags = flags & (ENVELOPE_ON | ENVELOPE_SUSTAIN | ENVELOPE_LOOP);
    clampEnvelope(envelope);
}

// The keyboard of an instrument whose samples start at pool index `first`: each note plays
// itself on the sample the map names; an entry beyond the instrument's samples plays nothing.
void fillKeyboard(Instrument* ins, const uint8_t* sampleMap) {
    for (int n = 0; n < NOTE_COUNT; ++n) {
        const int slot = n < 96 ? sampleMap[n] : MAX_INSTRUMENT_SAMPLES;
        const bool held = slot < ins->sampleCount;
        ins->keyboard[n] = {static_cast<int16_t>(held ? ins->firstSample + slot : NO_SAMPLE),
                            static_cast<uint8_t>(n)};
    }
}

// The fields after the first 29 bytes of an instrument with samples.
constexpr int INSTRUMENT_FIELD_BYTES = 4 + 96 + 48 + 48 + 16;

// Reads the fields an instrument header of `size` bytes holds after its first 29; a shorter
// header stores fewer fields, and those beyond it are zero.
int readInstrumentHeader(Instrument* ins, Reader& reader, uint32_t size, uint8_t* sampleMap) {
    uint8_t bytes[INSTRUMENT_FIELD_BYTES] = {};
    uint32_t stored = size - 29 < sizeof bytes ? size - 29 : sizeof bytes;
    if (!readExact(reader, bytes, static_cast<int>(stored))) return 0;
    memcpy(sampleMap, bytes + 4, 96);
    readEnvelopePoints(bytes + 100, ins->volumeEnvelope.points);
    readEnvelopePoints(bytes + 148, ins->panningEnvelope.points);
    const uint8_t* v = bytes + 196;
    readEnvelopeShape(&ins->volumeEnvelope, v[0], v[2], v[3], v[4], v[8]);
    readEnvelopeShape(&ins->panningEnvelope, v[1], v[5], v[6], v[7], v[9]);
    ins->vibratoType = v[10];
    ins->vibratoSweep = v[11];
    ins->vibratoDepth = v[12];
    ins->vibratoRate = v[13];
    ins->fadeout = static_cast<uint16_t>(le16(v + 14) << 1);
    return 1;
}

constexpr int SAMPLE_HEADER_BYTES = 40;

void readSampleHeader(Sample* smp, const uint8_t* bytes) {
    smp->length = le32(bytes);
    smp->loopStart = le32(bytes + 4);
    smp->loopLength = le32(bytes + 8);
    smp->volume = bytes[12];
    smp->finetune = static_cast<int8_t>(bytes[13]);
    uint8_t type = bytes[14];
    smp->bits = 8;
    smp->loopMode = LOOP_NONE;
    if (type & 1) smp->loopMode = LOOP_FORWARD;
    if (type & 2) smp->loopMode = LOOP_PINGPONG;
    if (type & 0x10) smp->bits = 16;
    smp->fileBits = smp->bits;
    if (smp->loopMode == LOOP_NONE) {
        smp->loopStart = 0;
        smp->loopLength = smp->length;
    }
    if (smp->bits == 16) {
        smp->length >>= 1;
        smp->loopStart >>= 1;
        smp->loopLength >>= 1;
    }
    if (smp->loopLength == 0) {
        smp->loopStart = 0;
        smp->loopLength = smp->length;
        smp->loopMode = LOOP_NONE;
    }
    smp->panning = bytes[15];
    smp->relativeNote = static_cast<int8_t>(bytes[16]);
    copyName(smp->name, sizeof smp->name, bytes + 18, 22);
}

// Instrument i's header and sample headers. A header size of 0 stands for the usual 263 bytes
// (some writers leave the field at 0); one below the 29 bytes every header has cannot be right
// and is taken as the usual size too (263 with samples, 29 without). CUT when the file ends inside
// them (the instrument is then left half read; see clearInstrument). Its samples join the pool
// once all their headers are read.
int readInstrumentHeaders(Song* song, Reader& reader, int i) {
    Instrument* ins = &song->instruments[i];
    int64_t start = streamTell(reader.stream);
    uint8_t head[29];
    if (!readExact(reader, head, sizeof head)) return CUT;
    copyName(ins->name, sizeof ins->name, head + 4, 22);
    ins->defaultPanning = -1;
    int sampleCount = le16(head + 27);
    if (sampleCount > MAX_INSTRUMENT_SAMPLES)
        return fail(reader, LoadFailure::DAMAGED, "an instrument has more than 16 samples");
    uint32_t size = le32(head);
    if (size < 29) {
        uint32_t taken = size == 0 || sampleCount > 0 ? 263 : 29;
        noteRepair(song, "instrument %d header size %u taken as %u", i + 1, size, taken);
        size = taken;
    }
    uint8_t sampleMap[96] = {};
    int64_t headerEnd = start + size;
    if (sampleCount == 0) {
        // Nothing of an empty instrument is used beyond its sample count, so one whose padding
        // the file cuts short still loads.
        fillKeyboard(ins, sampleMap);
        seekTo(reader, headerEnd < reader.fileSize ? headerEnd : reader.fileSize);
        return WHOLE;
    }
    if (headerEnd > reader.fileSize || !readInstrumentHeader(ins, reader, size, sampleMap))
        return CUT;
    seekTo(reader, headerEnd);

    uint8_t bytes[MAX_INSTRUMENT_SAMPLES * SAMPLE_HEADER_BYTES];
    if (!readExact(reader, bytes, sampleCount * SAMPLE_HEADER_BYTES)) return CUT;
    const int32_t first = addSamples(song, sampleCount);
    if (first < 0) return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for a sample");
    ins->firstSample = first;
    ins->sampleCount = sampleCount;
    for (int j = 0; j < sampleCount; ++j)
        readSampleHeader(&song->samples[first + j], bytes + j * SAMPLE_HEADER_BYTES);
    fillKeyboard(ins, sampleMap);
    return WHOLE;
}

// Instrument i's sample data. Sample data is allocated only once its size has been checked against
// the bytes the file still holds (readSampleData), so a damaged length cannot ask for gigabytes.
// The first sample the file cuts short gets a repair note (*dataCut says whether one has).
int readInstrumentData(Song* song, Reader& reader, int i, bool* dataCut) {
    const Instrument* ins = &song->instruments[i];
    for (int j = 0; j < ins->sampleCount; ++j) {
        Sample* smp = &song->samples[ins->firstSample + j];
        if (smp->length == 0) continue;
        clampLoop(smp);
        int64_t available = bytesLeft(reader);
        if (!*dataCut && static_cast<int64_t>(smp->bits) * smp->length / 8 > available) {
            noteRepair(song, "instrument %d sample %d cut short: %lld of %u frames", i + 1, j,
                       static_cast<long long>(smp->bits == 16 ? available / 2 : available),
                       smp->length);
            *dataCut = true;
        }
        if (!readSampleData(song, smp, reader, i, j, {true, false, false})) return 0;
    }
    return 1;
}

// An instrument the file cuts short is absent: nothing of it is kept (no sample joins the pool
// before all the headers are read).
void clearInstrument(Instrument* ins) {
    memset(ins, 0, sizeof *ins);
    ins->defaultPanning = -1;
    const uint8_t noMap[96] = {};
    fillKeyboard(ins, noMap);
}

// Reads every instrument's headers, and each one's sample data right after them when
// `dataFollowsHeaders` (version 1.04). The instruments from the first one the file cuts short on
// are absent: the song keeps the whole ones.
int readInstruments(Song* song, Reader& reader, bool dataFollowsHeaders) {
    const int declared = song->instrumentCount;
    if (declared <= 0) return 1;
    // Every instrument takes at least 29 bytes, so the table never holds more than the file can.
    int64_t fits = bytesLeft(reader) / 29;
    song->instrumentCount = static_cast<int16_t>(declared < fits ? declared : fits);
    if (song->instrumentCount == 0) {
        noteAbsent(song, "instrument", 1, declared);
        return seekTo(reader, reader.fileSize);  // nothing after a cut can be read
    }
    song->instruments = static_cast<Instrument*>(calloc(song->instrumentCount, sizeof(Instrument)));
    if (!song->instruments)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the instrument table");
    bool dataCut = false;
    for (int i = 0; i < song->instrumentCount; ++i) {
        int outcome = readInstrumentHeaders(song, reader, i);
        if (outcome == FAILED) return 0;
        if (outcome == CUT) {
            clearInstrument(&song->instruments[i]);
            song->instrumentCount = static_cast<int16_t>(i);
            seekTo(reader, reader.fileSize);  // nothing after a cut can be read
            break;
        }
        if (dataFollowsHeaders && !readInstrumentData(song, reader, i, &dataCut)) return 0;
    }
    if (song->instrumentCount < declared)
        noteAbsent(song, "instrument", song->instrumentCount + 1, declared);
    return 1;
}

int readAllInstrumentData(Song* song, Reader& reader) {
    bool dataCut = false;
    for (int i = 0; i < song->instrumentCount; ++i) {
        if (!readInstrumentData(song, reader, i, &dataCut)) return 0;
    }
    return 1;
}

}  // namespace

bool isXm(ModuleStream* stream) {
    char signature[SIGNATURE_LENGTH];
    streamSeek(stream, 0, STREAM_SEEK_SET);
    return streamRead(signature, SIGNATURE_LENGTH, stream) == SIGNATURE_LENGTH &&
           memcmp(signature, XM_SIGNATURE, SIGNATURE_LENGTH) == 0;
}

int loadXm(Song* song, ModuleStream* stream, LoadError* error) {
    LoadError ignored;
    Reader reader = openReader(stream, error ? error : &ignored);
    if (!song || !stream) return fail(reader, LoadFailure::DAMAGED, "no song or no stream");
    if (!isXm(stream)) {
        return fail(reader, LoadFailure::NOT_A_MODULE, "not an XM module (signature missing)");
    }
    song->format = FORMAT_XM;
    song->initialGlobalVolume = 64;
    for (int c = 0; c < MAX_SONG_CHANNELS; ++c) song->channelVolume[c] = 64;

    int filePatternCount = 0;
    uint16_t version = 0;
    if (!readHeader(song, reader, &filePatternCount, &version)) return 0;
    // Versions before 1.04 (1.02 and 1.03 were written) store every instrument's headers first,
    // then the patterns, then all the sample data; 1.04 and later store the patterns, then each
    // instrument with its sample data.
    if (version < 0x0104) {
        noteRepair(song, "version %d.%02x layout", version >> 8, version & 0xFF);
        return readInstruments(song, reader, false) &&
               readPatterns(song, reader, version, filePatternCount) &&
               readAllInstrumentData(song, reader);
    }
    return readPatterns(song, reader, version, filePatternCount) &&
           readInstruments(song, reader, true);
}
