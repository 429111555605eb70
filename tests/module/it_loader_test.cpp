// The IT loader: the header and its flags, orders, message and macros; instruments in both
// layouts and sample mode; samples plain and compressed, 8 and 16 bits, stereo, cut at every
// length; patterns of any row count; damaged and hostile files.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <random>

#include "module/commands.h"
#include "module/file_access.h"
#include "module/it_samples.h"
#include "module/song.h"
#include "tests/support/it_writer.h"

namespace {

struct Release {
    void operator()(Song* song) const { releaseSong(song); }
};
using Loaded = std::unique_ptr<Song, Release>;

LoadError lastError;

Loaded load(const std::vector<uint8_t>& bytes) {
    char path[64];
    memoryModulePath(path, sizeof path, bytes.data(), bytes.size());
    return Loaded(readSongWith(&memoryFileCallbacks, path, nullptr, &lastError));
}

const NoteCell& cellOf(const Song& song, int pattern, int row, int channel) {
    return song.patterns[pattern].cells[row * song.channelCount + channel];
}

// A song of one instrument on one sample, a note in channel 0.
ItSong oneNoteSong() {
    ItSong song = makeItSong(4, 1);
    song.samples.push_back(makeItSample(std::vector<int16_t>(100, 20), true));
    song.instruments.push_back(makeItInstrument(1));
    itCellAt(song, 0, 0, 0) = {60, 1, 64, 0, 0};
    return song;
}

// Frames of varied size, so that the compressor changes its width often.
std::vector<int16_t> variedFrames(size_t count, int bits, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<int16_t> frames(count);
    const int top = bits == 8 ? 127 : 32767;
    int value = 0;
    for (size_t k = 0; k < count; ++k) {
        // Runs of small steps, medium steps and jumps.
        const int phase = static_cast<int>(k / 37 % 4);
        const int step = phase == 0 ? 1 : phase == 1 ? 9 : phase == 2 ? top / 3 : top * 2;
        value += static_cast<int>(random() % (2 * step + 1)) - step;
        value = value > top ? top : value < -top - 1 ? -top - 1 : value;
        frames[k] = static_cast<int16_t>(value);
    }
    return frames;
}

std::vector<int16_t> scaled(const std::vector<int16_t>& frames, bool sixteenBit) {
    std::vector<int16_t> out;
    for (int16_t f : frames) out.push_back(static_cast<int16_t>(sixteenBit ? f : f * 256));
    return out;
}

std::vector<int16_t> loadedFrames(const Sample& smp) {
    return std::vector<int16_t>(smp.data, smp.data + smp.length);
}

}  // namespace

