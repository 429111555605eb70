#include "player/sequencer.h"

#include <cstring>

#include "audio/scheduler.h"
#include "player/channel.h"

ChannelState channelTable[MAX_PLAYER_CHANNELS];

void startSongPosition(Song* song) {
    song->globalVolume = song->initialGlobalVolume;
    song->speed = song->defaultSpeed;
    song->row = 0;
    song->orderPosition = 0;
    song->nextOrderPosition = -1;
    song->nextRow = -1;
    song->tickSamplesLeft = 0;
    song->tick = 0;
    song->patternDelayTicks = 0;
    song->songTimeMs = 0;
    memset(song->playedRows, 0, sizeof song->playedRows);
    song->hasRepeated = 0;
    if (song->startHandler) song->startHandler(song);
    setBpm(song, song->defaultBpm);
    int channels = song->channelCount;
    if (channels > MAX_PLAYER_CHANNELS) channels = MAX_PLAYER_CHANNELS;
    for (int c = 0; c < channels; ++c) {
        channelTable[c] = ChannelState{};
        channelTable[c].voice = &voiceTable[c];
    }
}

void setBpm(Song* song, int bpm) {
    if (bpm < 1) bpm = 1;
    song->bpm = bpm;
    // Evaluated step by step in extended precision: bpm 35 and 70 fall just short of an integer.
    long double step = static_cast<long double>(bpm + bpm) / 5.0L;
    step = 1000.0L / step;
    step = step * static_cast<long double>(sampleRate);
    step = step / 1000.0L;
    int32_t frames = static_cast<int32_t>(step);
    song->samplesPerTick = frames < 1 ? 1 : frames;
}

// The row machinery arrives with the player; until then a tick does nothing.
void playerTick(Song*) {}
void processRow(Song*) {}
void processTickEffects(Song*) {}
