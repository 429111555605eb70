// The S3M loader: the header and the tracker that saved the file, channel settings and panning,
// order markers, sample formats (signed or unsigned, 8 or 16 bits, stereo, 24-bit pointers),
// cells into the engine's commands, AdLib instruments, and cut or hostile files.
#include <gtest/gtest.h>

#include <cstring>

#include "tests/support/load_bytes.h"
#include "tests/support/s3m_writer.h"

namespace {

const NoteCell& cellOf(const Song& song, int pattern, int row, int channel) {
    return song.patterns[pattern].cells[row * song.channelCount + channel];
}

S3mSong oneSampleSong() {
    S3mSong s3m = makeS3mSong(4, 1);
    s3m.samples.push_back(makeS3mSample(s3mSquare(64, 16, 100), 0, 0));
    s3mCellAt(s3m, 0, 0, 0) = {s3mNote(4, 0), 1, 255, 0, 0};
    return s3m;
}

bool hasRepair(const Song& song, const char* text) {
    for (int i = 0; i < song.repairCount && i < REPAIR_NOTE_SLOTS; ++i) {
        if (strstr(song.repairNotes[i], text)) return true;
    }
    return false;
}

}  // namespace

TEST(S3mLoader, HeaderFieldsAndTheTrackerThatSavedIt) {
    const struct {
        uint16_t cwtv;
        uint16_t flags;
        const char* tracker;
        BehaviourSet behaviours;
    } cases[] = {
        {0x1320, 0, "Scream Tracker 3.20", 0},
        {0x1321, 16, "Scream Tracker 3.21", BEHAVIOUR_AMIGA_PERIOD_LIMITS},
        {0x1301, 64, "Scream Tracker 3.01", BEHAVIOUR_FAST_VOLUME_SLIDES},
        {0x1300, 0, "Scream Tracker 3.00", BEHAVIOUR_FAST_VOLUME_SLIDES},
        {0x3214, 0, "Impulse Tracker 2.14", 0},
        {0x5127, 0, "OpenMPT 1.27", 0},
        {0x4050, 0, "Schism Tracker", 0},
        {0x2104, 0, "Imago Orpheus 1.04", 0},
        {0x0000, 0, "unknown tracker 0000", 0},
    };
    for (const auto& c : cases) {
        S3mSong s3m = oneSampleSong();
        s3m.title = "a\x01title   ";
        s3m.trackerVersion = c.cwtv;
        s3m.flags = c.flags;
        s3m.speed = 3;
        s3m.tempo = 150;
        s3m.globalVolume = 99;
        s3m.masterVolume = 0x80 | 5;
        SongPtr song = loadOwnedSong(writeS3m(s3m));
        ASSERT_TRUE(song) << c.tracker << ": " << songLoadError();
        EXPECT_STREQ(song->tracker, c.tracker);
        EXPECT_EQ(song->fileBehaviours, c.behaviours) << c.tracker;
        EXPECT_EQ(song->format, FORMAT_S3M);
        EXPECT_STREQ(song->title, "a title");
        EXPECT_EQ(song->defaultSpeed, 3);
        EXPECT_EQ(song->defaultBpm, 150);
        EXPECT_EQ(song->initialGlobalVolume, 64);
        EXPECT_EQ(song->masterVolume, 16);  // the least Scream Tracker mixes with
    }
    // Speeds of 0 and tempos below 33 are the defaults.
    S3mSong s3m = oneSampleSong();
    s3m.speed = 0;
    s3m.tempo = 32;
    SongPtr song = loadOwnedSong(writeS3m(s3m));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->defaultSpeed, 6);
    EXPECT_EQ(song->defaultBpm, 125);
    EXPECT_EQ(song->masterVolume, 48);
}

