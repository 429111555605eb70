// The MOD loader: signatures and channel counts, the 15-sample format and what is refused,
// periods to notes, finetune, loops, sample data, the parameters ProTracker reads differently,
// and damaged or hostile files.
#include <gtest/gtest.h>

#include <cstring>

#include "module/xm_writer.h"
#include "tests/support/load_bytes.h"
#include "tests/support/mod_writer.h"

namespace {

const NoteCell& cellOf(const Song& song, int pattern, int row, int channel) {
    return song.patterns[pattern].cells[row * song.channelCount + channel];
}

const Sample& sampleOf(const Song& song, int number) {
    return *instrumentSample(&song, number - 1, 0);
}

ModSong oneSampleSong() {
    ModSong mod = makeModSong(4, 1);
    mod.samples[0] = makeModSample(squareWave(64, 16, 100), 0, 0);
    modCellAt(mod, 0, 0, 0) = {modPeriod(2, 0), 1, 0, 0};
    return mod;
}

// A 15-sample module that passes every check.
ModSong soundtrackerSong() {
    ModSong mod = oneSampleSong();
    mod.signature = "";
    mod.samples.resize(15);
    mod.samples[3].name = "st-01:bass";
    mod.restart = 120;
    return mod;
}

void expectNotAModule(const std::vector<uint8_t>& bytes, const char* what) {
    EXPECT_FALSE(loadOwnedSong(bytes)) << what;
    EXPECT_STREQ(songLoadError(), "not a module Brom can read") << what;
}

}  // namespace

TEST(ModLoader, EverySignatureGivesItsChannelsAndTracker) {
    const struct {
        const char* signature;
        int channels;
        const char* tracker;
    } cases[] = {
        {"M.K.", 4, "ProTracker M.K."},   {"M!K!", 4, "ProTracker M!K!"},
        {"M&K!", 4, "Noisetracker M&K!"}, {"FLT4", 4, "Startrekker FLT4"},
        {"FLT8", 8, "Startrekker FLT8"},  {"CD81", 8, "Falcon CD81"},
        {"OKTA", 8, "Oktalyzer OKTA"},    {"4CHN", 4, "FastTracker 4CHN"},
        {"6CHN", 6, "FastTracker 6CHN"},  {"8CHN", 8, "FastTracker 8CHN"},
        {"2CHN", 2, "FastTracker 2CHN"},  {"10CH", 10, "FastTracker 10CH"},
        {"32CH", 32, "FastTracker 32CH"}, {"16CN", 16, "TakeTracker 16CN"},
    };
    for (const auto& c : cases) {
        ModSong mod = makeModSong(c.channels, 1);
        mod.signature = c.signature;
        mod.samples[0] = makeModSample(squareWave(32, 8, 50), 0, 0);
        modCellAt(mod, 0, 5, c.channels - 1) = {modPeriod(1, 0), 1, 0xC, 0x20};
        SongPtr song = loadOwnedSong(writeMod(mod));
        ASSERT_TRUE(song) << c.signature << ": " << songLoadError();
        EXPECT_EQ(song->channelCount, c.channels) << c.signature;
        EXPECT_STREQ(song->tracker, c.tracker);
        const NoteCell& cell = cellOf(*song, 0, 5, c.channels - 1);
        EXPECT_EQ(cell.note, 37) << c.signature;  // C-3, the file's C-1
        EXPECT_EQ(cell.instrument, 1);
        EXPECT_EQ(cell.shownParam, 0x20);
    }
    for (const char* unknown : {"33CH", "09CH", "0CHN", "M.K ", "xxCH", "5CN!"}) {
        ModSong mod = oneSampleSong();
        mod.signature = unknown;
        expectNotAModule(writeMod(mod), unknown);
    }
}

TEST(ModLoader, HeaderFieldsAndDefaults) {
    ModSong mod = makeModSong(4, 3);
    mod.title = "a\x01title   ";
    mod.orders = {2, 0, 1, 2};
    mod.restart = 2;
    mod.samples[4] = makeModSample(squareWave(8, 4, 1), 0, 0);
    mod.samples[4].name = "five";
    mod.samples[4].volume = 99;
    SongPtr song = loadOwnedSong(writeMod(mod));
    ASSERT_TRUE(song);
    EXPECT_STREQ(song->title, "a title");
    EXPECT_EQ(song->songLength, 4);
    EXPECT_EQ(song->restartPosition, 2);
    EXPECT_EQ(song->patternCount, 3);
    EXPECT_EQ(song->usedPatternCount, 3);
    EXPECT_EQ(song->orderTable[0], 2);
    EXPECT_EQ(song->instrumentCount, 31);
    EXPECT_EQ(song->songFlags & 1, 0);  // Amiga periods
    EXPECT_EQ(song->defaultSpeed, 6);
    EXPECT_EQ(song->defaultBpm, 125);
    EXPECT_EQ(song->format, FORMAT_MOD);
    const uint8_t panning[8] = {0, 255, 255, 0};
    EXPECT_EQ(memcmp(song->channelPanning, panning, 8), 0);
    EXPECT_STREQ(song->instruments[4].name, "five");
    EXPECT_STREQ(sampleOf(*song, 5).name, "five");
    EXPECT_EQ(sampleOf(*song, 5).volume, 64);
    EXPECT_EQ(sampleOf(*song, 5).panning, SAMPLE_PANNING_NONE);

    // The restart byte outside the song (ProTracker writes 127) restarts at the start.
    mod.restart = 4;
    song = loadOwnedSong(writeMod(mod));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->restartPosition, 0);
}

