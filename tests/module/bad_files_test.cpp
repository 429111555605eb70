// Damaged and hostile files: each loads with a clear failure or is brought safely into range.
#include <gtest/gtest.h>

#include <cstring>

#include "audio/scheduler.h"
#include "module/xm_loader.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"

namespace {

XmSong richSong() {
    XmSong xm = makeXmSong(3, 2);
    cellAt(xm.patterns[0], 3, 0, 0) = {49, 1, 0x40, 0x0C, 0x20};
    cellAt(xm.patterns[1], 3, 7, 2) = {60, 2, 0, 0, 0};
    XmInstrument a = makeInstrument(makeSample(sineFrames(100, 25, 100), false));
    a.volumeEnvelope = {{0, 64}, {8, 0}};
    a.volumeFlags = 1;
    XmInstrument b = makeInstrument(makeSample(sineFrames(60, 20, 9000), true));
    b.samples[0].loopType = 1;
    b.samples[0].loopStart = 10;
    b.samples[0].loopLength = 50;
    xm.instruments = {a, b};
    return xm;
}

// Offset of the first sample data byte of the last instrument in richSong's bytes.
size_t lastSampleDataStart(const std::vector<uint8_t>& bytes) { return bytes.size() - 120; }

std::vector<uint8_t> withU16(std::vector<uint8_t> bytes, size_t at, unsigned value) {
    bytes[at] = static_cast<uint8_t>(value);
    bytes[at + 1] = static_cast<uint8_t>(value >> 8);
    return bytes;
}

}  // namespace

TEST(BadFiles, TruncationFailsOnlyInsideTheHeader) {
    std::vector<uint8_t> bytes = writeXm(richSong());
    size_t lastData = lastSampleDataStart(bytes);
    size_t firstLoaded = 0;
    for (size_t length = 0; length < bytes.size(); ++length) {
        std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length);
        SongPtr song = loadOwnedSong(cut);
        if (song && firstLoaded == 0) firstLoaded = length;
        if (firstLoaded != 0) {
            ASSERT_TRUE(song) << "cut at " << length << ": " << songLoadError();
        }
        if (length >= lastData) {
            ASSERT_TRUE(song) << "cut inside the last sample's data at " << length;
            const Sample& smp = *instrumentSample(song.get(), 1, 0);
            uint32_t frames = static_cast<uint32_t>((length - lastData) / 2);
            EXPECT_EQ(smp.length, frames);
            if (smp.loopMode != LOOP_NONE) {
                EXPECT_LE(smp.loopStart + smp.loopLength, smp.length);
            }
        }
        if (!song) {
            EXPECT_STRNE(songLoadError(), "");
        }
    }
    // Anywhere after the header the song keeps what the file holds (xm_repair_test.cpp says what).
    EXPECT_EQ(firstLoaded, 60u + 276u);
    EXPECT_TRUE(loadOwnedSong(bytes));
}

TEST(BadFiles, ChannelCountOutsideTheTableFails) {
    for (int channels : {0, 33, 0xFFFF}) {
        XmSong xm = makeXmSong(2, 1);
        xm.channelCountOverride = channels;
        EXPECT_FALSE(loadOwnedSong(writeXm(xm))) << channels;
    }
    XmSong xm = makeXmSong(32, 1);
    EXPECT_TRUE(loadOwnedSong(writeXm(xm)));
}

TEST(BadFiles, SongLengthRestartAndTempoAreBroughtIntoRange) {
    struct Case {
        int songLength, restart, bpm;
        int wantLength, wantRestart, wantBpm;
    };
    const Case cases[] = {
        {0, 0, 0, 1, 0, 125}, {300, 5, 125, 256, 5, 125},  {0xFFFF, 3, 0xFFFF, 1, 0, 125},
        {4, 4, 1, 4, 0, 1},   {4, 0xFFFF, 255, 4, 0, 255},
    };
    for (const Case& c : cases) {
        XmSong xm = makeXmSong(2, 1);
        xm.songLength = c.songLength;
        xm.restartPosition = c.restart;
        xm.bpm = c.bpm;
        SongPtr song = loadOwnedSong(writeXm(xm));
        ASSERT_TRUE(song);
        EXPECT_EQ(song->songLength, c.wantLength);
        EXPECT_EQ(song->restartPosition, c.wantRestart);
        EXPECT_EQ(song->defaultBpm, c.wantBpm);
        // Every order entry that counts names an allocated pattern.
        for (int i = 0; i < song->songLength; ++i) {
            EXPECT_LT(song->orderTable[i], song->patternCount);
        }
    }
}

TEST(BadFiles, HugeSampleLengthInASmallFileIsATruncatedSample) {
    XmSong xm = makeXmSong(2, 1);
    XmSample s = makeSample({1, 2, 3, 4}, false);
    s.lengthBytesOverride = 0xFFFFFFFF;
    s.loopType = 2;
    s.loopStart = 0x7FFFFFF0;
    s.loopLength = 0x7FFFFFF0;
    xm.instruments.push_back(makeInstrument(s));
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    const Sample& smp = *instrumentSample(song.get(), 0, 0);
    EXPECT_EQ(smp.length, 4u);
    EXPECT_EQ(smp.loopMode, LOOP_NONE);  // the loop started beyond the end
    EXPECT_EQ(smp.data[3], 4 * 256);
}