TEST(ItLoader, HeaderFlagsChannelsOrdersMessageAndMacros) {
    ItSong song = oneNoteSong();
    song.title = "impulse test";
    song.flags = 1 | 4 | 8 | 16 | 32;
    song.globalVolume = 100;
    song.mixVolume = 60;
    song.speed = 4;
    song.tempo = 150;
    song.separation = 64;
    song.channelPanning[0] = 0;
    song.channelPanning[1] = 64;
    song.channelPanning[2] = 100;  // surround
    song.channelPanning[3] = 128 | 16;  // disabled
    song.channelVolume[1] = 20;
    song.orders = {0, 254, 0, 255, 0};
    song.message = "line one\nline two";
    song.editHistory = true;
    song.midiConfig.assign(4896, 0);
    memcpy(song.midiConfig.data() + 9 * 32, "F0F000z", 7);  // SF0
    memcpy(song.midiConfig.data() + 25 * 32 + 5 * 32, "F0F00123", 8);  // Z85
    itCellAt(song, 0, 5, 3) = {-1, 0, -1, 1, 3};  // channel 4 in use
    Loaded loaded = load(writeIt(song));
    ASSERT_TRUE(loaded) << lastError.reason;
    const Song& s = *loaded;
    EXPECT_EQ(s.format, FORMAT_IT);
    EXPECT_STREQ(s.title, "impulse test");
    EXPECT_STREQ(s.tracker, "Impulse Tracker 2.14");
    EXPECT_TRUE(s.instrumentMode);
    EXPECT_EQ(s.songFlags & 1, 1);
    EXPECT_EQ(s.fileBehaviours, BEHAVIOUR_IT_OLD_EFFECTS | BEHAVIOUR_IT_LINKED_TONE_PORTA);
    EXPECT_EQ(s.initialGlobalVolume, 100);
    EXPECT_EQ(s.globalVolumeRange, 128);
    EXPECT_EQ(s.mixVolume, 60);
    EXPECT_EQ(s.defaultSpeed, 4);
    EXPECT_EQ(s.defaultBpm, 150);
    EXPECT_EQ(s.panSeparation, 64);
    EXPECT_EQ(s.channelCount, 4);
    EXPECT_EQ(s.channelPanning[0], 0);
    EXPECT_EQ(s.channelPanning[1], 255);
    EXPECT_EQ(s.channelFlags[2], CHANNEL_SURROUND);
    EXPECT_EQ(s.channelFlags[3], CHANNEL_DISABLED);
    EXPECT_EQ(s.channelPanning[3], 64);
    EXPECT_EQ(s.channelVolume[1], 20);
    EXPECT_EQ(s.channelVolume[0], 64);
    EXPECT_EQ(s.songLength, 3);
    EXPECT_EQ(s.orderTable[1], ORDER_SKIP);
    EXPECT_EQ(s.orderTable[3], ORDER_END);
    EXPECT_EQ(s.orderTable[4], 0);
    ASSERT_NE(s.message, nullptr);
    EXPECT_STREQ(s.message, "line one\nline two");
    ASSERT_NE(s.midiMacros, nullptr);
    EXPECT_STREQ(s.midiMacros->fixed[5], "F0F00123");
    EXPECT_STREQ(s.midiMacros->parametered[0], "F0F000z");
    EXPECT_STREQ(defaultMidiMacros()->fixed[15], "F0F00178");

    // Mono, Amiga slides, sample mode, another tracker; no message, no macros.
    song.flags = 0;
    song.createdWith = 0x5117;
    song.message.clear();
    song.midiConfig.clear();
    loaded = load(writeIt(song));
    ASSERT_TRUE(loaded);
    EXPECT_STREQ(loaded->tracker, "OpenMPT 1.17");
    EXPECT_EQ(loaded->panSeparation, 0);
    EXPECT_EQ(loaded->songFlags & 1, 0);
    EXPECT_FALSE(loaded->instrumentMode);
    EXPECT_EQ(loaded->message, nullptr);
    EXPECT_EQ(loaded->midiMacros, nullptr);
}