TEST(ModLoader, FourChannelHalvesOfAnEightChannelPatternAreJoined) {
    ModSong mod = makeModSong(8, 2);
    mod.signature = "FLT8";
    mod.orders = {1, 0};
    for (int c = 0; c < 8; ++c) modCellAt(mod, 1, 63, c) = {0, 0, 0xC, uint8_t(c + 1)};
    SongPtr song = loadOwnedSong(writeMod(mod));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->orderTable[0], 1);
    EXPECT_EQ(song->patternCount, 2);
    for (int c = 0; c < 8; ++c) EXPECT_EQ(cellOf(*song, 1, 63, c).shownParam, c + 1);
}

TEST(ModLoader, PeriodsBecomeTheNoteOfTheNearestPeriod) {
    ModSong mod = makeModSong(4, 1);
    // ProTracker's three octaves are notes 37 to 72.
    for (int k = 0; k < 36; ++k) modCellAt(mod, 0, k, 0) = {modPeriod(1 + k / 12, k % 12), 0, 0, 0};
    const struct {
        uint16_t period;
        uint8_t note;
    } between[] = {{0, 0},     {840, 37}, {820, 38},  {116, 72}, {111, 72},
                   {1712, 25}, {57, 84},  {4095, 10}, {1, 96}};
    for (int k = 0; k < 9; ++k) modCellAt(mod, 0, 40 + k, 1).period = between[k].period;
    SongPtr song = loadOwnedSong(writeMod(mod));
    ASSERT_TRUE(song);
    for (int k = 0; k < 36; ++k) EXPECT_EQ(cellOf(*song, 0, k, 0).note, 37 + k) << k;
    for (int k = 0; k < 9; ++k) {
        EXPECT_EQ(cellOf(*song, 0, 40 + k, 1).note, between[k].note) << between[k].period;
    }
}

TEST(ModLoader, FinetuneIsASignedNibbleInEighthsOfASemitone) {
    ModSong mod = makeModSong(4, 1);
    for (int i = 0; i < 16; ++i) mod.samples[i].finetune = static_cast<uint8_t>(i);
    mod.samples[16].finetune = 0xF7;  // the top nibble is not part of it
    SongPtr song = loadOwnedSong(writeMod(mod));
    ASSERT_TRUE(song);
    const int expected[16] = {0,    16,   32,  48,  64,  80,  96,  112,
                              -128, -112, -96, -80, -64, -48, -32, -16};
    for (int i = 0; i < 16; ++i) EXPECT_EQ(sampleOf(*song, i + 1).finetune, expected[i]) << i;
    EXPECT_EQ(sampleOf(*song, 17).finetune, 112);
}

TEST(ModLoader, LengthsAndLoopsInWordsBecomeFramesAndStayInsideTheSample) {
    const struct {
        uint16_t loopStart, loopLength;  // words, as stored
        uint8_t mode;
        uint32_t start, length;  // frames, as loaded
    } cases[] = {
        {0, 1, LOOP_NONE, 0, 100},  // one word: no loop
        {0, 0, LOOP_NONE, 0, 100},      {10, 20, LOOP_FORWARD, 20, 40},
        {40, 20, LOOP_FORWARD, 80, 20},  // past the end: clamped
        {50, 5, LOOP_NONE, 0, 100},  // starts at the end: no loop
        {0, 50, LOOP_FORWARD, 0, 100},
    };
    ModSong mod = makeModSong(4, 1);
    for (int i = 0; i < 6; ++i) {
        mod.samples[i] = makeModSample(squareWave(100, 10, 100), 0, 0);
        mod.samples[i].loopStartWords = cases[i].loopStart;
        mod.samples[i].loopLengthWords = cases[i].loopLength;
    }
    SongPtr song = loadOwnedSong(writeMod(mod));
    ASSERT_TRUE(song);
    for (int i = 0; i < 6; ++i) {
        const Sample& smp = sampleOf(*song, i + 1);
        EXPECT_EQ(smp.length, 100u) << i;
        EXPECT_EQ(smp.loopMode, cases[i].mode) << i;
        EXPECT_EQ(smp.loopStart, cases[i].start) << i;
        EXPECT_EQ(smp.loopLength, cases[i].length) << i;
    }
}

