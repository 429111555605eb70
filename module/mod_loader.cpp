#include "module/mod_loader.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "module/module_reader.h"

namespace {

constexpr int TITLE_BYTES = 20;
constexpr int SAMPLE_HEADER_BYTES = 30;
constexpr int SAMPLE_NAME_BYTES = 22;
constexpr int ORDER_BYTES = 128;
constexpr int SIGNATURE_OFFSET = 1080;
constexpr int SIGNATURE_BYTES = 4;
constexpr int MAX_MOD_SAMPLES = 31;
constexpr int MAX_MOD_CHANNELS = 32;
constexpr int SOUNDTRACKER_SAMPLES = 15;
constexpr int ROWS = 64;
constexpr int CELL_BYTES = 4;
constexpr int FOUR_CHANNEL_PATTERN_BYTES = ROWS * 4 * CELL_BYTES;
constexpr int PERIOD_NOTES = 96;  // the notes a period can name, as XM's

// A 31-sample header with its signature; the 15-sample header is the first 600 bytes of the same
// layout with 16 sample headers fewer.
constexpr int MAX_HEADER_BYTES = SIGNATURE_OFFSET + SIGNATURE_BYTES;

// The layout the first bytes describe.
struct ModLayout {
    int sampleCount;  // 31 or 15
    int channels;
    bool pairedPatterns;  // FLT8: each pattern is stored as two 4-channel halves
    char tracker[SONG_NAME_SIZE];
};

int headerBytes(const ModLayout& layout) {
    const int bytes = TITLE_BYTES + SAMPLE_HEADER_BYTES * layout.sampleCount + 2 + ORDER_BYTES;
    return layout.sampleCount == MAX_MOD_SAMPLES ? bytes + SIGNATURE_BYTES : bytes;
}

int patternBytes(const ModLayout& layout) { return ROWS * layout.channels * CELL_BYTES; }

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }

// ---- signatures ----

struct KnownSignature {
    char text[SIGNATURE_BYTES + 1];
    int channels;
    const char* tracker;
};

const KnownSignature KNOWN_SIGNATURES[] = {
    {"M.K.", 4, "ProTracker"},  {"M!K!", 4, "ProTracker"},  {"M&K!", 4, "Noisetracker"},
    {"FLT4", 4, "Startrekker"}, {"FLT8", 8, "Startrekker"}, {"CD81", 8, "Falcon"},
    {"OKTA", 8, "Oktalyzer"},
};

bool isDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// Channels of an "xCHN" (1 to 9), "xxCH" or "xxCN" (10 to 32) signature; 0 for anything else.
int countedChannels(const uint8_t* s, const char** tracker) {
    if (isDigit(s[0]) && s[0] != '0' && memcmp(s + 1, "CHN", 3) == 0) {
        *tracker = "FastTracker";
        return s[0] - '0';
    }
    if (!isDigit(s[0]) || !isDigit(s[1]) || s[2] != 'C' || (s[3] != 'H' && s[3] != 'N')) return 0;
    const int channels = (s[0] - '0') * 10 + (s[1] - '0');
    if (channels < 10 || channels > MAX_MOD_CHANNELS) return 0;
    *tracker = s[3] == 'H' ? "FastTracker" : "TakeTracker";
    return channels;
}

bool layoutFromSignature(const uint8_t* signature, ModLayout* layout) {
    const char* tracker = nullptr;
    int channels = countedChannels(signature, &tracker);
    for (const KnownSignature& known : KNOWN_SIGNATURES) {
        if (memcmp(signature, known.text, SIGNATURE_BYTES) == 0) {
            channels = known.channels;
            tracker = known.tracker;
        }
    }
    if (channels == 0) return false;
    layout->sampleCount = MAX_MOD_SAMPLES;
    layout->channels = channels;
    layout->pairedPatterns = memcmp(signature, "FLT8", SIGNATURE_BYTES) == 0;
    snprintf(layout->tracker, sizeof layout->tracker, "%s %.4s", tracker,
             reinterpret_cast<const char*>(signature));
    return true;
}

// ---- the 15-sample Soundtracker format ----

// Names hold text: zero padding, printable ASCII or printable Latin-1.
bool isText(const uint8_t* bytes, int count) {
    for (int k = 0; k < count; ++k) {
        const uint8_t b = bytes[k];
        if (b != 0 && (b < 32 || (b >= 127 && b < 160))) return false;
    }
    return true;
}