TEST(ItLoader, NewInstrumentLayout) {
    ItSong song = oneNoteSong();
    song.samples.push_back(makeItSample(std::vector<int16_t>(50, -3), false));
    ItInstrument& ins = song.instruments[0];
    ins.name = "lead";
    ins.newNoteAction = 3;
    ins.duplicateCheck = 2;
    ins.duplicateAction = 1;
    ins.fadeout = 256;
    ins.pitchPanSeparation = -8;
    ins.pitchPanCentre = 48;
    ins.globalVolume = 90;
    ins.panning = 16;
    ins.randomVolume = 25;
    ins.randomPanning = 10;
    ins.filterCutoff = 100;
    ins.filterResonance = 30;
    ins.keyboard[61][0] = 72;
    ins.keyboard[61][1] = 2;
    ins.keyboard[62][1] = 0;
    ins.keyboard[63][1] = 9;  // a sample the song lacks
    ins.volumeEnvelope = {1 | 2 | 4 | 8, {{64, 0}, {32, 10}, {16, 20}, {0, 30}}, 1, 2, 0, 1};
    ins.panningEnvelope = {1, {{-32, 0}, {32, 8}}};
    ins.pitchEnvelope = {1 | 128, {{0, 0}, {-20, 5}, {20, 6}}, 2, 1};  // loop end before start
    Loaded loaded = load(writeIt(song));
    ASSERT_TRUE(loaded) << lastError.reason;
    const Instrument& i = loaded->instruments[0];
    EXPECT_STREQ(i.name, "lead");
    EXPECT_EQ(i.newNoteAction, NNA_NOTE_FADE);
    EXPECT_EQ(i.duplicateCheck, DUPLICATE_SAMPLE);
    EXPECT_EQ(i.duplicateAction, DUPLICATE_ACTION_NOTE_OFF);
    EXPECT_EQ(i.fadeout, 256 * 64);
    EXPECT_EQ(i.pitchPanSeparation, -8);
    EXPECT_EQ(i.pitchPanCentre, 48);
    EXPECT_EQ(i.globalVolume, 90);
    EXPECT_EQ(i.defaultPanning, 64);
    EXPECT_EQ(i.randomVolume, 25);
    EXPECT_EQ(i.randomPanning, 10);
    EXPECT_EQ(i.filterCutoff, 0x80 | 100);
    EXPECT_EQ(i.filterResonance, 0x80 | 30);
    EXPECT_EQ(i.keyboard[60].sample, 0);
    EXPECT_EQ(i.keyboard[60].note, 60);
    EXPECT_EQ(i.keyboard[61].sample, 1);
    EXPECT_EQ(i.keyboard[61].note, 72);
    EXPECT_EQ(i.keyboard[62].sample, NO_SAMPLE);
    EXPECT_EQ(i.keyboard[63].sample, NO_SAMPLE);
    const Envelope& volume = i.volumeEnvelope;
    EXPECT_EQ(volume.flags, ENVELOPE_ON | ENVELOPE_LOOP | ENVELOPE_SUSTAIN | ENVELOPE_CARRY);
    EXPECT_EQ(volume.pointCount, 4);
    EXPECT_EQ(volume.points[2].position, 20);
    EXPECT_EQ(volume.points[2].value, 16);
    EXPECT_EQ(volume.loopStart, 1);
    EXPECT_EQ(volume.loopEnd, 2);
    EXPECT_EQ(volume.sustainEnd, 1);
    EXPECT_EQ(i.panningEnvelope.points[0].value, 0);  // around the centre 32
    EXPECT_EQ(i.panningEnvelope.points[1].value, 64);
    EXPECT_EQ(i.pitchEnvelope.flags, ENVELOPE_ON | ENVELOPE_FILTER);
    EXPECT_EQ(i.pitchEnvelope.points[1].value, -20);
}

TEST(ItLoader, OldInstrumentLayout) {
    ItSong song = oneNoteSong();
    song.compatibleWith = 0x0100;
    ItInstrument& ins = song.instruments[0];
    ins.name = "old";
    ins.newNoteAction = 2;
    ins.duplicateCheck = 1;
    ins.fadeout = 32;
    ins.volumeEnvelope = {1 | 4, {{64, 0}, {40, 4}, {0, 12}}, 0, 0, 1, 1};
    Loaded loaded = load(writeIt(song));
    ASSERT_TRUE(loaded) << lastError.reason;
    const Instrument& i = loaded->instruments[0];
    EXPECT_STREQ(i.name, "old");
    EXPECT_EQ(i.newNoteAction, NNA_NOTE_OFF);
    EXPECT_EQ(i.duplicateCheck, DUPLICATE_NOTE);
    EXPECT_EQ(i.duplicateAction, DUPLICATE_ACTION_CUT);
    EXPECT_EQ(i.fadeout, 32 * 128);
    EXPECT_EQ(i.globalVolume, 128);
    EXPECT_EQ(i.defaultPanning, -1);
    EXPECT_EQ(i.volumeEnvelope.flags, ENVELOPE_ON | ENVELOPE_SUSTAIN);
    EXPECT_EQ(i.volumeEnvelope.pointCount, 3);
    EXPECT_EQ(i.volumeEnvelope.points[1].position, 4);
    EXPECT_EQ(i.volumeEnvelope.points[1].value, 40);
    EXPECT_EQ(i.volumeEnvelope.sustainStart, 1);
    EXPECT_EQ(i.panningEnvelope.flags, 0);
    EXPECT_EQ(i.keyboard[60].sample, 0);
}

