// The sequencer moves a song forward one tick at a time: row starts on tick 0, per-tick effects on
// the others, speed and tempo, pattern delay, jumps, breaks, loops and the restart position. It
// also notices when the song first comes back to a row it has already played (hasRepeated), for
// tools that play a song once.
//
//     startSongPosition(song);            // play start: position, speed, tempo, channels
//     for (;;) song->tickHandler(song);   // playerTick; samplesPerTick frames between calls
#pragma once

#include <cstdint>

#include "module/song.h"

// Resets the song's playback fields to its start, calls its startHandler, sets the tempo from
// defaultBpm and hands voice c to channel c (the channel states are zeroed). Play start of the
// mixer and of the offline tools.
void startSongPosition(Song* song);

// One tick: a row start when the song's tick is 0, the per-tick effects otherwise.
void playerTick(Song* song);
// Stores the tempo and the output frames per tick it gives (at least 1; a bpm below 1 counts as 1).
void setBpm(Song* song, int bpm);
// The row start: every channel reads its cell of the current row.
void processRow(Song* song);
// Every later tick of the row: continuous effects on the cells the row start read.
void processTickEffects(Song* song);

// Cells of the row that the last row start read, channel 0 first; null when it read none. An
// E6x loop changes the song's row at once, but the rest of the row still acts on these cells.
const NoteCell* currentRowCells(const Song* song);
// Channels the player drives: the song's channelCount, at most MAX_PLAYER_CHANNELS.
int playedChannelCount(const Song* song);