TEST(BadFiles, LoopsReachingBeyondTheSampleAreClamped) {
    XmSong xm = makeXmSong(2, 1);
    XmSample s = makeSample(std::vector<int16_t>(100, 1), true);
    s.loopType = 1;
    s.loopStart = 90;
    s.loopLength = 1000;
    xm.instruments.push_back(makeInstrument(s));
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    const Sample& smp = *instrumentSample(song.get(), 0, 0);
    EXPECT_EQ(smp.loopStart, 90u);
    EXPECT_EQ(smp.loopLength, 10u);
    EXPECT_EQ(smp.loopMode, LOOP_FORWARD);
}

TEST(BadFiles, EnvelopesStayInsideTheirLoadedPoints) {
    XmInstrument ins = makeInstrument(makeSample({1}, false));
    ins.volumeEnvelope = {{0, 64}, {4, 32}, {8, 16}, {8, 0}, {2, 5}};
    ins.volumeFlags = 7;
    ins.volumeSustain = 3;  // at or beyond the points that remain
    ins.volumeLoopStart = 0;
    ins.volumeLoopEnd = 2;
    ins.panningEnvelope = {{0, 1}, {1, 2}};
    ins.panningPointCountOverride = 200;
    ins.panningFlags = 7;
    ins.panningSustain = 1;
    ins.panningLoopStart = 250;
    ins.panningLoopEnd = 1;
    XmSong xm = makeXmSong(2, 1);
    xm.instruments.push_back(ins);
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    const Instrument& i = song->instruments[0];
    // Positions 0, 4, 8, 8: the envelope ends at the last increasing point.
    EXPECT_EQ(i.volumeEnvelope.pointCount, 3);
    EXPECT_EQ(i.volumeEnvelope.flags, 1 | 4);  // sustain dropped, loop 0..2 kept
    // 200 points become 12, which stop increasing after the second (the rest are zero).
    EXPECT_EQ(i.panningEnvelope.pointCount, 2);
    EXPECT_EQ(i.panningEnvelope.flags, 1 | 2);  // loop start 250 dropped
}

TEST(BadFiles, TooManySamplesInAnInstrumentFails) {
    XmSong xm = makeXmSong(2, 1);
    XmInstrument ins = makeInstrument(makeSample({1}, false));
    ins.sampleCountOverride = 17;
    xm.instruments.push_back(ins);
    EXPECT_FALSE(loadOwnedSong(writeXm(xm)));
    EXPECT_STRNE(songLoadError(), "");
}

TEST(BadFiles, HostileCountsLoadOrFailCleanly) {
    std::vector<uint8_t> base = writeXm(richSong());
    // Header fields at 64 (song length) .. 78 (bpm), each at 0, 1, its limit and 0xFFFF.
    for (size_t field = 64; field <= 78; field += 2) {
        for (unsigned value :
             {0u, 1u, 16u, 32u, 33u, 128u, 256u, 257u, 0x7FFFu, 0x8000u, 0xFFFFu}) {
            SongPtr song = loadOwnedSong(withU16(base, field, value));
            if (!song) {
                EXPECT_STRNE(songLoadError(), "");
            }
        }
    }
    // Pattern row counts and packed sizes at their extremes.
    size_t pattern = 60 + 276;
    for (unsigned rows : {0u, 1u, 256u, 0xFFFFu}) {
        for (unsigned packed : {0u, 1u, 0xFFFFu}) {
            std::vector<uint8_t> bytes =
                withU16(withU16(base, pattern + 5, rows), pattern + 7, packed);
            SongPtr song = loadOwnedSong(bytes);
            if (song) {
                EXPECT_EQ(song->patterns[0].rowCount, static_cast<int>(rows));
            }
        }
    }
}

TEST(BadFiles, EmptyPatternsCannotDemandUnboundedMemory) {
    XmSong xm = makeXmSong(32, 0);
    xm.orders = {0};
    for (int p = 0; p < 2000; ++p) {
        XmPattern pattern;
        pattern.rows = 0xFFFF;
        pattern.packing = XmPacking::Empty;
        xm.patterns.push_back(pattern);
    }
    // 2000 x 65535 x 32 cells would be 20 GB; the file is 18 KB.
    EXPECT_FALSE(loadOwnedSong(writeXm(xm)));
}

TEST(BadFiles, NotAModuleAtAll) {
    EXPECT_FALSE(loadOwnedSong({}));
    EXPECT_FALSE(loadOwnedSong(std::vector<uint8_t>(17, 'E')));
    std::vector<uint8_t> justSignature(17);
    memcpy(justSignature.data(), "Extended Module: ", 17);
    EXPECT_FALSE(loadOwnedSong(justSignature));
}