TEST(ItLoader, SampleModeGivesEachSampleAPlainInstrument) {
    ItSong song = oneNoteSong();
    song.flags = 1 | 8;
    song.samples.push_back(makeItSample(std::vector<int16_t>(30, 5), false));
    song.samples[1].name = "second";
    song.instruments[0].keyboard[60][1] = 2;  // ignored in sample mode
    Loaded loaded = load(writeIt(song));
    ASSERT_TRUE(loaded) << lastError.reason;
    EXPECT_FALSE(loaded->instrumentMode);
    ASSERT_EQ(loaded->instrumentCount, 2);
    for (int i = 0; i < 2; ++i) {
        const Instrument& ins = loaded->instruments[i];
        EXPECT_EQ(ins.globalVolume, 128);
        EXPECT_EQ(ins.volumeEnvelope.flags, 0);
        for (int n : {0, 60, 119}) {
            EXPECT_EQ(ins.keyboard[n].sample, i);
            EXPECT_EQ(ins.keyboard[n].note, n);
        }
    }
    EXPECT_STREQ(loaded->instruments[1].name, "second");
}

TEST(ItLoader, SampleHeaderFields) {
    ItSong song = oneNoteSong();
    ItSample& s = song.samples[0];
    s.frames = std::vector<int16_t>(200, 1);
    s.loop = true;
    s.pingPong = true;
    s.loopStart = 10;
    s.loopEnd = 300;  // beyond the end: brought back to it
    s.sustain = true;
    s.sustainStart = 20;
    s.sustainEnd = 40;
    s.middleCRate = 22050;
    s.volume = 50;
    s.globalVolume = 40;
    s.panning = 48;
    s.vibratoSpeed = 10;
    s.vibratoDepth = 20;
    s.vibratoRate = 30;
    s.vibratoType = 2;
    s.name = "sample name";
    Loaded loaded = load(writeIt(song));
    ASSERT_TRUE(loaded) << lastError.reason;
    const Sample& smp = loaded->samples[0];
    EXPECT_EQ(smp.length, 200u);
    EXPECT_EQ(smp.loopMode, LOOP_PINGPONG);
    EXPECT_EQ(smp.loopStart, 10u);
    EXPECT_EQ(smp.loopLength, 190u);
    EXPECT_EQ(smp.sustainMode, LOOP_FORWARD);
    EXPECT_EQ(smp.sustainStart, 20u);
    EXPECT_EQ(smp.sustainLength, 20u);
    EXPECT_EQ(smp.middleCRate, 22050u);
    EXPECT_EQ(smp.volume, 50);
    EXPECT_EQ(smp.globalVolume, 40);
    EXPECT_EQ(smp.panning, 192);
    EXPECT_EQ(smp.vibratoRate, 10);
    EXPECT_EQ(smp.vibratoDepth, 20);
    EXPECT_EQ(smp.vibratoSweep, 30);
    EXPECT_EQ(smp.vibratoType, 1);  // IT's square is XM's 1
    EXPECT_STREQ(smp.name, "sample name");
}

struct Coding {
    const char* name;
    bool sixteenBit, compressed, doubleDelta, signedData, deltaData, bigEndian, stereo;
};

class ItSampleCoding : public testing::TestWithParam<Coding> {};