TEST(ModLoader, SampleDataIsEightBitSignedInFileOrder) {
    ModSong mod = makeModSong(4, 1);
    mod.samples[0].data = {1, -1, 127, -128};
    mod.samples[2].data = {5, 6};  // the empty second sample takes no bytes
    SongPtr song = loadOwnedSong(writeMod(mod));
    ASSERT_TRUE(song);
    const Sample& first = sampleOf(*song, 1);
    ASSERT_EQ(first.length, 4u);
    EXPECT_EQ(first.bits, 16);
    EXPECT_EQ(first.data[0], 256);
    EXPECT_EQ(first.data[1], -256);
    EXPECT_EQ(first.data[2], 127 * 256);
    EXPECT_EQ(first.data[3], -128 * 256);
    EXPECT_EQ(sampleOf(*song, 2).length, 0u);
    EXPECT_EQ(sampleOf(*song, 3).data[1], 6 * 256);
}

TEST(ModLoader, TheSampleDataHookIsAskedForEightBitData) {
    ModSong mod = oneSampleSong();
    mod.samples[0].data = {9, 9, 9, 9};
    static int calls, bytes, bits, instrument;
    calls = 0;
    auto hook = [](uint8_t* buffer, int byteCount, int sampleBits, int instrumentIndex, int) {
        ++calls;
        bytes = byteCount;
        bits = sampleBits;
        instrument = instrumentIndex;
        buffer[0] = 3;
        return 1;
    };
    SongPtr song = loadOwnedSong(writeMod(mod), hook);
    ASSERT_TRUE(song);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(bytes, 4);
    EXPECT_EQ(bits, 8);
    EXPECT_EQ(instrument, 0);
    EXPECT_EQ(sampleOf(*song, 1).data[0], 3 * 256);
}

TEST(ModLoader, ParametersProtrackerReadsDifferentlyAreRewritten) {
    const struct {
        uint8_t effect, param, wantEffect, wantParam;
    } cases[] = {
        {0x1, 0x00, 0x0, 0x00},
        {0x2, 0x00, 0x0, 0x00},
        {0xA, 0x00, 0x0, 0x00},
        {0x5, 0x00, 0x3, 0x00},
        {0x6, 0x00, 0x4, 0x00},
        {0xC, 0x7F, 0xC, 0x40},
        {0xE, 0x10, 0x0, 0x00},
        {0xE, 0x20, 0x0, 0x00},
        {0xE, 0xA0, 0x0, 0x00},
        {0xE, 0xB0, 0x0, 0x00},
        {0xF, 0x00, 0x0, 0x00},
        // Kept as they are:
        {0x1, 0x04, 0x1, 0x04},
        {0x3, 0x00, 0x3, 0x00},
        {0x4, 0x00, 0x4, 0x00},
        {0x5, 0x01, 0x5, 0x01},
        {0xC, 0x40, 0xC, 0x40},
        {0xE, 0x60, 0xE, 0x60},
        {0xE, 0x11, 0xE, 0x11},
        {0x8, 0x80, 0x8, 0x80},
        {0xF, 0x1F, 0xF, 0x1F},
        {0xF, 0x20, 0xF, 0x20},
        {0x9, 0x00, 0x9, 0x00},
    };
    ModSong mod = makeModSong(4, 1);
    int row = 0;
    for (const auto& c : cases) modCellAt(mod, 0, row++, 2) = {0, 0, c.effect, c.param};
    SongPtr song = loadOwnedSong(writeMod(mod));
    ASSERT_TRUE(song);
    row = 0;
    for (const auto& c : cases) {
        const NoteCell& cell = cellOf(*song, 0, row++, 2);
        EXPECT_EQ(cell.shownEffect, c.wantEffect) << std::hex << int(c.effect) << int(c.param);
        EXPECT_EQ(cell.shownParam, c.wantParam) << std::hex << int(c.effect) << int(c.param);
    }
}

