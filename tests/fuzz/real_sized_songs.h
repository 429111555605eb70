// Songs at the sizes of real music: samples of a million frames and more, 32 channels, 256
// patterns of 256 rows in 256 orders, every effect, and instruments with every count, envelope and
// loop at its limit. make_fuzz_corpus writes them at build time as the fuzzers' real-sized seeds
// (too large to keep in the repository), and the hostile catalogue damages them.
//
//     for (const RealSizedSong& s : realSizedSongs()) writeXm(s.make());
#pragma once

#include <vector>

#include "module/xm_writer.h"
#include "tests/support/mod_writer.h"

struct RealSizedSong {
    const char* name;  // the seed's file name, without ".xm"
    XmSong (*make)();
};

// Every real-sized song; each is built the same way every time.
std::vector<RealSizedSong> realSizedSongs();

// The largest MOD there is: 32 channels, 31 samples of 65535 words with loops at their limits,
// 128 orders over 64 patterns, every effect.
ModSong largestModSong();

// 16-bit samples: 1,048,576 frames looping forward over all of it and 1,200,000 frames that
// ping-pong over their last frame; an 8-bit sample of 1,048,576 frames ping-ponging over all of
// it. High notes and sample offsets reach the loops within the first seconds.
XmSong longSamplesSong();
// 32 channels, 256 patterns of 256 rows, all 256 orders, every effect and volume-column command.
XmSong widestLongestSong();
// 128 instruments of 16 samples each, envelopes of 12 points with sustain and loop on the last
// point and positions up to 65535, auto-vibrato and fadeout at their maxima, loops of one frame.
XmSong instrumentsAtLimitsSong();

// `count` frames of a loud tone of `period` frames with a DC offset, as recordings often have:
// their sum leaves 32 bits after a few hundred thousand frames. 8-bit frames keep -128..127.
std::vector<int16_t> loudFrames(uint32_t count, int period, bool sixteenBit);