TEST_P(ItSampleCoding, FramesComeBackAsWritten) {
    const Coding& c = GetParam();
    const int bits = c.sixteenBit ? 16 : 8;
    ItSong song = oneNoteSong();
    ItSample& s = song.samples[0];
    // Longer than a compressed block, so that the second block starts afresh.
    const size_t count = c.compressed ? (c.sixteenBit ? 0x4000 : 0x8000) + 777 : 3001;
    s.frames = variedFrames(count, bits, 7);
    if (c.stereo) s.right = variedFrames(count, bits, 8);
    s.sixteenBit = c.sixteenBit;
    s.compressed = c.compressed;
    s.doubleDelta = c.doubleDelta;
    s.signedData = c.signedData;
    s.deltaData = c.deltaData;
    s.bigEndian = c.bigEndian;
    s.loop = false;
    Loaded loaded = load(writeIt(song));
    ASSERT_TRUE(loaded) << lastError.reason;
    const Sample& smp = loaded->samples[0];
    ASSERT_EQ(smp.length, count);
    EXPECT_EQ(smp.fileBits, bits);
    EXPECT_EQ(smp.stereo, c.stereo ? 1 : 0);
    std::vector<int16_t> expected = scaled(s.frames, c.sixteenBit);
    if (c.stereo) {
        const std::vector<int16_t> right = scaled(s.right, c.sixteenBit);
        for (size_t k = 0; k < count; ++k)
            expected[k] = static_cast<int16_t>((expected[k] + right[k]) / 2);
    }
    EXPECT_EQ(loadedFrames(smp), expected);
    for (int k = 0; k < 8; ++k) EXPECT_EQ(smp.data[count + k], 0) << "guard frame " << k;
}

INSTANTIATE_TEST_SUITE_P(
    Codings, ItSampleCoding,
    testing::Values(Coding{"plain8", false, false, false, true, false, false, false},
                    Coding{"plain16", true, false, false, true, false, false, false},
                    Coding{"unsigned8", false, false, false, false, false, false, false},
                    Coding{"unsigned16", true, false, false, false, false, false, false},
                    Coding{"delta8", false, false, false, true, true, false, false},
                    Coding{"bigEndian16", true, false, false, true, false, true, false},
                    Coding{"stereo8", false, false, false, true, false, false, true},
                    Coding{"compressed8", false, true, false, true, false, false, false},
                    Coding{"compressed16", true, true, false, true, false, false, false},
                    Coding{"it215_8", false, true, true, true, false, false, false},
                    Coding{"it215_16", true, true, true, true, false, false, false},
                    Coding{"compressedStereo16", true, true, false, true, false, false, true}),
    [](const testing::TestParamInfo<Coding>& info) { return std::string(info.param.name); });

// A compressed sample whose file ends at every byte of its data loads the frames before the cut
// exactly and no more than were written.
TEST(ItLoader, CompressedSamplesCutAtEveryLength) {
    for (int bits : {8, 16}) {
        for (bool doubleDelta : {false, true}) {
            ItSong song = oneNoteSong();
            ItSample& s = song.samples[0];
            s.frames = variedFrames(300, bits, 3);
            s.sixteenBit = bits == 16;
            s.compressed = true;
            s.doubleDelta = doubleDelta;
            s.loop = false;
            const std::vector<uint8_t> whole = writeIt(song);
            const size_t start = itSampleDataOffset(song, 0);
            const std::vector<int16_t> expected = scaled(s.frames, bits == 16);
            uint32_t previous = 0;
            for (size_t end = start; end <= whole.size(); ++end) {
                const std::vector<uint8_t> cut(whole.begin(), whole.begin() + end);
                Loaded loaded = load(cut);
                ASSERT_TRUE(loaded) << bits << " bits cut at " << end;
                const Sample& smp = loaded->samples[0];
                ASSERT_LE(smp.length, expected.size());
                EXPECT_GE(smp.length, previous) << "a longer file loads no fewer frames";
                previous = smp.length;
                ASSERT_TRUE(std::equal(smp.data, smp.data + smp.length, expected.begin()))
                    << bits << " bits cut at " << end;
                if (end < whole.size()) {
                    EXPECT_GT(loaded->repairCount, 0);
                }
            }
            EXPECT_EQ(previous, expected.size());
        }
    }
}