// The patterns the order table names: one more than its highest entry among the first `count`.
template <typename Order>
int patternsNamed(const Order* orders, int count, bool paired) {
    int highest = 0;
    for (int i = 0; i < count; ++i) {
        const int pattern = paired ? orders[i] >> 1 : orders[i];
        if (pattern > highest) highest = pattern;
    }
    return highest + 1;
}

constexpr int SOUNDTRACKER_MAX_PATTERNS = 64;
// The periods of the three octaves Soundtracker plays, a semitone of slack on each side.
constexpr int SOUNDTRACKER_LOWEST_PERIOD = 107;
constexpr int SOUNDTRACKER_HIGHEST_PERIOD = 907;

bool soundtrackerHeaderFits(const uint8_t* header) {
    if (!isText(header, TITLE_BYTES)) return false;
    for (int i = 0; i < SOUNDTRACKER_SAMPLES; ++i) {
        const uint8_t* s = header + TITLE_BYTES + SAMPLE_HEADER_BYTES * i;
        if (!isText(s, SAMPLE_NAME_BYTES)) return false;
        if (s[24] > 15 || s[25] > 64) return false;  // finetune, volume
    }
    const uint8_t* song = header + TITLE_BYTES + SAMPLE_HEADER_BYTES * SOUNDTRACKER_SAMPLES;
    if (song[0] < 1 || song[0] > ORDER_BYTES) return false;
    for (int i = 0; i < ORDER_BYTES; ++i) {
        if (song[2 + i] >= SOUNDTRACKER_MAX_PATTERNS) return false;
    }
    return true;
}

// Every cell names one of the 15 samples and a period Soundtracker can play, or none.
bool soundtrackerPatternFits(const uint8_t* bytes) {
    for (int k = 0; k < FOUR_CHANNEL_PATTERN_BYTES; k += CELL_BYTES) {
        if (bytes[k] & 0xF0) return false;
        const int period = (bytes[k] & 0x0F) << 8 | bytes[k + 1];
        if (period != 0 &&
            (period < SOUNDTRACKER_LOWEST_PERIOD || period > SOUNDTRACKER_HIGHEST_PERIOD)) {
            return false;
        }
    }
    return true;
}

// Reads the header and every pattern the order table names from the stream's current position
// (just after the header) and checks them all.
bool isSoundtracker(ModuleStream* stream, const uint8_t* header) {
    if (!soundtrackerHeaderFits(header)) return false;
    const uint8_t* orders = header + TITLE_BYTES + SAMPLE_HEADER_BYTES * SOUNDTRACKER_SAMPLES + 2;
    const int patterns = patternsNamed(orders, ORDER_BYTES, false);
    ModLayout layout{SOUNDTRACKER_SAMPLES, 4, false, ""};
    streamSeek(stream, headerBytes(layout), STREAM_SEEK_SET);
    uint8_t pattern[FOUR_CHANNEL_PATTERN_BYTES];
    for (int p = 0; p < patterns; ++p) {
        if (streamRead(pattern, sizeof pattern, stream) != static_cast<int>(sizeof pattern))
            return false;
        if (!soundtrackerPatternFits(pattern)) return false;
    }
    return true;
}

// The layout of the stream's module; false when it is no MOD.
bool detectLayout(ModuleStream* stream, ModLayout* layout) {
    uint8_t header[MAX_HEADER_BYTES] = {};
    streamSeek(stream, 0, STREAM_SEEK_SET);
    const int got = streamRead(header, sizeof header, stream);
    if (got == MAX_HEADER_BYTES && layoutFromSignature(header + SIGNATURE_OFFSET, layout)) {
        return true;
    }
    *layout = {SOUNDTRACKER_SAMPLES, 4, false, "Soundtracker"};
    return got >= headerBytes(*layout) && isSoundtracker(stream, header);
}

// ---- conversion ----

// Amiga periods of the 96 notes at finetune 0, four times the file's units, as the player
// computes them (note 36, C-3, is 4 x 856); falling from note to note.
struct NotePeriods {
    int32_t period[PERIOD_NOTES];
};

NotePeriods notePeriods() {
    NotePeriods table;
    for (int n = 0; n < PERIOD_NOTES; ++n) {
        table.period[n] = static_cast<int32_t>(std::pow(2.0, (132 - n) / 12.0) * 13.375);
    }
    return table;
}

// The note (1..96) whose period is nearest to the file's period; 0 for no period.
uint8_t noteOfPeriod(const NotePeriods& table, int filePeriod) {
    if (filePeriod == 0) return 0;
    const int32_t period = 4 * filePeriod;
    int n = 0;
    while (n < PERIOD_NOTES - 1 && table.period[n] > period) ++n;
    // table.period[n] <= period here (or n is the last note); the note above may be nearer.
    if (n > 0 && table.period[n - 1] - period < period - table.period[n]) --n;
    return static_cast<uint8_t>(n + 1);
}

