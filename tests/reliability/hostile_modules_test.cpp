// A catalogue of hostile modules: counts and sizes at 0, at their limit and at their type's
// maximum, truncation at every structure boundary, loops beyond the sample, envelopes with wild
// indices, patterns whose packed data lies, notes, instruments, effects and volume-column values
// out of range, in XM, MOD and S3M files. Each must either fail to load with a reason or load into
// a song that keeps the song rules and then plays for a few seconds without a fault; some are at
// the sizes of real music, megabytes each. The public library takes each one too, through its fuzz
// target's script. The sanitizer builds check that none reads out of bounds or leaks; a hang would
// stop the test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "audio/scheduler.h"
#include "tests/fuzz/api_target.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/fuzz/it_seeds.h"
#include "tests/fuzz/real_sized_songs.h"
#include "tests/reliability/build_kind.h"
#include "tests/support/load_bytes.h"
#include "tests/support/mod_writer.h"
#include "tests/support/s3m_writer.h"
#include "module/xm_writer.h"

namespace {

enum class Outcome { Fails, Loads, Either };

struct HostileCase {
    std::string name;
    std::vector<uint8_t> bytes;
    Outcome outcome = Outcome::Either;
};

using Catalogue = std::vector<HostileCase>;

constexpr int CHANNELS = 4;
constexpr int ROWS = 16;
constexpr size_t HEADER_SIZE = 276;
constexpr size_t FIRST_PATTERN = 60 + HEADER_SIZE;
constexpr size_t INSTRUMENT_HEADER = 263;
constexpr size_t SAMPLE_HEADER = 40;
// Blocks of 884 frames (20 ms at 44100) that a loaded case plays.
constexpr int PLAY_BLOCKS = 150;

XmCell& cell(XmSong& xm, int pattern, int row, int channel) {
    return cellAt(xm.patterns[pattern], xm.channels, row, channel);
}

// A song that uses every structure once: two patterns played 0, 1, 0; an 8-bit forward-looping
// instrument with volume and panning envelopes; a 16-bit instrument with two samples, one
// ping-pong. Notes on every channel, a key-off, a few effects. In version 1.04's layout unless
// told otherwise.
XmSong richSong(uint16_t version = 0x0104) {
    XmSong xm = makeXmSong(CHANNELS, 0);
    xm.version = version;
    xm.patterns = {makePattern(ROWS, CHANNELS), makePattern(ROWS, CHANNELS)};
    xm.orders = {0, 1, 0};
    xm.speed = 3;
    XmSample a = makeSample(sineFrames(64, 16, 100), false);
    a.loopType = 1;
    a.loopStart = 16;
    a.loopLength = 32;
    XmInstrument first = makeInstrument(a);
    first.volumeEnvelope = {{0, 64}, {4, 32}, {8, 48}, {12, 0}};
    first.volumeFlags = 1 | 2 | 4;
    first.volumeSustain = 1;
    first.volumeLoopStart = 1;
    first.volumeLoopEnd = 2;
    first.panningEnvelope = {{0, 0}, {6, 64}};
    first.panningFlags = 1;
    first.fadeout = 512;
    first.vibratoDepth = 4;
    first.vibratoRate = 8;
    XmSample b = makeSample(sineFrames(48, 24, 9000), true);
    b.loopType = 2;
    b.loopStart = 8;
    b.loopLength = 30;
    XmInstrument second = makeInstrument(b);
    second.samples.push_back(makeSample(sineFrames(40, 20, 7000), true));
    for (int n = 48; n < 96; ++n) second.noteSampleMap[n] = 1;
    xm.instruments = {first, second};
    for (int c = 0; c < CHANNELS; ++c) {
        cell(xm, 0, 0, c) = {uint8_t(37 + 7 * c), uint8_t(1 + c % 2), 0, 0, 0};
        cell(xm, 1, 2, c) = {uint8_t(60 - 5 * c), uint8_t(2 - c % 2), 0x40, 0x04, 0x44};
    }
    cell(xm, 0, 8, 1) = {97, 0, 0, 0, 0};
    cell(xm, 0, 10, 2) = {0, 0, 0, 0x0A, 0x0F};
    cell(xm, 1, 12, 3) = {0, 0, 0, 0x01, 0x10};
    return xm;
}

void putU8(std::vector<uint8_t>& bytes, size_t at, unsigned value) {
    bytes.at(at) = static_cast<uint8_t>(value);
}
void putU16(std::vector<uint8_t>& bytes, size_t at, unsigned value) {
    putU8(bytes, at, value & 0xFF);
    putU8(bytes, at + 1, (value >> 8) & 0xFF);
}
void putU32(std::vector<uint8_t>& bytes, size_t at, uint32_t value) {
    putU16(bytes, at, value & 0xFFFF);
    putU16(bytes, at + 2, value >> 16);
}

// Offsets inside an instrument header and a sample header.
constexpr size_t SAMPLE_COUNT_AT = 27;
constexpr size_t NOTE_MAP_AT = 33;
constexpr size_t VOLUME_POINTS_AT = 129;
constexpr size_t PANNING_POINTS_AT = 177;
constexpr size_t POINT_COUNTS_AT = 225;  // volume count, panning count, then the indices
constexpr size_t ENVELOPE_FLAGS_AT = 233;
constexpr size_t VIBRATO_AT = 235;
constexpr size_t FADEOUT_AT = 239;

struct Builder {
    XmSong xm;
    XmLayout layout;  // where writeXm put each structure of base
    std::vector<uint8_t> base;
    Catalogue cases;

