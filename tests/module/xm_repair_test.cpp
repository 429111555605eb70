// Older layouts and damaged files the loader repairs: versions 1.02 and 1.03, files cut short,
// header fields that disagree with the data; and the repair notes that say so.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "module/xm_loader.h"
#include "module/xm_writer.h"
#include "tests/support/load_bytes.h"

namespace {

constexpr int CHANNELS = 3;
constexpr size_t HEADER_END = 60 + 276;

// Three patterns of 7, 1 and 256 rows (the extremes of 1.02's one-byte row count) with notes
// and effects, an 8-bit instrument with an envelope and a 16-bit one with two samples.
XmSong richSong(uint16_t version) {
    XmSong xm = makeXmSong(CHANNELS, 0);
    xm.version = version;
    xm.patterns = {makePattern(7, CHANNELS), makePattern(1, CHANNELS), makePattern(256, CHANNELS)};
    xm.orders = {0, 2, 1, 0};
    for (int r = 0; r < 7; ++r)
        cellAt(xm.patterns[0], CHANNELS, r, r % CHANNELS) = {uint8_t(40 + r), 1, 0x30, 0x0C,
                                                             uint8_t(r)};
    cellAt(xm.patterns[1], CHANNELS, 0, 2) = {97, 0, 0, 0, 0};
    for (int r = 0; r < 256; r += 5)
        cellAt(xm.patterns[2], CHANNELS, r, r % CHANNELS) = {uint8_t(1 + r % 96), 2, 0, 0x0A, 0x21};
    XmInstrument first = makeInstrument(makeSample(sineFrames(90, 30, 100), false));
    first.volumeEnvelope = {{0, 64}, {6, 20}, {12, 40}};
    first.volumeFlags = 1;
    first.fadeout = 300;
    XmInstrument second = makeInstrument(makeSample(sineFrames(50, 25, 9000), true));
    second.samples[0].loopType = 2;
    second.samples[0].loopLength = 50;
    second.samples.push_back(makeSample(sineFrames(40, 8, 7000), true));
    for (int n = 48; n < 96; ++n) second.noteSampleMap[n] = 1;
    xm.instruments = {first, second};
    return xm;
}

std::string sampleDiffers(const Sample& a, const Sample& b) {
    if (a.length != b.length || a.loopStart != b.loopStart || a.loopLength != b.loopLength ||
        a.loopMode != b.loopMode || a.volume != b.volume || a.finetune != b.finetune ||
        a.panning != b.panning || a.relativeNote != b.relativeNote) {
        return "sample fields";
    }
    if (a.length && memcmp(a.data, b.data, (a.length + 8) * sizeof(int16_t)) != 0)
        return "sample data";
    return "";
}

// Where two songs differ in what they play (names aside); "" when they play alike.
std::string musicDiffers(const Song& a, const Song& b) {
    if (a.channelCount != b.channelCount || a.songLength != b.songLength ||
        memcmp(a.orderTable, b.orderTable, sizeof a.orderTable) != 0 ||
        a.defaultSpeed != b.defaultSpeed || a.defaultBpm != b.defaultBpm) {
        return "header";
    }
    if (a.patternCount != b.patternCount) return "pattern count";
    for (int p = 0; p < a.patternCount; ++p) {
        const Pattern &x = a.patterns[p], &y = b.patterns[p];
        if (x.rowCount != y.rowCount ||
            memcmp(x.cells, y.cells, sizeof(NoteCell) * x.rowCount * a.channelCount) != 0) {
            return "pattern " + std::to_string(p);
        }
    }
    if (a.instrumentCount != b.instrumentCount) return "instrument count";
    for (int i = 0; i < a.instrumentCount; ++i) {
        Instrument x = a.instruments[i], y = b.instruments[i];
        if (x.sampleCount != y.sampleCount) return "instrument " + std::to_string(i);
        for (int j = 0; j < x.sampleCount; ++j) {
            std::string d = sampleDiffers(*instrumentSample(&a, i, j), *instrumentSample(&b, i, j));
            if (!d.empty()) return "instrument " + std::to_string(i) + " " + d;
        }
        memset(x.name, 0, sizeof x.name);
        memset(y.name, 0, sizeof y.name);
        if (memcmp(&x, &y, sizeof x) != 0) return "instrument " + std::to_string(i) + " fields";
    }
    return "";
}

std::vector<std::string> notesOf(const Song& song) {
    std::vector<std::string> notes;
    for (int k = 0; k < song.repairCount && k < REPAIR_NOTE_SLOTS; ++k)
        notes.emplace_back(song.repairNotes[k]);
    return notes;
}

using Notes = std::vector<std::string>;

}  // namespace