// The decoder on its own: widths changing at random, silence, full swings, over several blocks.
TEST(ItLoader, DecompressorRoundTripsEveryWidth) {
    for (int bits : {8, 16}) {
        std::mt19937 random(11);
        std::vector<int16_t> frames(0x8000 * 2 + 5);
        const int top = bits == 8 ? 127 : 32767;
        for (size_t k = 0; k < frames.size(); ++k) {
            const int width = static_cast<int>(random() % static_cast<unsigned>(bits)) + 1;
            const int range = width >= bits ? top : (1 << (width - 1));
            int value = static_cast<int>(random() % static_cast<unsigned>(2 * range + 1)) - range;
            if (k % 1000 < 100) value = 0;
            if (k % 1000 > 990) value = (k & 1) ? top : -top - 1;
            frames[k] = static_cast<int16_t>(value);
        }
        for (bool doubleDelta : {false, true}) {
            const std::vector<uint8_t> packed = compressItSample(frames, bits, doubleDelta);
            std::vector<int16_t> out(frames.size());
            size_t used = 0;
            ASSERT_EQ(
                decompressItSample(packed.data(), packed.size(), out.data(),
                                   static_cast<uint32_t>(out.size()), bits, doubleDelta, &used),
                frames.size());
            EXPECT_EQ(used, packed.size());
            EXPECT_EQ(out, scaled(frames, bits == 16)) << bits << " bits";
        }
    }
}

TEST(ItLoader, PatternsOfAnyRowCountAndTheirCells) {
    ItSong song = makeItSong(3, 3);
    song.samples.push_back(makeItSample(std::vector<int16_t>(10, 1), false));
    song.instruments.push_back(makeItInstrument(1));
    song.orders = {0, 1, 2, 255};
    song.patterns[0].rows = 1;
    song.patterns[0].cells.resize(3);
    song.patterns[1].rows = 300;
    song.patterns[1].cells.resize(900);
    song.patterns[2].empty = true;
    itCellAt(song, 0, 0, 0) = {0, 1, 64, 1, 3};
    itCellAt(song, 1, 0, 0) = {119, 1, 65 + 3, 20, 0x18};  // B-9, fine up 3, T18
    itCellAt(song, 1, 1, 0) = {119, 1, 65 + 3, 20, 0x18};  // the same again: repeat forms
    itCellAt(song, 1, 2, 1) = {255, 0, 128 + 32, 16, 0x40};  // off, pan 32, P40
    itCellAt(song, 1, 3, 1) = {254, 0, 193 + 3, 19, 0x71};  // cut, g3, S71
    itCellAt(song, 1, 4, 1) = {200, 0, 203 + 5, 4, 0};  // fade, h5, D00
    itCellAt(song, 1, 299, 2) = {-1, 0, 110, 8, 0x44};  // e5, H44
    for (bool repeatForms : {true, false}) {
        for (auto& p : song.patterns) p.repeatForms = repeatForms;
        Loaded loaded = load(writeIt(song));
        ASSERT_TRUE(loaded) << lastError.reason;
        const Song& s = *loaded;
        EXPECT_EQ(s.channelCount, 3);
        EXPECT_EQ(s.patterns[0].rowCount, 1);
        EXPECT_EQ(s.patterns[1].rowCount, 300);
        EXPECT_EQ(s.patterns[2].rowCount, 64);
        EXPECT_EQ(cellOf(s, 0, 0, 0).note, 1);
        EXPECT_EQ(cellOf(s, 0, 0, 0).effect.command, CMD_SET_SPEED);
        for (int row : {0, 1}) {
            const NoteCell& c = cellOf(s, 1, row, 0);
            EXPECT_EQ(c.note, 120);
            EXPECT_EQ(c.instrument, 1);
            EXPECT_EQ(c.volume.command, VOL_FINE_SLIDE_UP);
            EXPECT_EQ(c.volume.param, 3);
            EXPECT_EQ(c.effect.command, CMD_TEMPO_SLIDE);
            EXPECT_EQ(c.effect.param, 0x18);
            EXPECT_EQ(c.shownEffect, 20);
        }
        EXPECT_EQ(cellOf(s, 1, 2, 1).note, NOTE_KEY_OFF);
        EXPECT_EQ(cellOf(s, 1, 2, 1).volume.command, VOL_SET_PANNING);
        EXPECT_EQ(cellOf(s, 1, 2, 1).volume.param, 128);
        EXPECT_EQ(cellOf(s, 1, 2, 1).effect.command, CMD_PANNING_SLIDE);
        EXPECT_EQ(cellOf(s, 1, 2, 1).effect.param, 0x04);  // left by 4 in the engine's order
        EXPECT_EQ(cellOf(s, 1, 3, 1).note, NOTE_CUT);
        EXPECT_EQ(cellOf(s, 1, 3, 1).volume.command, VOL_TONE_PORTA);
        EXPECT_EQ(cellOf(s, 1, 3, 1).volume.param, 8);
        EXPECT_EQ(cellOf(s, 1, 3, 1).effect.command, CMD_PAST_NOTES);
        EXPECT_EQ(cellOf(s, 1, 3, 1).effect.param, 1);
        EXPECT_EQ(cellOf(s, 1, 4, 1).note, NOTE_FADE);
        EXPECT_EQ(cellOf(s, 1, 4, 1).volume.command, VOL_VIBRATO);
        EXPECT_EQ(cellOf(s, 1, 4, 1).effect.command, CMD_VOLUME_SLIDE);
        EXPECT_EQ(cellOf(s, 1, 299, 2).volume.command, VOL_PORTA_DOWN);
        EXPECT_EQ(cellOf(s, 1, 299, 2).volume.param, 20);
        EXPECT_EQ(cellOf(s, 1, 299, 2).effect.command, CMD_VIBRATO);
        EXPECT_EQ(cellOf(s, 1, 5, 1).shownVolume, 0xFF) << "no volume is not volume 0";
        EXPECT_EQ(cellOf(s, 1, 5, 1).note, 0);
    }
}