TEST(S3mLoader, ChannelSettingsPanningAndDisabledChannels) {
    S3mSong s3m = oneSampleSong();
    s3m.patterns[0].assign(S3M_ROWS * 32, S3mCell{});
    // 0: left 1, 1: right 1, 2: disabled, 3: unused, 4: AdLib melody, 5: right 2.
    const uint8_t settings[6] = {0, 8, 0x80 | 1, 255, 16, 9};
    memcpy(s3m.channelSettings, settings, sizeof settings);
    for (int c = 0; c < 6; ++c) s3mCellAt(s3m, 0, 1, c) = {s3mNote(5, c), 1, 10, 0, 0};
    SongPtr song = loadOwnedSong(writeS3m(s3m));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->channelCount, 6);
    for (int c = 0; c < 6; ++c) {
        const bool off = c >= 2 && c <= 4;
        EXPECT_EQ((song->channelFlags[c] & CHANNEL_DISABLED) != 0, off) << c;
        // Cells of channels that are off are not kept.
        EXPECT_EQ(cellOf(*song, 0, 1, c).note, off ? 0 : 61 + c) << c;
    }
    EXPECT_EQ(song->channelPanning[0], 51);  // 3 of 16 steps
    EXPECT_EQ(song->channelPanning[1], 204);  // C
    EXPECT_EQ(song->channelPanning[5], 204);

    // The pan table counts where an entry has bit 5 set.
    s3m.panTable = true;
    s3m.pans[0] = 0x20 | 0xF;
    s3m.pans[1] = 0x20;
    s3m.pans[5] = 0x0F;
    song = loadOwnedSong(writeS3m(s3m));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->channelPanning[0], 255);
    EXPECT_EQ(song->channelPanning[1], 0);
    EXPECT_EQ(song->channelPanning[5], 204);

    // A mono file puts every channel in the centre.
    s3m.masterVolume = 48;
    song = loadOwnedSong(writeS3m(s3m));
    ASSERT_TRUE(song);
    EXPECT_TRUE(song->fileBehaviours & BEHAVIOUR_MONO);
    for (int c = 0; c < 6; ++c) EXPECT_EQ(song->channelPanning[c], 128) << c;
}

TEST(S3mLoader, OrderMarkersAndTheSongsEnd) {
    S3mSong s3m = makeS3mSong(2, 2);
    s3m.orders = {1, 254, 0, 255, 1, 7};
    SongPtr song = loadOwnedSong(writeS3m(s3m));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->songLength, 3);  // up to the first end marker
    const uint16_t expected[7] = {1, ORDER_SKIP, 0, ORDER_END, 1, 7, ORDER_END};
    for (int i = 0; i < 7; ++i) EXPECT_EQ(song->orderTable[i], expected[i]) << i;
    EXPECT_EQ(song->patternCount, 2);

    // Patterns named but not stored are empty ones.
    s3m.orders = {1, 5};
    song = loadOwnedSong(writeS3m(s3m));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->patternCount, 6);
    EXPECT_EQ(song->patterns[5].rowCount, 64);
    EXPECT_EQ(song->patterns[5].cells[0].note, 0);

    // Nothing but markers: one empty pattern plays.
    s3m.orders = {255, 255};
    song = loadOwnedSong(writeS3m(s3m));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->songLength, 1);
    EXPECT_EQ(song->orderTable[0], 0);
    EXPECT_EQ(song->repairCount, 1);
}

TEST(S3mLoader, SampleDataSignedOrUnsignedEightOrSixteenBitsMonoOrStereo) {
    const std::vector<int16_t> left = {0, 100, -100, 127, -128, 5};
    const std::vector<int16_t> right = {0, -100, 100, 127, -128, 7};
    for (uint16_t format : {1, 2}) {
        for (bool sixteen : {false, true}) {
            for (bool stereo : {false, true}) {
                S3mSong s3m = oneSampleSong();
                s3m.sampleFormat = format;
                S3mSample& s = s3m.samples[0];
                s.sixteenBit = sixteen;
                const int scale = sixteen ? 200 : 1;  // 16-bit values reach further
                s.data.clear();
                for (int16_t v : left) s.data.push_back(static_cast<int16_t>(v * scale));
                s.right.clear();
                for (int16_t v : right) {
                    if (stereo) s.right.push_back(static_cast<int16_t>(v * scale));
                }
                SongPtr song = loadOwnedSong(writeS3m(s3m));
                ASSERT_TRUE(song) << songLoadError();
                const Sample& smp = song->samples[0];
                const std::string what = std::to_string(format) + (sixteen ? " 16" : " 8") +
                                         (stereo ? " stereo" : " mono");
                EXPECT_EQ(smp.fileBits, sixteen ? 16 : 8) << what;
                EXPECT_EQ(smp.stereo, stereo ? 1 : 0) << what;
                ASSERT_EQ(smp.length, left.size()) << what;
                for (size_t k = 0; k < left.size(); ++k) {
                    int32_t v = left[k] * scale * (sixteen ? 1 : 256);
                    if (stereo) v = (v + right[k] * scale * (sixteen ? 1 : 256)) / 2;
                    EXPECT_EQ(smp.data[k], v) << what << " frame " << k;
                }
            }
        }
    }
}