TEST(XmOlderLayouts, VersionsBefore104LoadAsTheSameSongIn104) {
    SongPtr current = loadOwnedSong(writeXm(richSong(0x0104)));
    ASSERT_TRUE(current);
    EXPECT_EQ(current->repairCount, 0);
    SongPtr later = loadOwnedSong(writeXm(richSong(0x0105)));  // written in 1.04's layout
    ASSERT_TRUE(later);
    EXPECT_EQ(musicDiffers(*later, *current), "");
    for (uint16_t version : {0x0100, 0x0102, 0x0103}) {
        SongPtr older = loadOwnedSong(writeXm(richSong(version)));
        ASSERT_TRUE(older) << version << ": " << songLoadError();
        EXPECT_EQ(musicDiffers(*older, *current), "") << version;
        char layout[32];
        snprintf(layout, sizeof layout, "version 1.%02x layout", version & 0xFF);
        EXPECT_EQ(notesOf(*older), Notes{layout});
    }
}

// Whatever the file holds of a structure it cuts short is kept, nothing is invented, and what
// follows is absent: every byte more keeps what the cut before it loaded.
TEST(XmRepairs, CutsAtEveryByteKeepWhatTheFileHolds) {
    for (uint16_t version : {0x0104, 0x0102}) {
        XmLayout layout;
        std::vector<uint8_t> bytes = writeXm(richSong(version), &layout);
        SongPtr full = loadOwnedSong(bytes);
        ASSERT_TRUE(full);
        int previousFields = 0, previousFrames = 0;
        for (size_t length = HEADER_END - 1; length <= bytes.size(); ++length) {
            SCOPED_TRACE(std::to_string(version) + " cut at " + std::to_string(length));
            std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + static_cast<long>(length));
            SongPtr song = loadOwnedSong(cut);
            if (length < HEADER_END) {
                EXPECT_FALSE(song);  // the header itself is cut
                continue;
            }
            ASSERT_TRUE(song) << songLoadError();
            int fields = 0;
            for (int p = 0; p < full->patternCount; ++p) {
                const Pattern& have = song->patterns[p];
                const Pattern& want = full->patterns[p];
                bool present = length >= layout.patterns[p] + (version == 0x0102 ? 8 : 9);
                ASSERT_EQ(have.rowCount, present ? want.rowCount : 64);
                for (int k = 0; k < have.rowCount * CHANNELS; ++k) {
                    const uint8_t* h = &have.cells[k].note;
                    for (int f = 0; f < 5; ++f) {
                        if (h[f] == 0) continue;
                        ASSERT_TRUE(present && h[f] == (&want.cells[k].note)[f]) << p << " " << k;
                        ++fields;
                    }
                }
            }
            int frames = 0, whole = 0;
            for (size_t i = 0; i < layout.instruments.size(); ++i) {
                size_t headersEnd =
                    layout.instruments[i] + 263 + 40 * full->instruments[i].sampleCount;
                whole += length >= headersEnd;
            }
            ASSERT_EQ(song->instrumentCount, whole);
            for (int i = 0; i < whole; ++i) {
                const Instrument& have = song->instruments[i];
                const Instrument& want = full->instruments[i];
                ASSERT_EQ(have.sampleCount, want.sampleCount);
                EXPECT_EQ(have.fadeout, want.fadeout);
                for (int j = 0; j < have.sampleCount; ++j) {
                    const Sample& hs = *instrumentSample(song.get(), i, j);
                    const Sample& ws = *instrumentSample(full.get(), i, j);
                    ASSERT_LE(hs.length, ws.length);
                    if (hs.length) {
                        ASSERT_EQ(memcmp(hs.data, ws.data, hs.length * 2), 0);
                    }
                    frames += static_cast<int>(hs.length);
                }
            }
            EXPECT_GE(fields, previousFields);
            EXPECT_GE(frames + 1000 * whole, previousFrames);
            previousFields = fields;
            previousFrames = frames + 1000 * whole;
            if (length == bytes.size()) {
                EXPECT_EQ(musicDiffers(*song, *full), "");
            }
        }
    }
}