TEST(ModLoader, FifteenSampleFilesAreReadOnlyWhenEveryCheckPasses) {
    SongPtr song = loadOwnedSong(writeMod(soundtrackerSong()));
    ASSERT_TRUE(song) << songLoadError();
    EXPECT_STREQ(song->tracker, "Soundtracker");
    EXPECT_EQ(song->instrumentCount, 15);
    EXPECT_EQ(song->channelCount, 4);
    EXPECT_EQ(song->restartPosition, 0);
    EXPECT_EQ(cellOf(*song, 0, 0, 0).note, 49);
    EXPECT_EQ(sampleOf(*song, 1).length, 64u);
    EXPECT_STREQ(sampleOf(*song, 4).name, "st-01:bass");

    const struct {
        const char* what;
        void (*spoil)(ModSong&);
    } spoilt[] = {
        {"a sample number above 15", [](ModSong& m) { modCellAt(m, 0, 9, 1).sample = 16; }},
        {"a period no note has", [](ModSong& m) { modCellAt(m, 0, 9, 1).period = 1000; }},
        // assign rather than =: GCC 12 at -O3 takes copying a one-character literal for an
        // overlapping copy (-Wrestrict).
        {"a name that is no text", [](ModSong& m) { m.samples[2].name.assign(1, '\x02'); }},
        {"a volume above 64", [](ModSong& m) { m.samples[2].volume = 65; }},
        {"a song length of 0", [](ModSong& m) { m.songLengthOverride = 0; }},
        {"a pattern the file lacks",
         [](ModSong& m) {
             m.orders = {0, 1};
         }},
    };
    for (const auto& s : spoilt) {
        ModSong mod = soundtrackerSong();
        s.spoil(mod);
        expectNotAModule(writeMod(mod), s.what);
    }
}

TEST(ModLoader, TheFormatIsToldByContentNotByName) {
    XmSong xm = makeXmSong(2, 1);
    std::vector<uint8_t> xmBytes = writeXm(xm);
    // An XM that carries a MOD signature at offset 1080 is still an XM.
    xmBytes.resize(2000);
    memcpy(xmBytes.data() + 1080, "M.K.", 4);
    SongPtr song = loadOwnedSong(xmBytes);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->format, FORMAT_XM);
    expectNotAModule(std::vector<uint8_t>(3000, 0), "zeros");
    expectNotAModule({'M', 'T', 'h', 'd'}, "four bytes");
}

TEST(ModLoader, TruncationFailsInsideThePatternsAndCutsTheLastSample) {
    ModSong mod = oneSampleSong();
    mod.samples[1] = makeModSample(squareWave(40, 8, 100), 4, 16);
    const std::vector<uint8_t> bytes = writeMod(mod);
    const size_t patternsEnd = 1084 + 1024;
    const size_t lastData = patternsEnd + 64;
    for (size_t length = 0; length < bytes.size(); ++length) {
        SongPtr song = loadOwnedSong(std::vector<uint8_t>(bytes.begin(), bytes.begin() + length));
        if (length < 1084) {
            EXPECT_FALSE(song) << length;
        } else if (length < patternsEnd) {
            EXPECT_FALSE(song) << length;
            EXPECT_STREQ(songLoadError(), "the file ends inside the patterns");
        } else {
            ASSERT_TRUE(song) << length;
            const Sample& last = sampleOf(*song, 2);
            EXPECT_EQ(last.length, length > lastData ? length - lastData : 0) << length;
            EXPECT_LE(last.loopStart + last.loopLength, last.length) << length;
        }
    }
}

TEST(ModLoader, HostileHeadersAreBroughtIntoRange) {
    // The order table names 128 patterns the file does not hold: those in use are read.
    ModSong junk = oneSampleSong();
    junk.orders = {0};
    std::vector<uint8_t> bytes = writeMod(junk);
    bytes[952 + 100] = 127;
    SongPtr song = loadOwnedSong(bytes);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->patternCount, 1);
    EXPECT_EQ(sampleOf(*song, 1).length, 64u);
    // Orders in use that name patterns the file lacks fail without allocating them.
    bytes[952] = 255;
    EXPECT_FALSE(loadOwnedSong(bytes));
    EXPECT_STREQ(songLoadError(), "the file ends inside the patterns");

    ModSong huge = oneSampleSong();
    huge.songLengthOverride = 255;
    huge.samples[0].lengthWordsOverride = 0xFFFF;
    huge.samples[0].loopStartWords = 0xFFFF;
    huge.samples[0].loopLengthWords = 0xFFFF;
    bytes = writeMod(huge);
    bytes[1084] = 0xE0 | bytes[1084];  // sample number bits above the fifth
    song = loadOwnedSong(bytes);
    ASSERT_TRUE(song);
    EXPECT_EQ(song->songLength, 128);
    EXPECT_EQ(cellOf(*song, 0, 0, 0).instrument, 1);
    const Sample& smp = sampleOf(*song, 1);
    EXPECT_EQ(smp.length, 64u);  // the bytes the file holds
    EXPECT_EQ(smp.loopMode, LOOP_NONE);
}
