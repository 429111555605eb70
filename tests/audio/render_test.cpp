// From a module file to the 16-bit frames the device would play: loader, player, mixer and
// conversion together, checked against figures worked out by hand.
#include <gtest/gtest.h>

#include <vector>

#include "audio/scheduler.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"

namespace {

// Two channels play C-4 on row 0 from a looped sample of constant value 16000, so the pitch
// does not change what is heard. Channel 0 at volume 64 and centre panning (128); channel 1 at
// volume 32 (volume column 0x30), panned to one side with effect 8FF.
std::vector<uint8_t> twoChannelModule() {
    XmSong xm = makeXmSong(2, 1);
    cellAt(xm.patterns[0], 2, 0, 0) = {49, 1, 0, 0, 0};
    cellAt(xm.patterns[0], 2, 0, 1) = {49, 1, 0x30, 0x8, 0xFF};
    XmSample s = makeSample(std::vector<int16_t>(64, 16000), true);
    s.loopType = 1;
    s.loopLength = 64;
    xm.instruments.push_back(makeInstrument(s));
    return writeXm(xm);
}

// Final volumes: (64 x 64 x 65536 x 64 x 255) / 2^35 = 127 for channel 0, and half that,
// truncated, 63 for channel 1. Channel 0 at panning 128 gets 127 x 128 / 255 = 63 on one side and
// 127 x 127 / 255 = 63 on the other; channel 1 at panning 255 gets 63 x 255 / 255 = 63 on its
// side and nothing on the other. So one side carries channel 0 alone, the other both channels.
//
// Both notes fade in over 128 frames: frame k has the gain k x d, d = single(63 x GAIN_SCALE / 128)
// = 0.00193014694, so channel 0 alone gives 16000 x k x d and both twice that. After the ramp the
// gain is single(63 x GAIN_SCALE) = 0.247058809: 3952.94 and 7905.88.
struct Frame {
    int index;
    int16_t both, alone;
};
const Frame EXPECTED[] = {
    {0, 0, 0},  // the first frame of a note has gain 0
    {1, 62, 31},  // 61.76 and 30.88
    {2, 124, 62},  // 123.53 and 61.76
    {64, 3953, 1976},  // 3952.94 and 1976.47
    {127, 7844, 3922},  // 7844.12 and 3922.06
    {128, 7906, 3953},  // the ramp is over
    {881, 7906, 3953},  // the last frame of the first tick
    {5000, 7906, 3953},  // later ticks change nothing
};

TEST(RenderEndToEnd, TheFirstFramesOfASongAreWhatTheArithmeticSays) {
    SongPtr song = loadOwnedSong(twoChannelModule());
    ASSERT_NE(song, nullptr);
    prepareMixSettings(44100);
    ASSERT_EQ(startSongOffline(song.get()), 1);
    std::vector<int16_t> pcm;
    for (int block = 0; block < 6; ++block) {
        const int16_t* frames = renderNextBlock();
        pcm.insert(pcm.end(), frames, frames + 2 * defaultAudioEngine()->settings.blockFrames);
    }
    // The side that carries both channels: whichever is louder on frame 1, the same ever after.
    const int bothSide = pcm[2] > pcm[3] ? 0 : 1;
    for (const Frame& f : EXPECTED) {
        EXPECT_EQ(pcm[2 * f.index + bothSide], f.both) << "frame " << f.index;
        EXPECT_EQ(pcm[2 * f.index + 1 - bothSide], f.alone) << "frame " << f.index;
    }
    // 6 blocks hold 5304 frames; the seventh tick, at frame 6 x 882 = 5292, began row 1.
    EXPECT_EQ(playingRow(song.get()), 1);
    EXPECT_EQ(playingOrder(song.get()), 0);
    stopSong(song.get());
}

// Rows 0 and 1 played twice (E60 on row 0, E61 on row 1), then rows 2 and 3. The jump at the
// start of row 1 sets the song's row before the loop's first row (-1) while row 1 still plays; the
// position names the row played. The record of block b holds the state after its last frame,
// 884 (b + 1) - 1, where tick t = (884 (b + 1) - 1) / 882 has begun, in row pass t / 6.
TEST(RenderEndToEnd, APatternLoopShowsTheRowsPlayed) {
    XmSong xm = makeXmSong(1, 1);
    cellAt(xm.patterns[0], 1, 0, 0) = {0, 0, 0, 0xE, 0x60};
    cellAt(xm.patterns[0], 1, 1, 0) = {0, 0, 0, 0xE, 0x61};
    SongPtr song = loadOwnedSong(writeXm(xm));
    ASSERT_NE(song, nullptr);
    prepareMixSettings(44100);
    ASSERT_EQ(startSongOffline(song.get()), 1);
    const int rowPlayed[] = {0, 1, 0, 1, 2, 3};
    for (int block = 0; 884 * (block + 1) - 1 < 882 * 6 * 6; ++block) {
        ASSERT_NE(renderNextBlock(), nullptr);
        const int tick = (884 * (block + 1) - 1) / 882;
        EXPECT_EQ(playingRow(song.get()), rowPlayed[tick / 6]) << "block " << block;
    }
    stopSong(song.get());
}

}  // namespace
