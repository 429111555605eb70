// Faults that fuzzing and the hostile catalogue found, each fixed where it arose; one test apiece
// keeps it fixed.
#include <gtest/gtest.h>

#include "tests/support/load_bytes.h"
#include "tests/support/xm_writer.h"

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
    EXPECT_EQ(loaded.volumePoints[0].value, 64);
    EXPECT_EQ(loaded.volumePoints[1].value, 64);
    EXPECT_EQ(loaded.volumePoints[2].value, 64);
    EXPECT_EQ(loaded.volumePoints[3].value, 63);
    EXPECT_EQ(loaded.volumePoints[1].position, 8);  // positions are untouched
    EXPECT_EQ(loaded.panningPoints[0].value, 64);
    EXPECT_EQ(loaded.panningPoints[1].value, 32);
}
