// Drives the player tick by tick on a module built with the XM writer. A test describes the
// module in `xm` (two channels, one 64-row pattern, one instrument playing a looped 1000-frame
// sample at volume 64 and centre panning), calls start(), then tick() and looks at the channel
// states, the voices and the song.
#pragma once

#include <gtest/gtest.h>

#include "audio/scheduler.h"
#include "player/channel.h"
#include "player/voice.h"
#include "player/sequencer.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"

constexpr uint8_t KEY_OFF_NOTE = 97;  // as the file writes it
constexpr uint8_t C4 = 49;  // cell note of C-4: 0-based note 48

inline XmSample loopedSample(uint8_t volume = 64, uint8_t panning = 128) {
    XmSample sample = makeSample(sineFrames(1000, 50, 8000), true);
    sample.loopType = 1;
    sample.loopStart = 0;
    sample.loopLength = 1000;
    sample.volume = volume;
    sample.panning = panning;
    return sample;
}

class PlayerTest : public ::testing::Test {
  protected:
    XmSong xm = makeXmSong(2, 1);
    SongPtr song;
    PlayState* state = nullptr;
    Voice voices[VOICE_COUNT];

    PlayerTest() { xm.instruments.push_back(makeInstrument(loopedSample())); }
    ~PlayerTest() override { destroyPlayState(state); }

    XmCell& cell(int row, int channel, int pattern = 0) {
        return cellAt(xm.patterns[pattern], xm.channels, row, channel);
    }
    // Loads the module and starts it as the mixer would, at 44100 Hz.
    bool start() {
        song = loadOwnedSong(writeXm(xm));
        if (!song) return false;
        destroyPlayState(state);
        state = createPlayState(song.get());
        if (!state) return false;
        resetVoices(voices);
        return restart();
    }
    // Play start again, as the mixer does at every playSong.
    bool restart() {
        startSongPosition(state, voices, 44100);
        return true;
    }
    void tick(int count = 1) {
        for (int k = 0; k < count; ++k) playerTick(state);
    }
    ChannelState& channel(int c = 0) { return state->channels[c]; }
    Voice& voice(int c = 0) { return *channel(c).voice; }
};
