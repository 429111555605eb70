// Faults that fuzzing and the hostile catalogue found, each fixed where it arose; one test apiece
// keeps it fixed.
#include <gtest/gtest.h>

#include "audio/device_manual.h"
#include "audio/scheduler.h"
#include "module/file_access.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"

// An envelope value read from the file scales the channel's volume directly: 0xFFFF drove the
// voice gains to thousands of times full scale, past what the mixer's levels can hold. The loader
// now keeps every value at 64 or below.
TEST(FoundFaults, EnvelopeValuesAboveFullScaleLoadAs64) {
    XmInstrument ins = makeInstrument(makeSample({1, 2, 3}, false));
    ins.volumeEnvelope = {{0, 64}, {8, 0xFFFF}, {16, 65}, {20, 63}};
    ins.volumeFlags = 1;
    ins.panningEnvelope = {{0, 0x8000}, {4, 32}};
    ins.panningFlags = 1;
    XmSong xm = makeXmSong(2, 1);
    xm.instruments.push_back(ins);
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_TRUE(song);
    const Instrument& loaded = song->instruments[0];
    EXPECT_EQ(loaded.volumeEnvelope.points[0].value, 64);
    EXPECT_EQ(loaded.volumeEnvelope.points[1].value, 64);
    EXPECT_EQ(loaded.volumeEnvelope.points[2].value, 64);
    EXPECT_EQ(loaded.volumeEnvelope.points[3].value, 63);
    EXPECT_EQ(loaded.volumeEnvelope.points[1].position, 8);  // positions are untouched
    EXPECT_EQ(loaded.panningEnvelope.points[0].value, 64);
    EXPECT_EQ(loaded.panningEnvelope.points[1].value, 32);
}

// Voices keep their sample pointer from one playback to the next, so freeing a song left the
// voices that had played it pointing into released memory; the next song then mixed from there.
// freeSong now makes every voice forget the samples it releases.
TEST(FoundFaults, FreeingASongLeavesNoVoiceOnItsSamples) {
    useMemoryFiles();
    setOutputDevice(&manualOutputDevice);
    ASSERT_EQ(audioOpen(44100), 1);
    XmSong xm = makeXmSong(4, 1);
    XmSample s = makeSample(sineFrames(64, 16, 5000), true);
    s.loopType = 1;
    s.loopLength = 64;
    xm.instruments.push_back(makeInstrument(s));
    for (int c = 0; c < 4; ++c) cellAt(xm.patterns[0], 4, 0, c) = {uint8_t(40 + c), 1, 0, 0, 0};
    Song* song = loadSongFromBytes(writeXm(xm));
    ASSERT_NE(song, nullptr);
    ASSERT_EQ(startSongOffline(song), 1);
    for (int b = 0; b < 10; ++b) ASSERT_NE(renderNextBlock(), nullptr);
    int sounding = 0;
    for (const Voice& voice : defaultAudioEngine()->voices) sounding += voice.sample != nullptr;
    EXPECT_EQ(sounding, 4);
    freeSong(song);
    for (const Voice& voice : defaultAudioEngine()->voices)
        EXPECT_EQ(voice.sample, nullptr) << voice.index;
    audioClose();
}
