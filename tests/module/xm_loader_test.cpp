// Loading modules built by the XM writer: header runs, pattern unpacking, instruments and samples.
#include "audio/scheduler.h"
#include "module/xm_loader.h"

#include <gtest/gtest.h>

#include "player/sequencer.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"

namespace {

XmSong songWithSample(XmSample sample) {
    XmSong song = makeXmSong(2, 1);
    song.instruments.push_back(makeInstrument(std::move(sample)));
    return song;
}

const Sample& firstSample(const SongPtr& song) { return *instrumentSample(song.get(), 0, 0); }

}  // namespace

TEST(XmHeader, ReadsTheHeaderRuns) {
    XmSong xm = makeXmSong(6, 3);
    xm.orders = {2, 0, 1, 2};
    xm.restartPosition = 1;
    xm.flags = 1;
    xm.speed = 4;
    xm.bpm = 140;
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->songLength, 4);
    EXPECT_EQ(song->restartPosition, 1);
    EXPECT_EQ(song->channelCount, 6);
    EXPECT_EQ(song->instrumentCount, 0);
    EXPECT_EQ(song->songFlags, 1);
    EXPECT_EQ(song->defaultSpeed, 4);
    EXPECT_EQ(song->defaultBpm, 140);
    EXPECT_EQ(song->orderTable[0], 2);
    EXPECT_EQ(song->orderTable[3], 2);
    EXPECT_EQ(song->usedPatternCount, 3);
    EXPECT_EQ(song->patternCount, 3);
    EXPECT_EQ(song->initialGlobalVolume, 64);
}

TEST(XmHeader, EveryByteOfTheSignatureCounts) {
    std::vector<uint8_t> good = writeXm(makeXmSong(2, 1));
    ASSERT_TRUE(loadOwnedSong(good));
    for (int k = 0; k < 17; ++k) {
        std::vector<uint8_t> bad = good;
        bad[k] ^= 0x20;
        EXPECT_FALSE(loadOwnedSong(bad)) << "byte " << k;
    }
}

TEST(XmHeader, LongerHeaderIsSkipped) {
    XmSong xm = makeXmSong(2, 1);
    xm.headerSize = 300;  // extra bytes after the order table
    cellAt(xm.patterns[0], 2, 0, 1) = {30, 0, 0, 0, 0};
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->patterns[0].cells[1].note, 30);
}

TEST(XmPatterns, MaskAndPlainCellsDecodeAlike) {
    for (XmPacking packing : {XmPacking::Mixed, XmPacking::Mask, XmPacking::Plain}) {
        XmSong xm = makeXmSong(3, 1);
        xm.patterns[0].packing = packing;
        cellAt(xm.patterns[0], 3, 0, 0) = {49, 1, 0x40, 0x0C, 0x20};
        cellAt(xm.patterns[0], 3, 0, 2) = {0, 0, 0, 0x0F, 0x03};
        cellAt(xm.patterns[0], 3, 5, 1) = {97, 0, 0, 0, 0};  // key-off
        cellAt(xm.patterns[0], 3, 63, 2) = {100, 129, 0, 0, 0};
        SongPtr song = loadOwnedSong(writeXm(xm));
        ASSERT_TRUE(song);
        const NoteCell* cells = song->patterns[0].cells;
        EXPECT_EQ(cells[0].note, 49);
        EXPECT_EQ(cells[0].instrument, 1);
        EXPECT_EQ(cells[0].shownVolume, 0x40);
        EXPECT_EQ(cells[0].shownEffect, 0x0C);
        EXPECT_EQ(cells[0].shownParam, 0x20);
        EXPECT_EQ(cells[1].note, 0);
        EXPECT_EQ(cells[2].shownEffect, 0x0F);
        EXPECT_EQ(cells[2].shownParam, 0x03);
        EXPECT_EQ(cells[5 * 3 + 1].note, NOTE_KEY_OFF);
        EXPECT_EQ(cells[63 * 3 + 2].note, 0);  // above 97: no note
        EXPECT_EQ(cells[63 * 3 + 2].shownNote, 100);  // shown as it comes
        EXPECT_EQ(cells[63 * 3 + 2].instrument, 0);  // above 128
    }
}

