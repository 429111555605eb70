// The sequencer moves a song forward one tick at a time: row starts on tick 0, per-tick effects on
// the others, speed and tempo, pattern delay, jumps, breaks, loops and the restart position.
//
//     startSongPosition(song);       // play start: position, speed, tempo, channels
//     for (;;) song->tickHandler(song);   // playerTick; samplesPerTick frames between calls
#pragma once

#include <cstdint>

#include "module/song.h"

// Resets the song's playback fields to its start, calls its startHandler, sets the tempo from
// defaultBpm and hands voice c to channel c (the channel states are zeroed). Play start of the
// mixer and of the offline tools.
void startSongPosition(Song* song);

void playerTick(Song* song);
void setBpm(Song* song, int bpm);
void processRow(Song* song);
void processTickEffects(Song* song);