TEST(S3mLoader, InstrumentsLoopsRatesAndTwentyFourBitPointers) {
    S3mSong s3m = oneSampleSong();
    S3mSample looped = makeS3mSample(s3mSquare(100, 10, 50), 20, 80);
    looped.name = "looped";
    looped.fileName = "LOOP.SMP";
    looped.middleC = 16726;
    looped.volume = 80;
    S3mSample overlong = makeS3mSample(s3mSquare(40, 10, 50), 30, 400);
    S3mSample noRate = makeS3mSample(s3mSquare(40, 10, 50), 0, 0);
    noRate.middleC = 0;
    S3mSample adlib;
    adlib.type = 2;
    adlib.name = "organ";
    s3m.samples = {looped, overlong, noRate, adlib};
    // Sample data beyond the first megabyte needs the pointer's third byte.
    s3m.paddingBeforeData = 1 << 20;
    SongPtr song = loadOwnedSong(writeS3m(s3m));
    ASSERT_TRUE(song) << songLoadError();
    ASSERT_EQ(song->instrumentCount, 4);
    ASSERT_EQ(song->sampleCount, 4);
    const Sample& a = song->samples[0];
    EXPECT_STREQ(a.name, "looped");
    EXPECT_STREQ(a.fileName, "LOOP.SMP");
    EXPECT_STREQ(song->instruments[0].name, "looped");
    EXPECT_EQ(a.middleCRate, 16726u);
    EXPECT_EQ(a.volume, 64);
    EXPECT_EQ(a.loopMode, LOOP_FORWARD);
    EXPECT_EQ(a.loopStart, 20u);
    EXPECT_EQ(a.loopLength, 60u);
    EXPECT_EQ(a.data[1], 50 * 256);
    const Sample& b = song->samples[1];
    EXPECT_EQ(b.loopStart, 30u);
    EXPECT_EQ(b.loopLength, 10u);  // brought inside the sample
    EXPECT_EQ(song->samples[2].middleCRate, 8363u);
    EXPECT_STREQ(song->samples[3].name, "organ");
    EXPECT_EQ(song->samples[3].length, 0u);
    EXPECT_TRUE(hasRepair(*song, "C2SPD 0"));
    EXPECT_TRUE(hasRepair(*song, "1 AdLib instruments silent"));
    // Every instrument plays its own sample on every note.
    for (int i = 0; i < 4; ++i) {
        for (int n : {0, 48, NOTE_COUNT - 1}) {
            EXPECT_EQ(song->instruments[i].keyboard[n].sample, i);
            EXPECT_EQ(song->instruments[i].keyboard[n].note, n);
        }
    }
}