TEST(XmPatterns, EmptyPatternReadsNoBytes) {
    XmSong xm = makeXmSong(2, 2);
    xm.patterns[0].rows = 100;
    xm.patterns[0].packing = XmPacking::Empty;
    cellAt(xm.patterns[1], 2, 0, 0) = {12, 0, 0, 0, 0};
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->patterns[0].rowCount, 100);
    ASSERT_NE(song->patterns[0].cells, nullptr);
    EXPECT_EQ(song->patterns[0].cells[199].note, 0);
    EXPECT_EQ(song->patterns[1].cells[0].note, 12);  // read right after the empty one
}

TEST(XmPatterns, OrderTableNamingMissingPatterns) {
    XmSong xm = makeXmSong(4, 10);
    xm.orders = {0, 200, 3};
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->usedPatternCount, 201);
    EXPECT_EQ(song->patternCount, 201);
    for (int p = 10; p <= 200; ++p) {
        ASSERT_EQ(song->patterns[p].rowCount, 64);
        ASSERT_NE(song->patterns[p].cells, nullptr);
    }
    EXPECT_EQ(song->patterns[200].cells[64 * 4 - 1].note, 0);
}

TEST(XmPatterns, UnusedPatternsAreKept) {
    XmSong xm = makeXmSong(2, 5);
    xm.orders = {1};
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->usedPatternCount, 2);
    EXPECT_EQ(song->patternCount, 5);
}

TEST(XmSamples, EightBitDeltasBecomeSixteenBitFrames) {
    XmSample s = makeSample({10, 0, 5}, false);
    SongPtr song = loadOwnedSong(writeXm(songWithSample(s)));
    ASSERT_TRUE(song);
    const Sample& smp = firstSample(song);
    EXPECT_EQ(smp.length, 3u);
    EXPECT_EQ(smp.bits, 16);
    EXPECT_EQ(smp.loopMode, LOOP_NONE);
    EXPECT_EQ(smp.loopStart, 0u);
    EXPECT_EQ(smp.loopLength, 3u);
    EXPECT_EQ(smp.data[0], 2560);
    EXPECT_EQ(smp.data[1], 0);
    EXPECT_EQ(smp.data[2], 1280);
    for (int k = 3; k < 11; ++k) EXPECT_EQ(smp.data[k], 0) << "guard frame " << k;
}

TEST(XmSamples, StoredDeltasWrapModuloTheWidth) {
    // Stored deltas 10, 246, 5 give 10, 0, 5; the writer produces exactly those bytes.
    std::vector<uint8_t> bytes = writeXm(songWithSample(makeSample({10, 0, 5}, false)));
    ASSERT_EQ(bytes[bytes.size() - 3], 10);
    ASSERT_EQ(bytes[bytes.size() - 2], 246);
    ASSERT_EQ(bytes[bytes.size() - 1], 5);
    std::vector<int16_t> frames = {-32768, 32767, -1, 0, 12345};
    SongPtr song = loadOwnedSong(writeXm(songWithSample(makeSample(frames, true))));
    ASSERT_TRUE(song);
    for (size_t k = 0; k < frames.size(); ++k) EXPECT_EQ(firstSample(song).data[k], frames[k]);
}

TEST(XmSamples, LoopsAreInFramesWithGuardFrames) {
    std::vector<int16_t> frames(20);
    for (int k = 0; k < 20; ++k) frames[k] = static_cast<int16_t>(100 * (k + 1));
    XmSample forward = makeSample(frames, true);
    forward.loopType = 1;
    forward.loopStart = 4;
    forward.loopLength = 10;
    XmSample pingpong = forward;
    pingpong.loopType = 3;  // both bits: ping-pong
    XmSong xm = makeXmSong(2, 1);
    XmInstrument ins = makeInstrument(forward);
    ins.samples.push_back(pingpong);
    xm.instruments.push_back(ins);
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    const Sample& f = *instrumentSample(song.get(), 0, 0);
    const Sample& p = *instrumentSample(song.get(), 0, 1);
    EXPECT_EQ(f.loopMode, LOOP_FORWARD);
    EXPECT_EQ(f.length, 20u);
    EXPECT_EQ(f.loopStart, 4u);
    EXPECT_EQ(f.loopLength, 10u);
    EXPECT_EQ(f.data[14], f.data[4]);
    EXPECT_EQ(p.loopMode, LOOP_PINGPONG);
    EXPECT_EQ(p.data[14], p.data[13]);
    EXPECT_EQ(song->instruments[0].sampleCount, 2);
    EXPECT_EQ(instrumentSample(song.get(), 0, 2), nullptr);
}

