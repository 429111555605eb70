#include "module/xm_loader.h"

#include <cstdlib>
#include <cstring>

#include "module/module_reader.h"

namespace {

const char XM_SIGNATURE[] = "Extended Module: ";
constexpr int SIGNATURE_LENGTH = 17;

// Cells that patterns stored empty (packed size 0) may ask for in all; such a pattern costs the
// file 9 bytes whatever its size, so without a limit a small file could demand gigabytes.
constexpr int64_t EMPTY_PATTERN_CELL_BUDGET = 8 * 1024 * 1024;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint32_t le32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// ---- header ----

int readHeader(Song* song, Reader& reader, int* filePatternCount) {
    uint8_t header[80 + 256];
    seekTo(reader, 0);
    if (!readExact(reader, header, sizeof header))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside its header");
    copyName(song->title, sizeof song->title, header + 17, 20);
    copyName(song->tracker, sizeof song->tracker, header + 38, 20);
    uint32_t headerSize = le32(header + 60);
    song->songLength = static_cast<int16_t>(le16(header + 64));
    song->restartPosition = static_cast<int16_t>(le16(header + 66));
    song->channelCount = static_cast<int16_t>(le16(header + 68));
    *filePatternCount = le16(header + 70);
    song->instrumentCount = static_cast<int16_t>(le16(header + 72));
    song->songFlags = static_cast<int16_t>(le16(header + 74));
    song->defaultSpeed = static_cast<int16_t>(le16(header + 76));
    song->defaultBpm = static_cast<int16_t>(le16(header + 78));
    memcpy(song->orderTable, header + 80, 256);

    if (song->channelCount < 1 || song->channelCount > MAX_SONG_CHANNELS) {
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

int readByte(Reader& reader, uint8_t* value) { return streamRead(value, 1, reader.stream) == 1; }

// Decodes one packed cell; 0 when the file ends inside it.
int readCell(Reader& reader, NoteCell* cell) {
    uint8_t b;
    if (!readByte(reader, &b)) return 0;
    if (b & 0x80) {
        uint8_t* fields[5] = {&cell->note, &cell->instrument, &cell->volumeColumn, &cell->effect,
                              &cell->param};
        for (int bit = 0; bit < 5; ++bit) {
            if ((b & (1 << bit)) && !readByte(reader, fields[bit])) return 0;
        }
    } else {
        cell->note = b;
        uint8_t rest[4];
        if (!readExact(reader, rest, 4)) return 0;
        cell->instrument = rest[0];
        cell->volumeColumn = rest[1];
        cell->effect = rest[2];
        cell->param = rest[3];
    }
    if (cell->note == 97) cell->note = NOTE_KEY_OFF;
    if (cell->instrument > 128) cell->instrument = 0;
    return 1;
}

int readPatterns(Song* song, Reader& reader, int filePatternCount) {
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
    const int channels = song->channelCount;
    for (int p = 0; p < filePatternCount; ++p) {
        uint8_t header[9];
        if (!readExact(reader, header, sizeof header))
            return fail(reader, LoadFailure::TRUNCATED, "the file ends inside a pattern");
        Pattern& pattern = song->patterns[p];
        pattern.rowCount = le16(header + 5);
        uint16_t packedSize = le16(header + 7);
        int64_t cellCount = static_cast<int64_t>(channels) * pattern.rowCount;
        // Every stored cell takes at least one byte, so a pattern cannot hold more cells than the
        // bytes left; an empty one draws on the budget instead.
        if (packedSize != 0 && cellCount > bytesLeft(reader)) {
            return fail(reader, LoadFailure::TRUNCATED, "the file ends inside a pattern");
        }
        if (packedSize == 0) {
            emptyCellBudget -= cellCount;
            if (emptyCellBudget < 0)
                return fail(reader, LoadFailure::DAMAGED, "the empty patterns are too large");
        }
        pattern.cells = static_cast<NoteCell*>(calloc(cellCount ? cellCount : 1, sizeof(NoteCell)));
        if (!pattern.cells)
            return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for pattern data");
        if (packedSize == 0) continue;
        for (int64_t k = 0; k < cellCount; ++k) {
            if (!readCell(reader, &pattern.cells[k]))
                return fail(reader, LoadFailure::TRUNCATED, "the file ends inside a pattern");
        }
    }
    for (int p = filePatternCount; p < song->usedPatternCount; ++p) {
        song->patterns[p].rowCount = 64;
        song->patterns[p].cells = static_cast<NoteCell*>(calloc(channels * 64, sizeof(NoteCell)));
        if (!song->patterns[p].cells)
            return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for pattern data");
    }
    return 1;
}

// ---- instruments ----

// Keeps an envelope inside its loaded points: at most 12 points, positions strictly increasing,
// and sustain and loop indices that name a point (else that feature is switched off).
void clampEnvelope(const EnvelopePoint* points, uint8_t* count, uint8_t* flags, uint8_t sustain,
                   uint8_t loopStart, uint8_t loopEnd) {
    if (*count > MAX_ENVELOPE_POINTS) *count = MAX_ENVELOPE_POINTS;
    for (int k = 1; k < *count; ++k) {
        if (points[k].position <= points[k - 1].position) {
            *count = static_cast<uint8_t>(k);
            break;
        }
    }
    if (*count < 2) {
        *flags = 0;
        return;
    }
    if (sustain >= *count) *flags &= static_cast<uint8_t>(~ENVELOPE_SUSTAIN);
    if (loopStart >= *count || loopEnd >= *count) *flags &= static_cast<uint8_t>(~ENVELOPE_LOOP);
}

// Envelope values are volumes and pannings of 0..64; the player scales gains by them, so a larger
// value would drive a voice far beyond full scale.
constexpr uint16_t MAX_ENVELOPE_VALUE = 64;

void readEnvelopePoints(const uint8_t* bytes, EnvelopePoint* points) {
    for (int k = 0; k < MAX_ENVELOPE_POINTS; ++k) {
        points[k].position = le16(bytes + 4 * k);
        uint16_t value = le16(bytes + 4 * k + 2);
        points[k].value = value > MAX_ENVELOPE_VALUE ? MAX_ENVELOPE_VALUE : value;
    }
}

int readInstrumentHeader(Instrument* ins, Reader& reader) {
    uint8_t bytes[4 + 96 + 48 + 48 + 16];
    if (!readExact(reader, bytes, sizeof bytes))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside an instrument");
    memcpy(ins->noteSampleMap, bytes + 4, 96);
    readEnvelopePoints(bytes + 100, ins->volumePoints);
    readEnvelopePoints(bytes + 148, ins->panningPoints);
    const uint8_t* v = bytes + 196;
    ins->volumePointCount = v[0];
    ins->panningPointCount = v[1];
    ins->volumeSustainPoint = v[2];
    ins->volumeLoopStart = v[3];
    ins->volumeLoopEnd = v[4];
    ins->panningSustainPoint = v[5];
    ins->panningLoopStart = v[6];
    ins->panningLoopEnd = v[7];
    ins->volumeEnvelopeFlags = v[8];
    ins->panningEnvelopeFlags = v[9];
    ins->vibratoType = v[10];
    ins->vibratoSweep = v[11];
    ins->vibratoDepth = v[12];
    ins->vibratoRate = v[13];
    ins->fadeout = static_cast<uint16_t>(le16(v + 14) << 1);
    clampEnvelope(ins->volumePoints, &ins->volumePointCount, &ins->volumeEnvelopeFlags,
                  ins->volumeSustainPoint, ins->volumeLoopStart, ins->volumeLoopEnd);
    clampEnvelope(ins->panningPoints, &ins->panningPointCount, &ins->panningEnvelopeFlags,
                  ins->panningSustainPoint, ins->panningLoopStart, ins->panningLoopEnd);
    return 1;
}

int readSampleHeader(Sample* smp, Reader& reader) {
    uint8_t bytes[40];
    if (!readExact(reader, bytes, sizeof bytes))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside a sample header");
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
    return 1;
}

int readInstrument(Song* song, Reader& reader, int i) {
    Instrument* ins = &song->instruments[i];
    int64_t start = streamTell(reader.stream);
    uint8_t head[29];
    if (!readExact(reader, head, sizeof head))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside an instrument");
    copyName(ins->name, sizeof ins->name, head + 4, 22);
    int64_t headerEnd = start + le32(head);
    int sampleCount = le16(head + 27);
    if (sampleCount > MAX_INSTRUMENT_SAMPLES)
        return fail(reader, LoadFailure::DAMAGED, "an instrument has more than 16 samples");
    ins->sampleCount = sampleCount;
    for (int j = 0; j < MAX_INSTRUMENT_SAMPLES; ++j) ins->samples[j] = &emptySample;
    if (sampleCount == 0) {
        // Nothing of an empty instrument is used beyond its sample count, so one whose padding
        // the file cuts short still loads.
        seekTo(reader, headerEnd < reader.fileSize ? headerEnd : reader.fileSize);
        return 1;
    }
    if (!readInstrumentHeader(ins, reader)) return 0;
    if (headerEnd > reader.fileSize)
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside an instrument");
    seekTo(reader, headerEnd);

    for (int j = 0; j < sampleCount; ++j) {
        auto* smp = static_cast<Sample*>(calloc(1, sizeof(Sample)));
        if (!smp) {
            ins->sampleCount = j;
            return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for a sample");
        }
        ins->samples[j] = smp;
        if (!readSampleHeader(smp, reader)) return 0;
    }
    // Sample data is allocated only once its size has been checked against the bytes the file
    // still holds (readSampleData), so a damaged length cannot ask for gigabytes.
    for (int j = 0; j < sampleCount; ++j) {
        Sample* smp = ins->samples[j];
        if (smp->length == 0) continue;
        clampLoop(smp);
        if (!readSampleData(song, smp, reader, i, j, {true})) return 0;
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
    song->initialGlobalVolume = 64;

    int filePatternCount = 0;
    if (!readHeader(song, reader, &filePatternCount)) return 0;
    if (!readPatterns(song, reader, filePatternCount)) return 0;

    if (song->instrumentCount <= 0) return 1;
    song->instruments = static_cast<Instrument*>(calloc(song->instrumentCount, sizeof(Instrument)));
    if (!song->instruments)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the instrument table");
    for (int i = 0; i < song->instrumentCount; ++i) {
        if (!readInstrument(song, reader, i)) return 0;
    }
    return 1;
}