TEST(ItLoader, EffectLettersDecode) {
    const struct {
        uint8_t effect, param;
        CellCommand expected;
    } cases[] = {
        {1, 0, {CMD_NONE, 0}},
        {3, 0x20, {CMD_PATTERN_BREAK, 0x20}},
        {13, 0x30, {CMD_SET_CHANNEL_VOLUME, 0x30}},
        {13, 0x41, {CMD_NONE, 0}},
        {14, 0xF2, {CMD_CHANNEL_VOLUME_SLIDE, 0xF2}},
        {19, 0x73, {CMD_SET_NEW_NOTE_ACTION, NNA_CUT}},
        {19, 0x76, {CMD_SET_NEW_NOTE_ACTION, NNA_NOTE_FADE}},
        {19, 0x77, {CMD_ENVELOPE_SWITCH, 0}},
        {19, 0x7C, {CMD_ENVELOPE_SWITCH, 2 | 4}},
        {19, 0x8F, {CMD_SET_PANNING, 255}},
        {19, 0x91, {CMD_SURROUND, 1}},
        {19, 0xA2, {CMD_HIGH_OFFSET, 2}},
        {19, 0x63, {CMD_FINE_PATTERN_DELAY, 3}},
        {19, 0xF1, {CMD_SET_MIDI_MACRO, 1}},
        {20, 0x05, {CMD_TEMPO_SLIDE, 0x05}},
        {20, 0x20, {CMD_SET_TEMPO, 0x20}},
        {21, 0x12, {CMD_FINE_VIBRATO, 0x12}},
        {22, 0x80, {CMD_SET_GLOBAL_VOLUME, 0x80}},
        {22, 0x81, {CMD_NONE, 0}},
        {25, 0x34, {CMD_PANBRELLO, 0x34}},
        {26, 0x85, {CMD_MIDI_MACRO, 0x85}},
        {27, 0x10, {CMD_NONE, 0}},
    };
    for (const auto& c : cases) {
        const CellCommand got = decodeItEffect(c.effect, c.param);
        EXPECT_EQ(got.command, c.expected.command) << int(c.effect) << " " << int(c.param);
        EXPECT_EQ(got.param, c.expected.param) << int(c.effect) << " " << int(c.param);
    }
}

