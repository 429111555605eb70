#include "module/s3m_loader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "module/module_reader.h"

namespace {

constexpr int HEADER_BYTES = 0x60;
constexpr int TITLE_BYTES = 28;
constexpr int TYPE_OFFSET = 29;
constexpr int SIGNATURE_OFFSET = 44;
constexpr uint8_t MODULE_TYPE = 16;
constexpr int SETTINGS_OFFSET = 64;
constexpr int FILE_CHANNELS = 32;
constexpr int INSTRUMENT_HEADER_BYTES = 0x50;
constexpr int ROWS = 64;
// A cell names instruments 1..255 and an order patterns 0..253: anything beyond is unreachable.
constexpr int MAX_S3M_INSTRUMENTS = 255;
constexpr int MAX_S3M_PATTERNS = 254;
// The most a packed pattern can take: 32 channels of 6 bytes and an end byte on every row.
constexpr int MAX_PACKED_BYTES = ROWS * (FILE_CHANNELS * 6 + 1);

constexpr uint16_t FLAG_AMIGA_LIMITS = 16;
constexpr uint16_t FLAG_FAST_VOLUME_SLIDES = 64;
constexpr uint16_t SCREAM_TRACKER_300 = 0x1300;
constexpr uint8_t UNUSED_CHANNEL = 255;
constexpr uint8_t PAN_TABLE_PRESENT = 252;
constexpr uint16_t UNSIGNED_SAMPLES = 2;
constexpr uint32_t DEFAULT_MIDDLE_C_RATE = 8363;

constexpr uint8_t TYPE_SAMPLE = 1;
constexpr uint8_t TYPE_FIRST_ADLIB = 2;
constexpr uint8_t TYPE_LAST_ADLIB = 7;

// The header fields the loader reads beyond the song's own.
struct S3mHeader {
    int orderCount;
    int instrumentCount;  // as the file declares them
    int patternCount;
    uint16_t flags;
    uint16_t trackerVersion;  // Cwt/v: the tracker in the top nibble, its version below
    uint16_t sampleFormat;  // 1 signed, 2 unsigned
    uint8_t panTableFlag;
    uint8_t masterVolume;
    uint8_t channelSettings[FILE_CHANNELS];
};

// The tracker's name and version from Cwt/v, as the trackers that write S3M fill it in.
void nameTracker(char* out, size_t size, uint16_t cwtv) {
    const int major = cwtv >> 8 & 0x0F;
    const int minor = cwtv & 0xFF;
    switch (cwtv >> 12) {
        case 1: snprintf(out, size, "Scream Tracker %d.%02x", major, minor); break;
        case 2: snprintf(out, size, "Imago Orpheus %d.%02x", major, minor); break;
        case 3: snprintf(out, size, "Impulse Tracker %d.%02x", major, minor); break;
        case 4: snprintf(out, size, "Schism Tracker"); break;
        case 5: snprintf(out, size, "OpenMPT %d.%02x", major, minor); break;
        case 6: snprintf(out, size, "BeRoTracker"); break;
        case 7: snprintf(out, size, "CreamTracker %d.%02x", major, minor); break;
        default: snprintf(out, size, "unknown tracker %04X", cwtv); break;
    }
}

bool isScreamTracker(const S3mHeader& header) { return header.trackerVersion >> 12 == 1; }

int readHeader(Song* song, Reader& reader, S3mHeader* header) {
    uint8_t bytes[HEADER_BYTES];
    if (!seekTo(reader, 0) || !readExact(reader, bytes, sizeof bytes))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside its header");
    copyName(song->title, sizeof song->title, bytes, TITLE_BYTES);
    header->orderCount = le16(bytes + 32);
    header->instrumentCount = le16(bytes + 34);
    header->patternCount = le16(bytes + 36);
    header->flags = le16(bytes + 38);
    header->trackerVersion = le16(bytes + 40);
    header->sampleFormat = le16(bytes + 42);
    header->masterVolume = bytes[51];
    header->panTableFlag = bytes[53];
    memcpy(header->channelSettings, bytes + SETTINGS_OFFSET, FILE_CHANNELS);
    nameTracker(song->tracker, sizeof song->tracker, header->trackerVersion);

    song->format = FORMAT_S3M;
    song->initialGlobalVolume = bytes[48] > 64 ? 64 : bytes[48];
    song->defaultSpeed = bytes[49] == 0 || bytes[49] == 255 ? 6 : bytes[49];
    song->defaultBpm = bytes[50] < 33 ? 125 : bytes[50];
    const int master = bytes[51] & 0x7F;
    song->masterVolume = static_cast<uint8_t>(master < 16 ? 16 : master);
    if (header->flags & FLAG_AMIGA_LIMITS) song->fileBehaviours |= BEHAVIOUR_AMIGA_PERIOD_LIMITS;
    if ((header->flags & FLAG_FAST_VOLUME_SLIDES) || header->trackerVersion == SCREAM_TRACKER_300)
        song->fileBehaviours |= BEHAVIOUR_FAST_VOLUME_SLIDES;
    if (!(bytes[51] & 0x80)) song->fileBehaviours |= BEHAVIOUR_MONO;
    return 1;
}

// ---- channels ----

// A pan position of sixteen steps (0 left, F right) on the engine's 0..255.
uint8_t panOfStep(int step) { return static_cast<uint8_t>(step * 17); }

void readChannels(Song* song, const S3mHeader& header) {
    int last = 0;
    for (int c = 0; c < FILE_CHANNELS; ++c) {
        if (header.channelSettings[c] != UNUSED_CHANNEL) last = c;
    }
    song->channelCount = static_cast<int16_t>(last + 1);
    const bool mono = song->fileBehaviours & BEHAVIOUR_MONO;
    for (int c = 0; c < MAX_SONG_CHANNELS; ++c) {
        song->channelVolume[c] = 64;
        song->channelPanning[c] = 128;
        if (c >= FILE_CHANNELS) continue;
        const uint8_t setting = header.channelSettings[c];
        const int type = setting & 0x7F;
        // Unused, switched off, or an AdLib channel (types 16..31), which plays no samples.
        if (setting & 0x80 || type >= 16) song->channelFlags[c] |= CHANNEL_DISABLED;
        if (!mono) song->channelPanning[c] = panOfStep(type < 8 ? 3 : 0xC);
    }
}

// The pan table after the pointer tables: each channel whose entry has bit 5 set sits where its
// low nibble says.
int readPanTable(Song* song, Reader& reader) {
    uint8_t table[FILE_CHANNELS];
    if (!readExact(reader, table, sizeof table)) {
        noteRepair(song, "pan table absent: the file ends");
        return 1;
    }
    if (song->fileBehaviours & BEHAVIOUR_MONO) return 1;
    for (int c = 0; c < FILE_CHANNELS; ++c) {
        if (table[c] & 0x20) song->channelPanning[c] = panOfStep(table[c] & 0x0F);
    }
    return 1;
}

// ---- orders and pointers ----

void readOrders(Song* song, const uint8_t* orders, int count) {
    if (count > MAX_ORDERS) {
        noteRepair(song, "order list cut to %d of %d entries", MAX_ORDERS, count);
        count = MAX_ORDERS;
    }
    int end = -1;
    for (int i = 0; i < count; ++i) {
        const uint8_t order = orders[i];
        song->orderTable[i] = order == 255 ? ORDER_END : order == 254 ? ORDER_SKIP : order;
        if (order == 255 && end < 0) end = i;
    }
    for (int i = count; i < MAX_ORDERS; ++i) song->orderTable[i] = ORDER_END;
    // The song ends at the first end marker; an empty song still has its one (ending) position.
    const int length = end < 0 ? count : end;
    song->songLength = static_cast<int16_t>(length < 1 ? 1 : length);
    song->restartPosition = 0;
}

// Byte offset of a 16-bit paragraph pointer.
int64_t paragraphOffset(const uint8_t* pointer) { return static_cast<int64_t>(le16(pointer)) * 16; }

// ---- instruments ----

void setKeyboard(Instrument* ins, int sampleIndex) {
    for (int n = 0; n < NOTE_COUNT; ++n)
        ins->keyboard[n] = {static_cast<int16_t>(sampleIndex), static_cast<uint8_t>(n)};
}

// The header fields of a sample instrument; false when its data is stored in a way Brom cannot
// read (packed).
bool readSampleHeader(Song* song, int number, const uint8_t* bytes, Sample* smp) {
    const uint8_t flags = bytes[31];
    smp->length = le32(bytes + 16);
    smp->volume = bytes[28] > 64 ? 64 : bytes[28];
    smp->globalVolume = 64;
    smp->panning = SAMPLE_PANNING_NONE;
    smp->bits = flags & 4 ? 16 : 8;
    smp->fileBits = smp->bits;
    smp->stereo = flags & 2 ? 1 : 0;
    smp->middleCRate = le32(bytes + 32);
    if (smp->middleCRate == 0) {
        noteRepair(song, "instrument %d: C2SPD 0, played at 8363", number);
        smp->middleCRate = DEFAULT_MIDDLE_C_RATE;
    }
    const uint32_t loopStart = le32(bytes + 20);
    const uint32_t loopEnd = le32(bytes + 24);
    smp->loopMode = LOOP_NONE;
    smp->loopLength = smp->length;
    smp->sustainMode = LOOP_NONE;
    if ((flags & 1) && loopEnd > loopStart) {
        smp->loopMode = LOOP_FORWARD;
        smp->loopStart = loopStart;
        smp->loopLength = loopEnd - loopStart;
        clampLoop(smp);
    }
    if (bytes[30] != 0) {
        noteRepair(song, "instrument %d: packed sample data, silent", number);
        return false;
    }
    return true;
}

// One instrument: its header at the pointer's paragraph and its sample data. *adlib counts the
// AdLib instruments; *dataCut says whether a sample cut short has been noted.
int readInstrument(Song* song, Reader& reader, const S3mHeader& header, int i, int64_t offset,
                   int* adlib, bool* dataCut) {
    Instrument* ins = &song->instruments[i];
    Sample* smp = &song->samples[i];
    uint8_t bytes[INSTRUMENT_HEADER_BYTES];
    if (offset == 0) return 1;  // no instrument stored
    if (!seekTo(reader, offset) || !readExact(reader, bytes, sizeof bytes)) {
        noteRepair(song, "instrument %d absent: the file ends", i + 1);
        return 1;
    }
    copyName(smp->name, sizeof smp->name, bytes + 48, TITLE_BYTES);
    copyName(smp->fileName, sizeof smp->fileName, bytes + 1, 12);
    memcpy(ins->name, smp->name, sizeof ins->name);
    memcpy(ins->fileName, smp->fileName, sizeof ins->fileName);
    const uint8_t type = bytes[0];
    if (type >= TYPE_FIRST_ADLIB && type <= TYPE_LAST_ADLIB) {
        ++*adlib;
        return 1;
    }
    if (type != TYPE_SAMPLE) return 1;
    if (!readSampleHeader(song, i + 1, bytes, smp) || smp->length == 0) {
        smp->length = 0;
        smp->loopMode = LOOP_NONE;
        smp->loopStart = 0;
        smp->loopLength = 0;
        return 1;
    }
    const int64_t dataOffset = (static_cast<int64_t>(bytes[13]) << 16 | le16(bytes + 14)) * 16;
    seekTo(reader, dataOffset < reader.fileSize ? dataOffset : reader.fileSize);
    const int64_t stored = static_cast<int64_t>(smp->length) * (smp->bits / 8) * (smp->stereo + 1);
    const int64_t available = bytesLeft(reader);
    if (!*dataCut && stored > available) {
        noteRepair(song, "instrument %d cut short: %lld of %lld bytes", i + 1,
                   static_cast<long long>(available), static_cast<long long>(stored));
        *dataCut = true;
    }
    const SampleCoding coding{false, header.sampleFormat == UNSIGNED_SAMPLES, smp->stereo != 0};
    return readSampleData(song, smp, reader, i, 0, coding);
}

int readInstruments(Song* song, Reader& reader, const S3mHeader& header, const uint8_t* pointers) {
    if (song->instrumentCount == 0) return 1;
    song->instruments = static_cast<Instrument*>(calloc(song->instrumentCount, sizeof(Instrument)));
    if (!song->instruments || addSamples(song, song->instrumentCount) < 0)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the instrument table");
    int adlib = 0;
    bool dataCut = false;
    for (int i = 0; i < song->instrumentCount; ++i) {
        Instrument* ins = &song->instruments[i];
        ins->firstSample = i;
        ins->sampleCount = 1;
        ins->defaultPanning = -1;
        ins->globalVolume = 128;
        setKeyboard(ins, i);
        if (!readInstrument(song, reader, header, i, paragraphOffset(pointers + 2 * i), &adlib,
                            &dataCut)) {
            return 0;
        }
    }
    // OPL2 emulators in Debian come only inside module player libraries, which Brom does not use.
    if (adlib > 0) noteRepair(song, "%d AdLib instruments silent: no OPL2 emulator", adlib);
    return 1;
}

// ---- patterns ----

// A semitone in the low nibble, an octave in the high one; 254 cuts the note, 255 is none.
uint8_t noteOf(uint8_t value) {
    if (value == 254) return NOTE_CUT;
    const int octave = value >> 4;
    const int semitone = value & 0x0F;
    if (value == 255 || semitone > 11) return 0;
    return static_cast<uint8_t>(octave * 12 + semitone + 1);
}

// Unpacks one pattern from `bytes` (`size` of them) into `pattern`; the rows read, ROWS when the
// pattern is whole.
int unpackPattern(Song* song, const S3mHeader& header, const uint8_t* bytes, int size,
                  Pattern* pattern) {
    const bool tempoSlides = !isScreamTracker(header);
    int at = 0;
    int row = 0;
    while (row < ROWS && at < size) {
        const uint8_t what = bytes[at++];
        if (what == 0) {
            ++row;
            continue;
        }
        const int fieldBytes = (what & 32 ? 2 : 0) + (what & 64 ? 1 : 0) + (what & 128 ? 2 : 0);
        if (at + fieldBytes > size) break;
        const int channel = what & 31;
        const uint8_t* field = bytes + at;
        at += fieldBytes;
        if (channel >= song->channelCount || (song->channelFlags[channel] & CHANNEL_DISABLED))
            continue;
        NoteCell& cell = pattern->cells[row * song->channelCount + channel];
        cell.shownVolume = 255;
        if (what & 32) {
            cell.note = noteOf(field[0]);
            cell.instrument = field[1];
            field += 2;
        }
        if (what & 64) {
            cell.shownVolume = field[0];
            cell.volume = decodeS3mVolumeColumn(field[0]);
            field += 1;
        }
        if (what & 128) {
            cell.shownEffect = field[0];
            cell.shownParam = field[1];
            cell.effect = decodeS3mEffect(field[0], field[1], tempoSlides);
        }
    }
    return row;
}

// Orders that name patterns beyond the file's count get empty ones, as a pattern stored empty.
void coverNamedPatterns(Song* song) {
    bool playsPattern = false;
    for (int i = 0; i < song->songLength; ++i) playsPattern |= song->orderTable[i] < ORDER_SKIP;
    if (!playsPattern) {
        // Nothing but markers: the song is one empty pattern.
        noteRepair(song, "the order list plays no pattern: one empty pattern");
        song->songLength = 1;
        song->orderTable[0] = 0;
    }
    int named = 0;
    for (int i = 0; i < song->songLength; ++i) {
        const uint16_t entry = song->orderTable[i];
        if (entry < ORDER_SKIP && entry + 1 > named) named = entry + 1;
    }
    if (named > song->patternCount) {
        noteRepair(song, "patterns %d..%d named but absent: empty", song->patternCount, named - 1);
        song->patternCount = named;
    }
    song->usedPatternCount = named;
}

int readPatterns(Song* song, Reader& reader, const S3mHeader& header, const uint8_t* pointers) {
    const int stored = song->patternCount;
    coverNamedPatterns(song);
    const int count = song->patternCount;
    song->patterns = static_cast<Pattern*>(calloc(count > 0 ? count : 1, sizeof(Pattern)));
    auto* packed = static_cast<uint8_t*>(malloc(MAX_PACKED_BYTES));
    if (!song->patterns || !packed) {
        free(packed);
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the pattern table");
    }
    for (int p = 0; p < count; ++p) {
        Pattern& pattern = song->patterns[p];
        pattern.rowCount = ROWS;
        pattern.cells = static_cast<NoteCell*>(calloc(ROWS * song->channelCount, sizeof(NoteCell)));
        if (!pattern.cells) {
            free(packed);
            return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for pattern data");
        }
        for (int k = 0; k < ROWS * song->channelCount; ++k) pattern.cells[k].shownVolume = 255;
        const int64_t offset = p < stored ? paragraphOffset(pointers + 2 * p) : 0;
        if (offset == 0) continue;  // an empty pattern
        // The two bytes of packed length, which the unpacking does not need: it reads 64 rows.
        const int64_t start = offset + 2;
        const int64_t left = start < reader.fileSize ? reader.fileSize - start : 0;
        const int size = static_cast<int>(left < MAX_PACKED_BYTES ? left : MAX_PACKED_BYTES);
        seekTo(reader, start);
        const int got = size > 0 ? streamRead(packed, size, reader.stream) : 0;
        const int rows = unpackPattern(song, header, packed, got > 0 ? got : 0, &pattern);
        if (rows < ROWS) noteRepair(song, "pattern %d cut short: %d of 64 rows", p, rows);
    }
    free(packed);
    return 1;
}

}  // namespace