// ProTracker keeps no memory for these parameters, stops Cxx at 64 and plays on at F00 (see the
// header).
void rewriteProtrackerParameter(uint8_t* effect, uint8_t* param) {
    const uint8_t x = *param >> 4;
    const bool zero = *param == 0;
    switch (*effect) {
        case 0x1:
        case 0x2:
        case 0xA:
            if (zero) *effect = 0;
            break;
        case 0x5:
            if (zero) *effect = 0x3;  // the tone portamento alone
            break;
        case 0x6:
            if (zero) *effect = 0x4;  // the vibrato alone
            break;
        case 0xC:
            if (*param > 64) *param = 64;
            break;
        case 0xF:
            if (zero) *effect = 0;  // not a speed of 0: rows of one tick are no MOD's meaning
            break;
        case 0xE:
            if ((x == 0x1 || x == 0x2 || x == 0xA || x == 0xB) && (*param & 0x0F) == 0) {
                *effect = 0;
                *param = 0;
            }
            break;
        default: break;
    }
}

NoteCell convertCell(const NotePeriods& table, const uint8_t* bytes) {
    NoteCell cell{};
    cell.note = noteOfPeriod(table, (bytes[0] & 0x0F) << 8 | bytes[1]);
    // Five bits of sample number: the fifth is the top nibble's lowest bit.
    cell.instrument = static_cast<uint8_t>((bytes[0] & 0x10) | bytes[2] >> 4);
    uint8_t effect = bytes[2] & 0x0F;
    uint8_t param = bytes[3];
    rewriteProtrackerParameter(&effect, &param);
    cell.shownEffect = effect;
    cell.shownParam = param;
    cell.effect = decodeXmEffect(effect, param);
    return cell;
}

// Where the cell of `row` and `channel` lies in a stored pattern.
int cellOffset(const ModLayout& layout, int row, int channel) {
    if (!layout.pairedPatterns) return (row * layout.channels + channel) * CELL_BYTES;
    const int half = channel / 4;
    return half * FOUR_CHANNEL_PATTERN_BYTES + (row * 4 + channel % 4) * CELL_BYTES;
}

void readSampleHeader(const uint8_t* bytes, Sample* smp) {
    copyName(smp->name, sizeof smp->name, bytes, SAMPLE_NAME_BYTES);
    smp->length = 2u * be16(bytes + 22);
    // A signed nibble in eighths of a semitone; the player counts 128ths.
    smp->finetune = static_cast<int8_t>(((bytes[24] & 0x0F) ^ 8) - 8) * 16;
    smp->volume = bytes[25] > 64 ? 64 : bytes[25];
    smp->panning = SAMPLE_PANNING_NONE;
    smp->bits = 8;
    smp->fileBits = 8;  // ProTracker stores 8-bit samples
    const uint32_t loopLength = 2u * be16(bytes + 28);
    if (loopLength > 2) {
        smp->loopMode = LOOP_FORWARD;
        smp->loopStart = 2u * be16(bytes + 26);
        smp->loopLength = loopLength;
        clampLoop(smp);
    } else {
        smp->loopMode = LOOP_NONE;
        smp->loopLength = smp->length;
    }
}

// One instrument per sample, playing it on every note.
int readInstruments(Song* song, Reader& reader, const uint8_t* headers) {
    song->instruments = static_cast<Instrument*>(calloc(song->instrumentCount, sizeof(Instrument)));
    if (!song->instruments || addSamples(song, song->instrumentCount) < 0)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the instrument table");
    for (int i = 0; i < song->instrumentCount; ++i) {
        Instrument* ins = &song->instruments[i];
        Sample* smp = &song->samples[i];
        ins->firstSample = i;
        ins->sampleCount = 1;
        ins->defaultPanning = -1;
        for (int n = 0; n < NOTE_COUNT; ++n)
            ins->keyboard[n] = {static_cast<int16_t>(i), static_cast<uint8_t>(n)};
        readSampleHeader(headers + SAMPLE_HEADER_BYTES * i, smp);
        memcpy(ins->name, smp->name, sizeof ins->name);
    }
    return 1;
}