TEST(XmRepairs, NotesSayWhatTheCutLeftOut) {
    XmLayout layout;
    std::vector<uint8_t> bytes = writeXm(richSong(0x0104), &layout);
    // 60 bytes into pattern 2's data: rows of three 1-byte empty cells (3 bytes) or of a 5-byte
    // note and two empty cells (7 bytes, every fifth row) make 57 bytes for 15 rows.
    size_t inPattern = layout.patterns[2] + 9 + 60;
    SongPtr song = loadOwnedSong({bytes.begin(), bytes.begin() + static_cast<long>(inPattern)});
    ASSERT_TRUE(song);
    EXPECT_EQ(notesOf(*song), (Notes{"pattern 2 cut short: 15 of 256 rows",
                                     "instruments 1..2 absent: the file ends"}));
    // The cell cut short (mask, note, instrument of a 5-byte cell) keeps the fields it has.
    const NoteCell& partial = song->patterns[2].cells[15 * CHANNELS];
    EXPECT_EQ(partial.note, 16);
    EXPECT_EQ(partial.instrument, 2);
    EXPECT_EQ(partial.effect.command, CMD_NONE);
    size_t inSampleData = layout.sampleData[1] + 30;
    song = loadOwnedSong({bytes.begin(), bytes.begin() + static_cast<long>(inSampleData)});
    ASSERT_TRUE(song);
    EXPECT_EQ(notesOf(*song), Notes{"instrument 2 sample 0 cut short: 15 of 50 frames"});
    size_t inInstrument = layout.instruments[1] + 100;
    song = loadOwnedSong({bytes.begin(), bytes.begin() + static_cast<long>(inInstrument)});
    ASSERT_TRUE(song);
    EXPECT_EQ(notesOf(*song), Notes{"instrument 2 absent: the file ends"});

    std::vector<uint8_t> older = writeXm(richSong(0x0102), &layout);
    size_t inFirstPattern = layout.patterns[0] + 4;
    song = loadOwnedSong({older.begin(), older.begin() + static_cast<long>(inFirstPattern)});
    ASSERT_TRUE(song);
    EXPECT_EQ(notesOf(*song), (Notes{"version 1.02 layout", "patterns 0..2 absent: the file ends",
                                     "instrument 1 sample 0 cut short: 0 of 90 frames"}));
}

TEST(XmRepairs, PatternDataCoveringFewerRowsLeavesTheRestEmpty) {
    XmSong xm = richSong(0x0104);
    xm.patterns[0].storedRows = 4;  // the packed size says so too
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    EXPECT_EQ(notesOf(*song), Notes{"pattern 0 cut short: 4 of 7 rows"});
    XmSong blank = richSong(0x0104);
    for (int k = 4 * CHANNELS; k < 7 * CHANNELS; ++k) blank.patterns[0].cells[k] = {};
    SongPtr want = loadOwnedSong(writeXm(blank));
    EXPECT_EQ(musicDiffers(*song, *want), "");
}