TEST(S3mLoader, CellsBecomeNotesVolumesAndTheEnginesCommands) {
    S3mSong s3m = oneSampleSong();
    s3mCellAt(s3m, 0, 1, 0) = {s3mNote(0, 0), 1, 64, 0, 0};
    s3mCellAt(s3m, 0, 1, 1) = {s3mNote(9, 11), 0, 70, 0, 0};
    s3mCellAt(s3m, 0, 1, 2) = {254, 0, 128 + 64, 0, 0};
    s3mCellAt(s3m, 0, 1, 3) = {s3mNote(4, 12), 0, 255, 0, 0};
    SongPtr song = loadOwnedSong(writeS3m(s3m));
    ASSERT_TRUE(song);
    EXPECT_EQ(cellOf(*song, 0, 0, 0).note, 49);  // C-4, the middle C
    EXPECT_EQ(cellOf(*song, 0, 1, 0).note, 1);
    EXPECT_EQ(cellOf(*song, 0, 1, 0).volume.command, VOL_SET_VOLUME);
    EXPECT_EQ(cellOf(*song, 0, 1, 0).volume.param, 64);
    EXPECT_EQ(cellOf(*song, 0, 1, 1).note, 120);
    EXPECT_EQ(cellOf(*song, 0, 1, 1).volume.param, 64);
    EXPECT_EQ(cellOf(*song, 0, 1, 2).note, NOTE_CUT);
    EXPECT_EQ(cellOf(*song, 0, 1, 2).volume.command, VOL_SET_PANNING);
    EXPECT_EQ(cellOf(*song, 0, 1, 2).volume.param, 255);
    EXPECT_EQ(cellOf(*song, 0, 1, 3).note, 0);
    EXPECT_EQ(cellOf(*song, 0, 1, 3).shownVolume, 255);

    const struct {
        char letter;
        uint8_t param;
        uint16_t tracker;
        CellCommand expected;
    } cases[] = {
        {'A', 0x00, 0x1320, {CMD_NONE, 0}},
        {'A', 0x08, 0x1320, {CMD_SET_SPEED, 8}},
        {'C', 0x12, 0x1320, {CMD_PATTERN_BREAK, 12}},
        {'C', 0x70, 0x1320, {CMD_PATTERN_BREAK, 0}},
        {'D', 0xF3, 0x1320, {CMD_VOLUME_SLIDE, 0xF3}},
        {'E', 0xE2, 0x1320, {CMD_PORTA_DOWN, 0xE2}},
        {'F', 0x00, 0x1320, {CMD_PORTA_UP, 0}},
        {'J', 0x00, 0x1320, {CMD_ARPEGGIO, 0}},
        {'K', 0x02, 0x1320, {CMD_VIBRATO_VOLUME_SLIDE, 2}},
        {'S', 0x2F, 0x1320, {CMD_SET_MIDDLE_C_FINETUNE, 0xF}},
        {'S', 0x8F, 0x1320, {CMD_SET_PANNING, 255}},
        {'S', 0xB2, 0x1320, {CMD_PATTERN_LOOP, 2}},
        {'S', 0xD3, 0x1320, {CMD_NOTE_DELAY, 3}},
        {'S', 0x91, 0x1320, {CMD_NONE, 0}},
        {'T', 0x20, 0x1320, {CMD_SET_TEMPO, 0x20}},
        {'T', 0x05, 0x1320, {CMD_NONE, 0}},
        {'T', 0x05, 0x3214, {CMD_TEMPO_SLIDE, 5}},
        {'T', 0x13, 0x5127, {CMD_TEMPO_SLIDE, 0x13}},
        {'U', 0x44, 0x1320, {CMD_FINE_VIBRATO, 0x44}},
        {'V', 0x41, 0x1320, {CMD_NONE, 0}},
        {'V', 0x20, 0x1320, {CMD_SET_GLOBAL_VOLUME, 0x20}},
        {'X', 0x40, 0x1320, {CMD_SET_PANNING, 0x80}},
        {'X', 0xA4, 0x1320, {CMD_NONE, 0}},
        {'Y', 0x34, 0x1320, {CMD_PANBRELLO, 0x34}},
        {'Z', 0x12, 0x1320, {CMD_NONE, 0}},
    };
    for (const auto& c : cases) {
        S3mSong one = oneSampleSong();
        one.trackerVersion = c.tracker;
        s3mCellAt(one, 0, 2, 1) = {255, 0, 255, s3mCommand(c.letter), c.param};
        song = loadOwnedSong(writeS3m(one));
        ASSERT_TRUE(song);
        const NoteCell& cell = cellOf(*song, 0, 2, 1);
        EXPECT_EQ(cell.effect.command, c.expected.command) << c.letter << std::hex << +c.param;
        EXPECT_EQ(cell.effect.param, c.expected.param) << c.letter << std::hex << +c.param;
        EXPECT_EQ(cell.shownEffect, s3mCommand(c.letter));
        EXPECT_EQ(cell.shownParam, c.param);
    }
}

TEST(S3mLoader, TheFormatIsToldByContentAndTheTypeByte) {
    S3mSong s3m = oneSampleSong();
    EXPECT_TRUE(loadOwnedSong(writeS3m(s3m)));
    s3m.type = 17;
    EXPECT_FALSE(loadOwnedSong(writeS3m(s3m)));
    EXPECT_STREQ(songLoadError(), "not a module Brom can read");
}