// Damaged and hostile files: the header cut short fails; what offsets name beyond the file is
// absent; counts the cells cannot name fail; nothing asks for more memory than the file backs.
TEST(ItLoader, HostileHeaders) {
    const std::vector<uint8_t> whole = writeIt(oneNoteSong());
    for (size_t end : {size_t{3}, size_t{4}, size_t{0xBF}}) {
        EXPECT_FALSE(load(std::vector<uint8_t>(whole.begin(), whole.begin() + end))) << end;
    }
    // Cut inside the offset tables.
    EXPECT_FALSE(load(std::vector<uint8_t>(whole.begin(), whole.begin() + 0xC0 + 2 + 5)));
    EXPECT_EQ(lastError.kind, LoadFailure::TRUNCATED);

    // Every cut after the tables loads what is whole.
    for (size_t end = 0xC0 + 2 + 12; end < whole.size(); end += 7) {
        Loaded loaded = load(std::vector<uint8_t>(whole.begin(), whole.begin() + end));
        ASSERT_TRUE(loaded) << end;
        EXPECT_GT(loaded->repairCount, 0) << end;
    }

    // An order list of markers only plays the first pattern.
    ItSong song = oneNoteSong();
    for (const std::vector<uint8_t>& orders :
         {std::vector<uint8_t>{254, 254, 255}, std::vector<uint8_t>{255, 0}}) {
        song.orders = orders;
        Loaded markers = load(writeIt(song));
        ASSERT_TRUE(markers) << lastError.reason;
        EXPECT_EQ(markers->songLength, 1);
        EXPECT_EQ(markers->orderTable[0], 0);
    }

    song = oneNoteSong();
    song.instrumentCountOverride = 300;
    EXPECT_FALSE(load(writeIt(song)));
    EXPECT_EQ(lastError.kind, LoadFailure::DAMAGED);

    // Offsets past the end, a huge sample length, a pattern of 0 rows, a message beyond the file,
    // envelope counts beyond 25 and loops naming absent points.
    song = oneNoteSong();
    song.samples.push_back(makeItSample(std::vector<int16_t>(10, 1), false));
    song.samples[1].dataOffsetOverride = 0x7FFFFFF0;
    song.samples[0].lengthOverride = 0x7FFFFFFF;
    song.samples[0].compressed = true;
    song.patterns[0].rows = 0;
    song.instruments[0].volumeEnvelope = {1 | 2 | 4, {{64, 0}, {0, 5}}, 3, 9, 1, 0};
    song.instruments[0].volumeEnvelope.countOverride = 200;
    song.instruments[0].panningEnvelope = {1, {{0, 0}, {0, 5}, {0, 5}}};  // ticks not rising
    std::vector<uint8_t> bytes = writeIt(song);
    Loaded loaded = load(bytes);
    ASSERT_TRUE(loaded) << lastError.reason;
    EXPECT_EQ(loaded->samples[1].length, 0u);
    EXPECT_LE(loaded->samples[0].length, 8 * bytes.size() + (1 << 20));
    EXPECT_EQ(loaded->patterns[0].rowCount, 64);
    const Instrument& ins = loaded->instruments[0];
    EXPECT_EQ(ins.volumeEnvelope.pointCount, 2);  // the rest are zero ticks: not rising
    EXPECT_EQ(ins.volumeEnvelope.flags, ENVELOPE_ON);
    EXPECT_EQ(ins.panningEnvelope.pointCount, 2);

    // Sample headers that all point at one compressed block cannot multiply it without bound.
    song = oneNoteSong();
    song.samples[0].frames = std::vector<int16_t>(0x8000, 0);
    song.samples[0].compressed = true;
    bytes = writeIt(song);
    const size_t data = itSampleDataOffset(song, 0);
    for (int k = 0; k < 200; ++k) {
        ItSample copy = song.samples[0];
        copy.dataOffsetOverride = static_cast<int64_t>(data);
        copy.lengthOverride = 0x7FFFFFFF;
        song.samples.push_back(copy);
    }
    bytes = writeIt(song);
    loaded = load(bytes);
    ASSERT_TRUE(loaded) << lastError.reason;
    uint64_t total = 0;
    for (int i = 0; i < loaded->sampleCount; ++i) total += loaded->samples[i].length;
    EXPECT_LE(total, 8 * bytes.size() + (1 << 20));
}