    explicit Builder(uint16_t version = 0x0104)
        : xm(richSong(version)), base(writeXm(xm, &layout)) {}

    size_t instrument(int i) const { return layout.instruments.at(i); }
    size_t sampleHeader(int i, int j) const {
        return instrument(i) + INSTRUMENT_HEADER + SAMPLE_HEADER * j;
    }

    void add(std::string name, std::vector<uint8_t> bytes, Outcome outcome = Outcome::Either) {
        cases.push_back({std::move(name), std::move(bytes), outcome});
    }
    void addU16(const std::string& name, size_t at, unsigned value,
                Outcome outcome = Outcome::Either) {
        std::vector<uint8_t> bytes = base;
        putU16(bytes, at, value);
        add(name + "=" + std::to_string(value), bytes, outcome);
    }
    void addU32(const std::string& name, size_t at, uint32_t value,
                Outcome outcome = Outcome::Either) {
        std::vector<uint8_t> bytes = base;
        putU32(bytes, at, value);
        add(name + "=" + std::to_string(value), bytes, outcome);
    }
    void addU8(const std::string& name, size_t at, unsigned value,
               Outcome outcome = Outcome::Either) {
        std::vector<uint8_t> bytes = base;
        putU8(bytes, at, value);
        add(name + "=" + std::to_string(value), bytes, outcome);
    }
    void addSong(const std::string& name, const XmSong& song, Outcome outcome = Outcome::Either) {
        add(name, writeXm(song), outcome);
    }
};

// ---- the catalogue, by kind ----

Catalogue headerCounts() {
    Builder b;
    b.addU32("header size", 60, 0);
    b.addU32("header size", 60, 20);
    b.addU32("header size", 60, static_cast<uint32_t>(b.base.size()));
    b.addU32("header size", 60, 0x7FFFFFFF, Outcome::Fails);
    b.addU32("header size", 60, 0xFFFFFFFF, Outcome::Fails);
    for (unsigned v : {0u, 1u, 255u, 256u, 257u, 0x7FFFu, 0x8000u, 0xFFFFu})
        b.addU16("song length", 64, v);
    for (unsigned v : {0u, 2u, 3u, 255u, 0x8000u, 0xFFFFu})
        b.addU16("restart", 66, v, Outcome::Loads);
    b.addU16("channels", 68, 0, Outcome::Fails);
    b.addU16("channels", 68, 33, Outcome::Fails);
    b.addU16("channels", 68, 0x8000, Outcome::Fails);
    b.addU16("channels", 68, 0xFFFF, Outcome::Fails);
    for (unsigned v : {1u, 3u, 5u, 32u}) b.addU16("channels", 68, v);
    for (unsigned v : {0u, 1u, 3u, 256u, 0xFFFFu}) b.addU16("patterns", 70, v);
    for (unsigned v : {0u, 1u, 3u, 128u, 129u, 0x7FFFu, 0x8000u, 0xFFFFu})
        b.addU16("instruments", 72, v);
    for (unsigned v : {0u, 2u, 0xFFFFu}) b.addU16("flags", 74, v, Outcome::Loads);
    for (unsigned v : {0u, 1u, 31u, 32u, 255u, 0x8000u, 0xFFFFu})
        b.addU16("speed", 76, v, Outcome::Loads);
    for (unsigned v : {0u, 1u, 31u, 32u, 255u, 256u, 0x7FFFu, 0x8000u, 0xFFFFu}) {
        b.addU16("bpm", 78, v, Outcome::Loads);
    }
    // Every order entry at its maximum: 256 orders of pattern 255, made up as empty patterns.
    std::vector<uint8_t> orders = b.base;
    putU16(orders, 64, 256);
    memset(orders.data() + 80, 0xFF, 256);
    b.add("orders all 255", orders, Outcome::Loads);
    return b.cases;
}

Catalogue patternCounts() {
    Builder b;
    size_t first = b.layout.patterns[0];
    for (unsigned rows : {0u, 1u, 15u, 17u, 256u, 0xFFFFu})
        b.addU16("pattern 0 rows", first + 5, rows);
    for (unsigned packed : {0u, 1u, 0xFFFFu}) b.addU16("pattern 0 packed size", first + 7, packed);
    b.addU32("pattern 0 header length", first, 0xFFFFFFFF, Outcome::Loads);
    for (int rows : {0, 1, 256, 0xFFFF}) {
        for (XmPacking packing : {XmPacking::Empty, XmPacking::Mask}) {
            XmSong xm = b.xm;
            xm.patterns[1] = makePattern(rows, CHANNELS);
            xm.patterns[1].packing = packing;
            // 65535 rows of masks are 262140 bytes, more than the 16-bit packed size can say:
            // the size wraps, and the bytes past it are read as the instruments.
            bool sizeWraps = rows == 0xFFFF && packing == XmPacking::Mask;
            b.addSong("pattern 1 of " + std::to_string(rows) + " rows" +
                          (packing == XmPacking::Empty ? " stored empty" : ""),
                      xm, sizeWraps ? Outcome::Either : Outcome::Loads);
        }
    }
    // Every pattern of the order table at 0 rows.
    XmSong silent = b.xm;
    for (XmPattern& p : silent.patterns) p = makePattern(0, CHANNELS);
    b.addSong("all patterns of 0 rows", silent, Outcome::Loads);
    return b.cases;
}

// Pattern data that does not say what the header says.
Catalogue lyingPatterns() {
    Builder b;
    size_t data = b.layout.patterns[0] + 9;
    size_t dataEnd = b.layout.patterns[1];
    // Packed size 0 while data follows: the data is read as the next structures.
    b.addU16("packed size 0 before data", data - 2, 0);
    // Data shorter than its packed size: the size takes in the next header's first bytes, and
    // what follows is misread.
    for (size_t missing : {1u, 2u, 5u, 17u}) {
        std::vector<uint8_t> bytes = b.base;
        bytes.erase(bytes.begin() + static_cast<long>(dataEnd - missing),
                    bytes.begin() + static_cast<long>(dataEnd));
        b.add("pattern 0 data " + std::to_string(missing) + " bytes short", bytes);
    }
    // Data longer than the rows need: the rest is read as the next pattern's header.
    std::vector<uint8_t> longer = b.base;
    longer.insert(longer.begin() + static_cast<long>(dataEnd), {0x9F, 1, 2, 3, 4, 5});
    b.add("pattern 0 data 6 bytes long", longer);
    // Mask bytes that ask for every field, with every field at its maximum.
    std::vector<uint8_t> masks = b.base;
    for (size_t k = data; k < dataEnd; ++k) masks[k] = 0xFF;
    b.add("pattern 0 all 0xFF", masks);
    // Plain cells (bit 7 clear) where masks were.
    std::vector<uint8_t> plain = b.base;
    for (size_t k = data; k < dataEnd; ++k) plain[k] = static_cast<uint8_t>(k & 0x7F);
    b.add("pattern 0 plain bytes", plain);

    // Data covering fewer rows than the header (the rest stays empty) or more (the rest is
    // skipped); header lengths shorter than the fields, padded, or reaching past the file.
    for (int stored : {0, 1, ROWS - 1, ROWS + 3}) {
        XmSong xm = b.xm;
        xm.patterns[0].storedRows = stored;
        b.addSong("pattern 0 data of " + std::to_string(stored) + " rows", xm, Outcome::Loads);
    }
    for (uint32_t length : {1u, 8u, 10u, 300u}) {
        XmSong xm = b.xm;
        xm.patterns[1].headerLength = length;
        b.addSong("pattern 1 header length " + std::to_string(length), xm, Outcome::Loads);
    }
    b.addU32("pattern 1 header length", b.layout.patterns[1], 0, Outcome::Loads);
    b.addU32("pattern 1 header length", b.layout.patterns[1], 0x7FFFFFFF, Outcome::Loads);

    // The same lies in the last pattern of a song without instruments, with bytes to spare after
    // it: the packed size bounds the cells, and the song loads and plays them.
    XmSong bare = b.xm;
    bare.instruments.clear();
    std::vector<uint8_t> last = writeXm(bare);
    size_t lastData = b.layout.patterns[1] + 9;
    size_t lastEnd = last.size();
    last.insert(last.end(), 6 * CHANNELS * ROWS, 0x3D);
    b.add("last pattern followed by spare bytes", last, Outcome::Loads);
    std::vector<uint8_t> lastMasks = last;
    for (size_t k = lastData; k < lastEnd; ++k) lastMasks[k] = 0xFF;
    b.add("last pattern all 0xFF", lastMasks, Outcome::Loads);
    std::vector<uint8_t> lastPlain = last;
    for (size_t k = lastData; k < lastEnd; ++k) lastPlain[k] = static_cast<uint8_t>((k * 7) & 0x7F);
    b.add("last pattern plain bytes", lastPlain, Outcome::Loads);
    std::vector<uint8_t> lastEmpty = last;
    putU16(lastEmpty, lastData - 2, 0);
    b.add("last pattern packed size 0 before data", lastEmpty, Outcome::Loads);
    return b.cases;
}

Catalogue instrumentCounts() {
    Builder b;
    size_t first = b.instrument(0);
    for (uint32_t size : {0u, 4u, 28u, 29u, 33u, 262u, 264u, 0x7FFFFFFFu, 0xFFFFFFFFu}) {
        b.addU32("instrument 0 header size", first, size);
    }
    for (unsigned count : {0u, 2u, 16u})
        b.addU16("instrument 0 samples", first + SAMPLE_COUNT_AT, count);
    for (unsigned count : {17u, 0x8000u, 0xFFFFu}) {
        b.addU16("instrument 0 samples", first + SAMPLE_COUNT_AT, count, Outcome::Fails);
    }
    XmSong full = b.xm;
    full.instruments[1].samples.assign(16, makeSample(sineFrames(8, 8, 3000), true));
    b.addSong("16 samples", full, Outcome::Loads);
    XmSong many = b.xm;
    many.instruments.assign(128, b.xm.instruments[0]);
    for (int r = 0; r < ROWS; ++r)
        cell(many, 0, r, r % CHANNELS) = {uint8_t(1 + 6 * r), uint8_t(128 - r), 0, 0, 0};
    b.addSong("128 instruments", many, Outcome::Loads);
    // The note-to-sample map naming slots the instrument does not have.
    for (unsigned slot : {1u, 15u, 16u, 255u}) {
        std::vector<uint8_t> bytes = b.base;
        memset(bytes.data() + first + NOTE_MAP_AT, static_cast<int>(slot), 96);
        b.add("note map slot " + std::to_string(slot), bytes, Outcome::Loads);
    }
    for (unsigned v : {0u, 255u}) {
        for (size_t k = 0; k < 4; ++k)
            b.addU8("vibrato byte " + std::to_string(k), first + VIBRATO_AT + k, v, Outcome::Loads);
    }
    for (unsigned v : {0u, 1u, 0x7FFFu, 0x8000u, 0xFFFFu})
        b.addU16("fadeout", first + FADEOUT_AT, v, Outcome::Loads);
    return b.cases;
}

Catalogue envelopes() {
    Builder b;
    size_t first = b.instrument(0);
    for (size_t envelope : {0u, 1u}) {
        std::string which = envelope == 0 ? "volume" : "panning";
        size_t count = first + POINT_COUNTS_AT + envelope;
        size_t indices =
            first + POINT_COUNTS_AT + 2 + 3 * envelope;  // sustain, loop start, loop end
        size_t flags = first + ENVELOPE_FLAGS_AT + envelope;
        size_t points = first + (envelope == 0 ? VOLUME_POINTS_AT : PANNING_POINTS_AT);
        for (unsigned v : {0u, 1u, 2u, 12u, 13u, 20u, 255u})
            b.addU8(which + " points", count, v, Outcome::Loads);
        for (unsigned v : {0u, 3u, 4u, 11u, 12u, 255u}) {
            for (size_t k = 0; k < 3; ++k) {
                std::vector<uint8_t> bytes = b.base;
                putU8(bytes, flags, 7);
                putU8(bytes, indices + k, v);
                b.add(which + " index " + std::to_string(k) + "=" + std::to_string(v), bytes,
                      Outcome::Loads);
            }
        }
        std::vector<uint8_t> backwards = b.base;
        putU8(backwards, flags, 7);
        putU8(backwards, indices + 1, 3);
        putU8(backwards, indices + 2, 0);
        b.add(which + " loop end before loop start", backwards, Outcome::Loads);
        b.addU8(which + " flags", flags, 0xFF, Outcome::Loads);
        std::vector<uint8_t> wild = b.base;
        putU8(wild, count, 12);
        putU8(wild, flags, 7);
        for (size_t k = 0; k < 12; ++k) {
            putU16(wild, points + 4 * k, static_cast<unsigned>(k == 0 ? 0 : 0xFFF0 + k));
            putU16(wild, points + 4 * k + 2, 0xFFFF);
        }
        b.add(which + " points at 0xFFFF", wild, Outcome::Loads);
        std::vector<uint8_t> flat = b.base;
        for (size_t k = 0; k < 12; ++k) putU16(flat, points + 4 * k, 7);
        b.add(which + " points all at one position", flat, Outcome::Loads);
    }
    return b.cases;
}

Catalogue sampleSizes() {
    Builder b;
    for (int j = 0; j < 2; ++j) {
        size_t header = b.sampleHeader(1, j);
        std::string name = "instrument 1 sample " + std::to_string(j) + " ";
        for (uint32_t v : {0u, 1u, 2u, 3u, 95u, 0x7FFFFFFFu, 0xFFFFFFFFu})
            b.addU32(name + "length", header, v);
        // Loop fields in bytes around the sample's end (96 and 80 bytes) and at their maximum,
        // for both loop kinds and both widths.
        for (uint8_t type : {1, 2, 0x11, 0x12}) {
            for (uint32_t start : {0u, 1u, 79u, 95u, 96u, 0xFFFFFFFFu}) {
                for (uint32_t length : {0u, 1u, 2u, 96u, 0xFFFFFFFFu}) {
                    std::vector<uint8_t> bytes = b.base;
                    putU32(bytes, header + 4, start);
                    putU32(bytes, header + 8, length);
                    putU8(bytes, header + 14, type);
                    b.add(name + "type " + std::to_string(type) + " loop " + std::to_string(start) +
                              "+" + std::to_string(length),
                          bytes, Outcome::Loads);
                }
            }
        }
        b.addU8(name + "type", header + 14, 0xFF, Outcome::Loads);
        b.addU8(name + "volume", header + 12, 255, Outcome::Loads);
        b.addU8(name + "finetune", header + 13, 0x80, Outcome::Loads);
        b.addU8(name + "finetune", header + 13, 0x7F, Outcome::Loads);
        b.addU8(name + "panning", header + 15, 255, Outcome::Loads);
        b.addU8(name + "relative note", header + 16, 0x80, Outcome::Loads);
        b.addU8(name + "relative note", header + 16, 0x7F, Outcome::Loads);
    }
    return b.cases;
}

// The file cut at, just before and just after every structure boundary: it fails inside the header
// and loads from there on, with what the file holds.
void addTruncations(Builder& b, const std::string& prefix) {
    std::vector<size_t> boundaries = {0, 17, 37, 38, 58, 60, 64, 80, FIRST_PATTERN};
    size_t patternHeader = b.xm.version == 0x0102 ? 8 : 9;
    for (size_t p : b.layout.patterns) {
        boundaries.push_back(p);
        boundaries.push_back(p + patternHeader);
    }
    for (size_t i = 0; i < b.layout.instruments.size(); ++i) {
        size_t start = b.instrument(static_cast<int>(i));
        for (size_t offset : {size_t{4}, SAMPLE_COUNT_AT, size_t{29}, NOTE_MAP_AT, VOLUME_POINTS_AT,
                              PANNING_POINTS_AT, POINT_COUNTS_AT, FADEOUT_AT, INSTRUMENT_HEADER}) {
            boundaries.push_back(start + offset);
        }
        int samples = static_cast<int>(b.xm.instruments[i].samples.size());
        for (int j = 0; j <= samples; ++j)
            boundaries.push_back(b.sampleHeader(static_cast<int>(i), j));
        boundaries.push_back(b.layout.sampleData[i]);
    }
    boundaries.push_back(b.layout.end);
    for (size_t at : boundaries) {
        for (size_t cut : {at - 1, at, at + 1}) {
            if (cut > b.base.size() || (at == 0 && cut != 0)) continue;
            std::vector<uint8_t> bytes(b.base.begin(), b.base.begin() + static_cast<long>(cut));
            b.add(prefix + "cut at " + std::to_string(cut), bytes,
                  cut >= FIRST_PATTERN ? Outcome::Loads : Outcome::Fails);
        }
    }
}

Catalogue truncations() {
    Builder b;
    addTruncations(b, "");
    return b.cases;
}

// Versions 1.02 and 1.03: instrument headers first, then the patterns, then the sample data. Cut
// at every boundary, with the pattern header's fields and the instrument header size at their
// extremes.
Catalogue olderLayouts() {
    Catalogue cases;
    for (uint16_t version : {0x0102, 0x0103}) {
        Builder b(version);
        std::string prefix = version == 0x0102 ? "1.02 " : "1.03 ";
        b.add(prefix + "as written", b.base, Outcome::Loads);
        addTruncations(b, prefix);
        size_t pattern = b.layout.patterns[1];
        size_t rowsAt = pattern + 5;
        size_t packedAt = version == 0x0102 ? pattern + 6 : pattern + 7;
        for (unsigned rows : {0u, 1u, 255u}) {
            std::vector<uint8_t> bytes = b.base;
            putU8(bytes, rowsAt, rows);
            b.add(prefix + "pattern 1 rows byte " + std::to_string(rows), bytes, Outcome::Loads);
        }
        for (unsigned packed : {0u, 1u, 0xFFFFu})
            b.addU16(prefix + "pattern 1 packed size", packedAt, packed);
        for (uint32_t length : {0u, 7u, 9u, 0xFFFFFFFFu})
            b.addU32(prefix + "pattern 1 header length", pattern, length);
        for (uint32_t size : {0u, 4u, 29u, 241u, 264u, 0xFFFFFFFFu})
            b.addU32(prefix + "instrument 1 header size", b.instrument(1), size);
        cases.insert(cases.end(), b.cases.begin(), b.cases.end());
    }
    return cases;
}

// Every note value and every instrument number, on every channel, with instruments that have
// extreme relative notes and finetunes so the pitch leaves the usual range.
Catalogue notesAndInstruments() {
    Builder b;
    for (int8_t relative : {0, -128, 127}) {
        XmSong xm = b.xm;
        for (XmInstrument& ins : xm.instruments) {
            for (XmSample& s : ins.samples) {
                s.relativeNote = relative;
                s.finetune = relative;
            }
        }
        xm.patterns[0] = makePattern(64, CHANNELS);
        for (int k = 0; k < 256; ++k) {
            cell(xm, 0, k / CHANNELS, k % CHANNELS) = {uint8_t(k), uint8_t(255 - k), 0, 0, 0};
        }
        for (int flags : {0, 1}) {
            xm.flags = static_cast<uint16_t>(flags);
            b.addSong("notes 0..255 relative " + std::to_string(relative) +
                          (flags ? " linear" : " amiga"),
                      xm, Outcome::Loads);
        }
    }
    return b.cases;
}

// Every effect byte with small, middle and maximal parameters, and every volume-column byte.
Catalogue effects() {
    Builder b;
    const uint8_t params[CHANNELS] = {0x00, 0x0F, 0xF0, 0xFF};
    for (int effect = 0; effect < 256; ++effect) {
        XmSong xm = b.xm;
        xm.patterns[0] = makePattern(4, CHANNELS);
        for (int r = 0; r < 4; ++r) {
            for (int c = 0; c < CHANNELS; ++c) {
                uint8_t note =
                    r == 0 ? uint8_t(40 + c) : (r == 2 ? uint8_t(1 + 31 * c) : uint8_t(0));
                cell(xm, 0, r, c) = {note, uint8_t(r == 0 ? 1 + c % 2 : 0), 0, uint8_t(effect),
                                     uint8_t(params[(c + r) % CHANNELS])};
            }
        }
        b.addSong("effect " + std::to_string(effect), xm, Outcome::Loads);
    }
    XmSong column = b.xm;
    column.patterns[0] = makePattern(64, CHANNELS);
    for (int k = 0; k < 256; ++k) {
        cell(column, 0, k / CHANNELS, k % CHANNELS) = {
            uint8_t(k % 7 == 0 ? 49 : 0), uint8_t(k % 7 == 0 ? 1 : 0), uint8_t(k), 0, 0};
    }
    b.addSong("volume column 0..255", column, Outcome::Loads);
    return b.cases;
}

// Byte offset of the first instrument header in `xm`'s file.
size_t instrumentsStart(const XmSong& xm) {
    XmSong bare = xm;
    bare.instruments.clear();
    bare.instrumentCountOverride = static_cast<int>(xm.instruments.size());
    return writeXm(bare).size();
}

std::vector<uint8_t> cutInHalf(std::vector<uint8_t> bytes) {
    bytes.resize(bytes.size() / 2);
    return bytes;
}

// Modules at the sizes of real music (real_sized_songs.h), whole and damaged where their size
// matters (the largest MOD among them): a million-frame sample whose length or loop lies or whose
// data is cut, the largest patterns stored empty in a full order, every voice on one loud
// million-frame sample at once.
Catalogue realSized() {
    Builder b;
    for (const RealSizedSong& song : realSizedSongs()) {
        std::vector<uint8_t> bytes = writeXm(song.make());
        b.add(std::string(song.name) + " cut in half", cutInHalf(bytes));
        b.add(song.name, std::move(bytes), Outcome::Loads);
    }
    std::vector<uint8_t> mod = writeMod(largestModSong());
    b.add("largest mod cut in half", cutInHalf(mod));
    b.add("largest mod", std::move(mod), Outcome::Loads);

    // The first instrument holds one 16-bit sample of 2^20 frames, its data right after its header.
    XmSong samples = longSamplesSong();
    b.base = writeXm(samples);
    const size_t header = instrumentsStart(samples) + INSTRUMENT_HEADER;
    const uint32_t lengthBytes = 2u << 20;
    b.addU32("long sample length", header, 0xFFFFFFFF);
    b.addU32("long sample length", header, lengthBytes + 2);
    b.add("long sample data cut",
          std::vector<uint8_t>(b.base.begin(),
                               b.base.begin() + static_cast<long>(header + lengthBytes)));
    const uint32_t loops[][2] = {{lengthBytes - 2, 2},
                                 {0, lengthBytes + 2},
                                 {lengthBytes, 2},
                                 {lengthBytes - 2, 0xFFFFFFFE}};
    for (uint8_t type : {1, 2}) {
        for (const auto& loop : loops) {
            std::vector<uint8_t> bytes = b.base;
            putU32(bytes, header + 4, loop[0]);
            putU32(bytes, header + 8, loop[1]);
            putU8(bytes, header + 14, type | 0x10u);
            b.add("long sample type " + std::to_string(type) + " loop " + std::to_string(loop[0]) +
                      "+" + std::to_string(loop[1]),
                  bytes, Outcome::Loads);
        }
    }

    XmSong empty = widestLongestSong();
    for (XmPattern& pattern : empty.patterns) pattern.packing = XmPacking::Empty;
    b.addSong("256 patterns of 256 rows stored empty", empty, Outcome::Loads);
    XmSong last = widestLongestSong();
    last.orders.assign(256, 255);
    b.addSong("256 orders of the last pattern", last, Outcome::Loads);

    // Every voice at full volume on the same loud sample, with the mixer's ramps and its loop.
    XmSong loud = makeXmSong(32, 1);
    XmSample sample = makeSample(loudFrames(1u << 20, 441, true), true);
    sample.loopType = 1;
    sample.loopLength = 1u << 20;
    loud.instruments.push_back(makeInstrument(sample));
    for (int c = 0; c < 32; ++c) {
        cellAt(loud.patterns[0], 32, 0, c) = {uint8_t(49 + c), 1, 0x50, 0x0C, 0xFF};
        cellAt(loud.patterns[0], 32, 32, c) = {uint8_t(96 - c), 1, 0x50, 0x10, 0x40};
    }
    b.addSong("32 voices on one loud million-frame sample", loud, Outcome::Loads);
    return b.cases;
}

// MOD files: every effect with small, middle and maximal parameters on notes at the period
// extremes, every sample number, every channel count, wild header fields and truncation.
ModSong richMod() {
    ModSong mod = makeModSong(CHANNELS, 2);
    mod.orders = {0, 1, 0};
    mod.samples[0] = makeModSample(squareWave(64, 16, 100), 8, 16);
    mod.samples[1] = makeModSample(squareWave(30, 10, 60), 0, 0);
    return mod;
}

Catalogue modFiles() {
    Catalogue cases;
    auto addMod = [&cases](std::string name, const ModSong& mod, Outcome outcome) {
        cases.push_back({std::move(name), writeMod(mod), outcome});
    };
    const uint8_t params[CHANNELS] = {0x00, 0x0F, 0xF0, 0xFF};
    const uint16_t periods[CHANNELS] = {1, 113, 856, 4095};
    for (int effect = 0; effect < 16; ++effect) {
        ModSong mod = richMod();
        for (int r = 0; r < 64; ++r) {
            for (int c = 0; c < CHANNELS; ++c) {
                modCellAt(mod, r % 2, r, c) = {uint16_t(r % 3 == 0 ? periods[(r + c) % 4] : 0),
                                               uint8_t(r % 5), uint8_t(effect),
                                               params[(c + r) % CHANNELS]};
            }
        }
        addMod("mod effect " + std::to_string(effect), mod, Outcome::Loads);
    }
    ModSong samples = richMod();
    for (int r = 0; r < 32; ++r) modCellAt(samples, 0, r, r % CHANNELS) = {428, uint8_t(r), 0, 0};
    addMod("mod sample numbers 0..31", samples, Outcome::Loads);
    for (int channels = 1; channels <= 32; ++channels) {
        ModSong mod = makeModSong(channels, 1);
        mod.samples[0] = makeModSample(squareWave(64, 16, 100), 0, 32);
        for (int c = 0; c < channels; ++c)
            modCellAt(mod, 0, c, c) = {uint16_t(100 + 20 * c), 1, 0, 0};
        addMod("mod channels " + std::to_string(channels), mod, Outcome::Loads);
    }
    ModSong wild = richMod();
    wild.songLengthOverride = 255;
    wild.restart = 255;
    for (ModSample& s : wild.samples) {
        s.lengthWordsOverride = 0xFFFF;
        s.loopStartWords = 0xFFFF;
        s.loopLengthWords = 0xFFFF;
        s.volume = 0xFF;
        s.finetune = 0xFF;
    }
    addMod("mod wild header", wild, Outcome::Loads);
    const std::vector<uint8_t> whole = writeMod(richMod());
    for (size_t length = 0; length < whole.size(); length += 97) {
        cases.push_back({"mod cut at " + std::to_string(length),
                         std::vector<uint8_t>(whole.begin(), whole.begin() + length),
                         Outcome::Either});
    }
    return cases;
}

S3mSong richS3m() {
    S3mSong s3m = makeS3mSong(CHANNELS, 2);
    s3m.orders = {0, 254, 1, 0, 255};
    s3m.samples.push_back(makeS3mSample(s3mSquare(64, 16, 100), 8, 40));
    S3mSample wide = makeS3mSample(s3mSquare(30, 10, 20000), 0, 0);
    wide.sixteenBit = true;
    wide.right = wide.data;
    s3m.samples.push_back(wide);
    return s3m;
}

// S3M files: every command letter (and the bytes beyond Z) with extreme parameters, notes,
// instruments and volumes of every byte, every channel setting, wild headers and samples, order
// lists of markers only, and cuts all through a file.
Catalogue s3mFiles() {
    Catalogue cases;
    auto addS3m = [&cases](std::string name, const S3mSong& s3m, Outcome outcome) {
        cases.push_back({std::move(name), writeS3m(s3m), outcome});
    };
    const uint8_t params[CHANNELS] = {0x00, 0x0F, 0xF0, 0xFF};
    for (int command = 0; command <= 27; ++command) {
        S3mSong s3m = richS3m();
        s3m.trackerVersion = command % 2 ? 0x1320 : 0x3214;
        for (int r = 0; r < S3M_ROWS; ++r) {
            for (int c = 0; c < CHANNELS; ++c) {
                s3mCellAt(s3m, r % 2, r, c) = {uint8_t(r % 3 == 0 ? r * 4 : 255), uint8_t(r % 4),
                                               uint8_t(r * 4 + c), uint8_t(command),
                                               params[(c + r) % CHANNELS]};
            }
        }
        addS3m("s3m command " + std::to_string(command), s3m, Outcome::Loads);
    }
    S3mSong bytes = richS3m();
    for (int r = 0; r < S3M_ROWS; ++r) {
        for (int c = 0; c < CHANNELS; ++c) {
            const int v = (r * CHANNELS + c) * 255 / (S3M_ROWS * CHANNELS - 1);
            s3mCellAt(bytes, 0, r, c) = {uint8_t(v), uint8_t(255 - v), uint8_t(v), 0, 0};
        }
    }
    addS3m("s3m note, instrument and volume bytes", bytes, Outcome::Loads);
    S3mSong settings = makeS3mSong(32, 1);
    settings.samples = richS3m().samples;
    for (int c = 0; c < 32; ++c) {
        settings.channelSettings[c] = uint8_t(c * 8 + 7);
        s3mCellAt(settings, 0, c, c) = {s3mNote(4, c % 12), 1, 64, 0, 0};
    }
    settings.panTable = true;
    for (int c = 0; c < 32; ++c) settings.pans[c] = uint8_t(c * 8);
    addS3m("s3m every channel setting", settings, Outcome::Loads);
    S3mSong wild = richS3m();
    wild.speed = 255;
    wild.tempo = 0;
    wild.globalVolume = 255;
    wild.masterVolume = 255;
    wild.flags = 0xFFFF;
    wild.sampleFormat = 0xFFFF;
    for (S3mSample& smp : wild.samples) {
        smp.lengthOverride = 0xFFFFFFFF;
        smp.loop = true;
        smp.loopStart = 0xFFFFFFF0;
        smp.loopEnd = 0xFFFFFFFF;
        smp.volume = 255;
        smp.middleC = 0xFFFFFFFF;
    }
    S3mSample adlib;
    adlib.type = 7;
    wild.samples.push_back(adlib);
    addS3m("s3m wild header and samples", wild, Outcome::Loads);
    for (const std::vector<uint8_t>& orders :
         {std::vector<uint8_t>{255, 255}, std::vector<uint8_t>{254, 254, 254},
          std::vector<uint8_t>{253, 7, 254}}) {
        S3mSong markers = richS3m();
        markers.orders = orders;
        addS3m("s3m orders " + std::to_string(orders[0]) + "," + std::to_string(orders[1]), markers,
               Outcome::Loads);
    }
    const std::vector<uint8_t> whole = writeS3m(richS3m());
    for (size_t length = 0; length < whole.size(); length += 37) {
        cases.push_back({"s3m cut at " + std::to_string(length),
                         std::vector<uint8_t>(whole.begin(), whole.begin() + length),
                         Outcome::Either});
    }
    return cases;
}

// IT files: every seed cut every 61 bytes; wild counts, offsets, row counts, envelopes and sample
// headers; every effect letter and volume-column byte with extreme parameters on notes of every
// kind; compressed data that lies.
ItSong richIt() {
    ItSong song = makeItSong(CHANNELS, 2);
    song.orders = {0, 254, 1, 0, 255};
    ItSample a = makeItSample(std::vector<int16_t>(64, 50), true);
    ItSample b = makeItSample(std::vector<int16_t>(300, -70), true);
    b.sixteenBit = true;
    b.compressed = true;
    b.sustain = true;
    b.sustainStart = 10;
    b.sustainEnd = 40;
    song.samples = {a, b};
    ItInstrument ins = makeItInstrument(1);
    ins.newNoteAction = 1;
    ins.duplicateCheck = 1;
    ins.fadeout = 100;
    ins.filterCutoff = 50;
    ins.volumeEnvelope.flags = 1 | 2 | 4;
    ins.volumeEnvelope.points = {{64, 0}, {10, 5}, {40, 9}};
    ins.pitchEnvelope.flags = 1 | 128;
    ins.pitchEnvelope.points = {{-32, 0}, {32, 7}};
    song.instruments = {ins, makeItInstrument(2)};
    return song;
}

Catalogue itFiles() {
    Catalogue cases;
    auto addIt = [&cases](std::string name, const ItSong& song, Outcome outcome) {
        cases.push_back({std::move(name), writeIt(song), outcome});
    };
    for (const ItSeed& seed : itSeeds()) {
        cases.push_back({seed.name, seed.bytes, Outcome::Loads});
        for (size_t length = 0; length < seed.bytes.size(); length += 61) {
            cases.push_back({seed.name + " cut at " + std::to_string(length),
                             std::vector<uint8_t>(seed.bytes.begin(), seed.bytes.begin() + length),
                             Outcome::Either});
        }
    }
    const uint8_t params[CHANNELS] = {0x00, 0x0F, 0xF0, 0xFF};
    const int16_t notes[6] = {0, 119, 254, 255, 200, -1};
    for (uint8_t effect = 0; effect <= 31; ++effect) {
        ItSong song = richIt();
        for (int r = 0; r < 64; ++r) {
            for (int c = 0; c < CHANNELS; ++c) {
                itCellAt(song, r % 2, r, c) = {notes[(r + c) % 6], uint8_t(r % 4),
                                               int16_t((r * 37 + c * 11) % 256), effect,
                                               params[(r + c) % CHANNELS]};
            }
        }
        addIt("it effect " + std::to_string(effect), song, Outcome::Loads);
    }
    ItSong wild = richIt();
    wild.orderCountOverride = 0xFFFF;
    addIt("it order count 65535", wild, Outcome::Fails);
    wild = richIt();
    wild.patternCountOverride = 0xFFFF;
    addIt("it pattern count 65535", wild, Outcome::Fails);
    wild = richIt();
    wild.patterns[0].rows = 0xFFFF;
    wild.samples[0].lengthOverride = 0xFFFFFFFF;
    wild.samples[1].lengthOverride = 0x7FFFFFFF;
    wild.samples[1].dataOffsetOverride = 3;
    wild.instruments[0].volumeEnvelope.countOverride = 255;
    wild.instruments[0].volumeEnvelope.loopStart = 200;
    wild.instruments[0].volumeEnvelope.sustainEnd = 250;
    wild.instruments[0].keyboard[60][0] = 250;
    wild.instruments[0].keyboard[61][1] = 200;
    wild.instruments[0].pitchPanSeparation = -128;
    wild.instruments[0].pitchPanCentre = 255;
    wild.speed = 0;
    wild.tempo = 0;
    wild.globalVolume = 255;
    addIt("it wild header and instrument", wild, Outcome::Loads);
    ItSong garbage = richIt();
    garbage.samples[1].compressed = true;
    garbage.samples[1].dataOffsetOverride = 0;  // the header itself, read as compressed data
    garbage.samples[0].compressed = true;
    garbage.samples[0].sixteenBit = true;
    garbage.samples[0].dataOffsetOverride = 0xC0;
    addIt("it compressed data that lies", garbage, Outcome::Loads);
    return cases;
}

struct Kind {
    const char* name;
    Catalogue (*build)();
};

const Kind KINDS[] = {
    {"HeaderCounts", headerCounts},
    {"PatternCounts", patternCounts},
    {"LyingPatterns", lyingPatterns},
    {"InstrumentCounts", instrumentCounts},
    {"Envelopes", envelopes},
    {"SampleSizes", sampleSizes},
    {"Truncations", truncations},
    {"OlderLayouts", olderLayouts},
    {"NotesAndInstruments", notesAndInstruments},
    {"Effects", effects},
    {"RealSized", realSized},
    {"ModFiles", modFiles},
    {"S3mFiles", s3mFiles},
    {"ItFiles", itFiles},
};

void PrintTo(const Kind& kind, std::ostream* out) { *out << kind.name; }

class HostileModules : public testing::TestWithParam<Kind> {};

}  // namespace

