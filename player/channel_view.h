// What one song channel plays now, as a pattern view or a scope's caption shows it: read from the
// playing state after a tick, kept as a plain record so that a renderer running ahead can note it
// with each block.
#pragma once

#include <cstdint>

#include "player/player_state.h"

struct ChannelView {
    uint8_t note;  // 1..120 the note the channel plays, 0 when it plays none
    uint8_t instrument;  // from 1; 0 when it plays none
    int16_t sample;  // the instrument's sample, from 0; -1 when it plays none
    uint8_t volume;  // 0..64
    uint8_t panning;  // 0..255
    uint8_t voices;  // voices sounding for the channel: its note, one ramping out, background notes
    Voice voice;  // the voice the channel plays on (blank: none)
};

ChannelView viewChannel(const PlayState* state, int channel);
// The views of every played channel at once (views[0 .. playedChannelCount - 1]): one look at
// the voices for all of them.
void viewChannels(const PlayState* state, ChannelView* views);