// Every cut of a small file either fails inside the header and its tables or loads what the
// cut leaves, with a repair note for what it took.
TEST(S3mLoader, TruncationAtEveryLength) {
    S3mSong s3m = oneSampleSong();
    s3m.samples.push_back(makeS3mSample(s3mSquare(300, 10, 50), 0, 300));
    s3mCellAt(s3m, 0, 63, 3) = {s3mNote(4, 0), 2, 30, s3mCommand('D'), 1};
    const std::vector<uint8_t> bytes = writeS3m(s3m);
    const size_t tablesEnd = 0x60 + s3m.orders.size() + 2 * s3m.samples.size() + 2;
    for (size_t length = 0; length < bytes.size(); ++length) {
        const std::vector<uint8_t> cut(bytes.begin(), bytes.begin() + length);
        SongPtr song = loadOwnedSong(cut);
        if (length < tablesEnd) {
            EXPECT_FALSE(song) << length;
            continue;
        }
        ASSERT_TRUE(song) << length << ": " << songLoadError();
        EXPECT_GT(song->repairCount, 0) << length;
        EXPECT_LE(song->samples[1].length, 300u) << length;
    }
    SongPtr whole = loadOwnedSong(bytes);
    ASSERT_TRUE(whole);
    EXPECT_EQ(whole->repairCount, 0);
    EXPECT_EQ(cellOf(*whole, 0, 63, 3).effect.param, 1);
}

TEST(S3mLoader, HostileHeadersAreRefusedOrBroughtIntoRange) {
    // Counts whose tables the file cannot hold.
    for (int which = 0; which < 3; ++which) {
        S3mSong s3m = oneSampleSong();
        (which == 0   ? s3m.orderCountOverride
         : which == 1 ? s3m.instrumentCountOverride
                      : s3m.patternCountOverride) = 60000;
        EXPECT_FALSE(loadOwnedSong(writeS3m(s3m))) << which;
        EXPECT_STREQ(songLoadError(), "the file ends inside its header");
    }
    // More instruments and patterns than a cell or an order can name.
    S3mSong many = makeS3mSong(1, 300);
    many.orders = {0};
    many.samples.resize(300);
    SongPtr song = loadOwnedSong(writeS3m(many));
    ASSERT_TRUE(song);
    EXPECT_EQ(song->instrumentCount, 255);
    EXPECT_EQ(song->patternCount, 254);
    EXPECT_EQ(song->repairCount, 2);
    // Lengths beyond the file, packed data, pointers beyond the end.
    S3mSong s3m = oneSampleSong();
    s3m.samples[0].lengthOverride = 0xFFFFFFFF;
    s3m.samples[0].loopEnd = 0xFFFFFFF0;
    s3m.samples[0].loop = true;
    S3mSample packed = makeS3mSample(s3mSquare(16, 4, 1), 0, 0);
    packed.pack = 1;
    s3m.samples.push_back(packed);
    std::vector<uint8_t> bytes = writeS3m(s3m);
    song = loadOwnedSong(bytes);
    ASSERT_TRUE(song);
    EXPECT_LE(song->samples[0].length, bytes.size());
    EXPECT_LE(song->samples[0].loopStart + song->samples[0].loopLength, song->samples[0].length);
    EXPECT_EQ(song->samples[1].length, 0u);
    EXPECT_TRUE(hasRepair(*song, "packed sample data"));
    // A pattern pointer and an instrument pointer far beyond the end.
    const size_t pointers = 0x60 + s3m.orders.size();
    bytes[pointers] = 0xFF;
    bytes[pointers + 1] = 0xFF;
    bytes[pointers + 4] = 0xFF;
    bytes[pointers + 5] = 0xFF;
    song = loadOwnedSong(bytes);
    ASSERT_TRUE(song);
    EXPECT_TRUE(hasRepair(*song, "instrument 1 absent"));
    EXPECT_TRUE(hasRepair(*song, "pattern 0 cut short: 0 of 64 rows"));
    EXPECT_EQ(cellOf(*song, 0, 0, 0).note, 0);
}