TEST_P(HostileModules, FailCleanlyOrPlaySafely) {
    SKIP_UNDER_THREAD_SANITIZER();
    Catalogue cases = GetParam().build();
    ASSERT_FALSE(cases.empty());
    ASSERT_TRUE(openPlayDevice(44100));
    int loaded = 0;
    for (const HostileCase& c : cases) {
        SCOPED_TRACE(c.name);
        // The public library takes it too, as an application would, keeping its promises.
        std::vector<uint8_t> scripted = withApiScript(c.bytes, everyStepScript());
        EXPECT_EQ(fuzzApiScript(scripted.data(), scripted.size()), 0);
        SongPtr song = loadOwnedSong(c.bytes);
        if (!song) {
            EXPECT_NE(c.outcome, Outcome::Loads) << songLoadError();
            EXPECT_STRNE(songLoadError(), "");
            continue;
        }
        ++loaded;
        EXPECT_NE(c.outcome, Outcome::Fails);
        const char* broken = songRuleBroken(song.get());
        EXPECT_EQ(broken, nullptr) << broken;
        if (broken) continue;
        const char* fault = playAndCheck(song.get(), PLAY_BLOCKS);
        EXPECT_EQ(fault, nullptr) << fault;
    }
    printf("%s: %zu hostile modules, %d loaded and played\n", GetParam().name, cases.size(),
           loaded);
}

INSTANTIATE_TEST_SUITE_P(Catalogue, HostileModules, testing::ValuesIn(KINDS),
                         [](const testing::TestParamInfo<Kind>& info) { return info.param.name; });