TEST(XmRepairs, PackedSizeBoundsThePatternData) {
    // Data for 7 rows where the header declares 5: the packed size covers all 7, and the two rows
    // beyond the pattern are skipped rather than read as the next pattern's header.
    XmSong xm = richSong(0x0104);
    xm.patterns[0].rows = 5;
    xm.patterns[0].storedRows = 7;
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    XmSong want = richSong(0x0104);
    want.patterns[0].rows = 5;
    SongPtr expected = loadOwnedSong(writeXm(want));
    EXPECT_EQ(musicDiffers(*song, *expected), "");
    EXPECT_EQ(song->repairCount, 0);
}

TEST(XmRepairs, PatternHeaderLengthPlacesTheData) {
    SongPtr plain = loadOwnedSong(writeXm(richSong(0x0104)));
    for (uint16_t version : {0x0104, 0x0102}) {
        XmSong padded = richSong(version);
        padded.patterns[1].headerLength = 20;  // 11 or 12 bytes of padding before the data
        SongPtr song = loadOwnedSong(writeXm(padded));
        ASSERT_TRUE(song);
        EXPECT_EQ(musicDiffers(*song, *plain), "") << version;
    }
    // Lengths that cannot be right: shorter than the fields, or reaching past the file.
    XmLayout layout;
    const std::vector<uint8_t> bytes = writeXm(richSong(0x0104), &layout);
    for (uint32_t length : {0u, 5u, 0xFFFFFFFFu}) {
        std::vector<uint8_t> lying = bytes;
        memcpy(&lying[layout.patterns[1]], &length, 4);  // little-endian, as the file stores it
        SongPtr song = loadOwnedSong(lying);
        ASSERT_TRUE(song);
        EXPECT_EQ(musicDiffers(*song, *plain), "") << length;
        EXPECT_EQ(notesOf(*song),
                  Notes{"pattern 1 header length " + std::to_string(length) + " taken as 9"});
    }
}

TEST(XmRepairs, InstrumentHeaderSizes) {
    SongPtr plain = loadOwnedSong(writeXm(richSong(0x0104)));
    struct Case {
        uint32_t written;  // the header's real length
        int64_t field;  // its size field (-1: the real length)
        const char* note;
    };
    const Case alike[] = {
        {263, 0, "instrument 2 header size 0 taken as 263"},
        {263, 4, "instrument 2 header size 4 taken as 263"},
        {241, -1, nullptr},  // the header's fields end at 241 bytes
        {300, -1, nullptr},
    };
    for (const Case& c : alike) {
        XmSong xm = richSong(0x0104);
        xm.instruments[1].headerSize = c.written;
        xm.instruments[1].headerSizeOverride = c.field;
        SongPtr song = loadOwnedSong(writeXm(xm));
        ASSERT_TRUE(song);
        EXPECT_EQ(musicDiffers(*song, *plain), "") << c.written;
        EXPECT_EQ(notesOf(*song), c.note ? Notes{c.note} : Notes{});
    }
    // A header of 200 bytes ends inside the envelope fields: those beyond it are zero.
    XmSong shorter = richSong(0x0104);
    shorter.instruments[0].headerSize = 200;
    SongPtr song = loadOwnedSong(writeXm(shorter));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->instruments[0].volumeEnvelope.pointCount, 0);
    EXPECT_EQ(song->instruments[0].fadeout, 0);
    EXPECT_EQ(
        sampleDiffers(*instrumentSample(song.get(), 0, 0), *instrumentSample(plain.get(), 0, 0)),
        "");
    // A size reaching past the file: that instrument and the ones after it are absent.
    XmSong beyond = richSong(0x0104);
    beyond.instruments[0].headerSizeOverride = 0x7FFFFFFF;
    song = loadOwnedSong(writeXm(beyond));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->instrumentCount, 0);
    EXPECT_EQ(notesOf(*song), Notes{"instruments 1..2 absent: the file ends"});
}

TEST(XmRepairs, NotesBeyondTheSlotsAreCounted) {
    XmSong xm = makeXmSong(2, 12);
    for (XmPattern& p : xm.patterns) p.headerLength = 4;
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->repairCount, 12);
    EXPECT_STREQ(song->repairNotes[REPAIR_NOTE_SLOTS - 1], "pattern 7 header length 4 taken as 9");
}