TEST(XmSamples, ZeroLoopLengthMeansNoLoop) {
    // 16-bit, 1000 bytes, loop start 200 bytes; loop lengths of 0 and 1 byte both halve to 0.
    for (int loopBytes : {0, 1}) {
        XmSong xm = makeXmSong(2, 1);
        XmSample s = makeSample(std::vector<int16_t>(500, 7), true);
        s.loopType = 1;
        s.loopStart = 100;
        s.loopLength = 0;
        xm.instruments.push_back(makeInstrument(s));
        std::vector<uint8_t> bytes = writeXm(xm);
        // Patch the loop length field in bytes (the writer counts frames).
        size_t header = bytes.size() - 1000 - 40;
        bytes[header + 8] = static_cast<uint8_t>(loopBytes);
        SongPtr song = loadOwnedSong(bytes);
        ASSERT_TRUE(song);
        const Sample& smp = firstSample(song);
        EXPECT_EQ(smp.length, 500u);
        EXPECT_EQ(smp.loopStart, 0u);
        EXPECT_EQ(smp.loopLength, 500u);
        EXPECT_EQ(smp.loopMode, LOOP_NONE);
    }
}

TEST(XmSamples, OddSixteenBitLengthLeavesAByteForTheNextSample) {
    XmSong xm = makeXmSong(2, 1);
    XmSample a = makeSample({1000, 2000}, true);
    a.lengthBytesOverride = 3;  // odd: 1 frame is read, the next sample starts at byte 2
    XmSample b = makeSample({5, 6}, false);
    XmInstrument ins = makeInstrument(a);
    ins.samples.push_back(b);
    xm.instruments.push_back(ins);
    std::vector<uint8_t> bytes = writeXm(xm);
    SongPtr song = loadOwnedSong(bytes);
    ASSERT_TRUE(song);
    const Sample& first = *instrumentSample(song.get(), 0, 0);
    const Sample& second = *instrumentSample(song.get(), 0, 1);
    EXPECT_EQ(first.length, 1u);
    EXPECT_EQ(first.data[0], 1000);
    // The second sample's 2 bytes are the first sample's third and fourth bytes: 2000 - 1000 =
    // 1000 = 0x03E8 stored as E8 03, so the second sample reads the deltas E8 (-24) and 03.
    EXPECT_EQ(second.data[0], -24 * 256);
    EXPECT_EQ(second.data[1], -21 * 256);
}

TEST(XmSamples, HookSuppliesPlainData) {
    static int calls = 0;
    static int seenBits = 0, seenBytes = 0, seenInstrument = -1, seenSlot = -1;
    auto hook = [](uint8_t* buffer, int byteCount, int bits, int instrumentIndex,
                   int sampleIndex) -> int {
        ++calls;
        seenBits = bits;
        seenBytes = byteCount;
        seenInstrument = instrumentIndex;
        seenSlot = sampleIndex;
        for (int k = 0; k < byteCount; ++k) buffer[k] = static_cast<uint8_t>(k + 1);
        return 0;
    };
    XmSong xm = makeXmSong(2, 1);
    xm.instruments.push_back(makeInstrument(makeSample({0}, false)));  // empty-sample instrument
    xm.instruments[0].samples.clear();
    xm.instruments.push_back(makeInstrument(makeSample({9, 9, 9, 9}, false)));
    cellAt(xm.patterns[0], 2, 0, 0) = {1, 2, 0, 0, 0};
    SongPtr song = loadOwnedSong(writeXm(xm), hook);
    ASSERT_TRUE(song);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(seenBits, 8);
    EXPECT_EQ(seenBytes, 4);
    EXPECT_EQ(seenInstrument, 1);
    EXPECT_EQ(seenSlot, 0);
    const Sample& smp = *instrumentSample(song.get(), 1, 0);
    // Taken as plain: 1, 2, 3, 4 scaled, not delta-summed.
    EXPECT_EQ(smp.data[0], 256);
    EXPECT_EQ(smp.data[3], 1024);
}