bool isS3m(ModuleStream* stream) {
    uint8_t bytes[SIGNATURE_OFFSET + 4];
    streamSeek(stream, 0, STREAM_SEEK_SET);
    return streamRead(bytes, sizeof bytes, stream) == static_cast<int>(sizeof bytes) &&
           memcmp(bytes + SIGNATURE_OFFSET, "SCRM", 4) == 0 && bytes[TYPE_OFFSET] == MODULE_TYPE;
}

int loadS3m(Song* song, ModuleStream* stream, LoadError* error) {
    LoadError ignored;
    Reader reader = openReader(stream, error ? error : &ignored);
    if (!song || !stream) return fail(reader, LoadFailure::DAMAGED, "no song or no stream");
    if (!isS3m(stream))
        return fail(reader, LoadFailure::NOT_A_MODULE, "not an S3M module (signature missing)");
    S3mHeader header{};
    if (!readHeader(song, reader, &header)) return 0;
    readChannels(song, header);

    // The order list and the two pointer tables follow the header; they must be whole.
    const int64_t tableBytes = header.orderCount + 2 * (header.instrumentCount +
                                                        static_cast<int64_t>(header.patternCount));
    if (tableBytes > bytesLeft(reader))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside its header");
    auto* tables = static_cast<uint8_t*>(malloc(tableBytes > 0 ? tableBytes : 1));
    if (!tables) return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the header");
    readExact(reader, tables, static_cast<int>(tableBytes));
    if (header.panTableFlag == PAN_TABLE_PRESENT) readPanTable(song, reader);
    readOrders(song, tables, header.orderCount);

    song->instrumentCount =
        static_cast<int16_t>(header.instrumentCount < MAX_S3M_INSTRUMENTS ? header.instrumentCount
                                                                          : MAX_S3M_INSTRUMENTS);
    song->patternCount =
        header.patternCount < MAX_S3M_PATTERNS ? header.patternCount : MAX_S3M_PATTERNS;
    if (song->instrumentCount < header.instrumentCount)
        noteRepair(song, "instruments past 255 dropped: %d declared", header.instrumentCount);
    if (song->patternCount < header.patternCount)
        noteRepair(song, "patterns from 254 on dropped: %d declared", header.patternCount);
    const uint8_t* instrumentPointers = tables + header.orderCount;
    const uint8_t* patternPointers = instrumentPointers + 2 * header.instrumentCount;
    const int loaded = readPatterns(song, reader, header, patternPointers) &&
                       readInstruments(song, reader, header, instrumentPointers);
    free(tables);
    return loaded;
}