// The song fields of the header after the sample headers: length, restart byte, order table.
void readOrders(Song* song, const ModLayout& layout, const uint8_t* bytes) {
    song->songLength = bytes[0];
    if (song->songLength < 1) song->songLength = 1;
    if (song->songLength > ORDER_BYTES) song->songLength = ORDER_BYTES;
    song->restartPosition = bytes[1] < song->songLength ? bytes[1] : 0;
    for (int i = 0; i < ORDER_BYTES; ++i) {
        song->orderTable[i] = layout.pairedPatterns ? bytes[2 + i] >> 1 : bytes[2 + i];
    }
}

int readPatterns(Song* song, Reader& reader, const ModLayout& layout) {
    const int bytesPerPattern = patternBytes(layout);
    song->usedPatternCount = patternsNamed(song->orderTable, song->songLength, false);
    // Every entry of the table counts, as the patterns it names are stored; but a table whose
    // unused entries name more patterns than the file holds is read for the entries in use.
    song->patternCount = patternsNamed(song->orderTable, ORDER_BYTES, false);
    if (static_cast<int64_t>(song->patternCount) * bytesPerPattern > bytesLeft(reader)) {
        song->patternCount = song->usedPatternCount;
    }
    if (static_cast<int64_t>(song->patternCount) * bytesPerPattern > bytesLeft(reader))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside the patterns");
    song->patterns = static_cast<Pattern*>(calloc(song->patternCount, sizeof(Pattern)));
    if (!song->patterns)
        return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for the pattern table");
    const NotePeriods table = notePeriods();
    uint8_t bytes[ROWS * MAX_MOD_CHANNELS * CELL_BYTES];
    for (int p = 0; p < song->patternCount; ++p) {
        if (!readExact(reader, bytes, bytesPerPattern))
            return fail(reader, LoadFailure::TRUNCATED, "the file ends inside the patterns");
        Pattern& pattern = song->patterns[p];
        pattern.rowCount = ROWS;
        pattern.cells = static_cast<NoteCell*>(calloc(ROWS * layout.channels, sizeof(NoteCell)));
        if (!pattern.cells)
            return fail(reader, LoadFailure::OUT_OF_MEMORY, "out of memory for pattern data");
        for (int row = 0; row < ROWS; ++row) {
            for (int c = 0; c < layout.channels; ++c) {
                pattern.cells[row * layout.channels + c] =
                    convertCell(table, bytes + cellOffset(layout, row, c));
            }
        }
    }
    return 1;
}

// Hard left, right, right, left, repeating.
void panChannels(Song* song) {
    for (int c = 0; c < song->channelCount; ++c) {
        const bool left = c % 4 == 0 || c % 4 == 3;
        song->channelPanning[c] = left ? 0 : 255;
    }
}

}  // namespace

bool isMod(ModuleStream* stream) {
    ModLayout layout;
    return detectLayout(stream, &layout);
}

int loadMod(Song* song, ModuleStream* stream, LoadError* error) {
    LoadError ignored;
    Reader reader = openReader(stream, error ? error : &ignored);
    if (!song || !stream) return fail(reader, LoadFailure::DAMAGED, "no song or no stream");
    ModLayout layout;
    if (!detectLayout(stream, &layout))
        return fail(reader, LoadFailure::NOT_A_MODULE, "not a MOD module (no signature)");
    uint8_t header[MAX_HEADER_BYTES];
    seekTo(reader, 0);
    if (!readExact(reader, header, headerBytes(layout)))
        return fail(reader, LoadFailure::TRUNCATED, "the file ends inside its header");

    copyName(song->title, sizeof song->title, header, TITLE_BYTES);
    memcpy(song->tracker, layout.tracker, sizeof song->tracker);
    song->channelCount = static_cast<int16_t>(layout.channels);
    song->instrumentCount = static_cast<int16_t>(layout.sampleCount);
    song->defaultSpeed = 6;
    song->defaultBpm = 125;
    song->initialGlobalVolume = 64;
    song->format = FORMAT_MOD;
    for (int c = 0; c < MAX_SONG_CHANNELS; ++c) song->channelVolume[c] = 64;
    panChannels(song);
    const uint8_t* sampleHeaders = header + TITLE_BYTES;
    readOrders(song, layout, sampleHeaders + SAMPLE_HEADER_BYTES * layout.sampleCount);
    if (!readPatterns(song, reader, layout)) return 0;
    if (!readInstruments(song, reader, sampleHeaders)) return 0;
    // The sample data follows the patterns, sample after sample.
    for (int i = 0; i < song->instrumentCount; ++i) {
        Sample* smp = &song->samples[i];
        if (smp->length == 0) continue;
        if (!readSampleData(song, smp, reader, i, 0, {false, false, false})) return 0;
    }
    return 1;
}