TEST(XmInstruments, HeaderFieldsAndEnvelopes) {
    XmInstrument ins = makeInstrument(makeSample({1, 2, 3}, false));
    ins.noteSampleMap[50] = 3;
    ins.volumeEnvelope = {{0, 64}, {10, 32}, {20, 0}};
    ins.volumeFlags = 7;
    ins.volumeSustain = 1;
    ins.volumeLoopStart = 0;
    ins.volumeLoopEnd = 2;
    ins.panningEnvelope = {{0, 32}};  // one point: switched off
    ins.panningFlags = 1;
    ins.vibratoType = 1;
    ins.vibratoSweep = 2;
    ins.vibratoDepth = 3;
    ins.vibratoRate = 4;
    ins.fadeout = 0x1234;
    XmSong xm = makeXmSong(2, 1);
    xm.instruments.push_back(ins);
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    const Instrument& i = song->instruments[0];
    // Map entries beyond the instrument's samples play nothing; the others name the pool.
    EXPECT_EQ(i.keyboard[50].sample, NO_SAMPLE);
    EXPECT_EQ(i.keyboard[50].note, 50);
    EXPECT_EQ(i.keyboard[0].sample, i.firstSample);
    EXPECT_EQ(i.volumeEnvelope.pointCount, 3);
    EXPECT_EQ(i.volumeEnvelope.points[1].position, 10);
    EXPECT_EQ(i.volumeEnvelope.points[1].value, 32);
    EXPECT_EQ(i.volumeEnvelope.flags, 7);
    EXPECT_EQ(i.volumeEnvelope.sustainStart, 1);
    EXPECT_EQ(i.volumeEnvelope.loopEnd, 2);
    EXPECT_EQ(i.panningEnvelope.flags, 0);
    EXPECT_EQ(i.vibratoType, 1);
    EXPECT_EQ(i.vibratoSweep, 2);
    EXPECT_EQ(i.vibratoDepth, 3);
    EXPECT_EQ(i.vibratoRate, 4);
    EXPECT_EQ(i.fadeout, 0x2468);
}

TEST(XmInstruments, EmptyInstrumentConsumesExactlyItsHeaderSize) {
    for (uint32_t headerSize : {29u, 40u, 263u}) {
        XmSong xm = makeXmSong(2, 1);
        XmInstrument empty;
        empty.headerSize = headerSize;
        xm.instruments.push_back(empty);
        XmSample s = makeSample({4, 4}, false);
        s.volume = 33;
        xm.instruments.push_back(makeInstrument(s));
        SongPtr song = loadOwnedSong(writeXm(xm));
        ASSERT_TRUE(song) << headerSize;
        EXPECT_EQ(song->instruments[0].sampleCount, 0);
        EXPECT_EQ(instrumentSample(song.get(), 0, 0), nullptr);
        EXPECT_EQ(instrumentSample(song.get(), 1, 0)->volume, 33);
    }
}

TEST(XmInstruments, SampleHeaderFields) {
    XmSample s = makeSample({1, 2}, false);
    s.volume = 48;
    s.finetune = -16;
    s.panning = 200;
    s.relativeNote = -12;
    SongPtr song = loadOwnedSong(writeXm(songWithSample(s)));
    ASSERT_TRUE(song);
    const Sample& smp = firstSample(song);
    EXPECT_EQ(smp.volume, 48);
    EXPECT_EQ(smp.finetune, -16);
    EXPECT_EQ(smp.panning, 200);
    EXPECT_EQ(smp.relativeNote, -12);
}

TEST(XmInstruments, ZeroLengthSampleHasNoData) {
    XmSong xm = makeXmSong(2, 1);
    XmInstrument ins = makeInstrument(makeSample({}, false));
    ins.samples.push_back(makeSample({3}, false));
    xm.instruments.push_back(ins);
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    EXPECT_EQ(instrumentSample(song.get(), 0, 0)->data, nullptr);
    EXPECT_EQ(instrumentSample(song.get(), 0, 1)->data[0], 3 * 256);
}

TEST(Song, FreeSongOfNullReturnsZero) { EXPECT_EQ(freeSong(nullptr), 0); }
