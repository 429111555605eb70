// The sequencer moves a playback forward one tick at a time: row starts on tick 0, per-tick
// effects on the others, speed and tempo, pattern delay, jumps, breaks, loops, the order list's
// markers and the restart position. It also notices when the song first comes back to a row it
// has already played (hasRepeated), for tools that play a song once.
//
//     PlayState* state = createPlayState(song);
//     startSongPosition(state, voices, 44100);   // play start: position, speed, tempo, channels
//     for (;;) playerTick(state);                // samplesPerTick frames between calls
#pragma once

#include <cstdint>

#include "module/song.h"
#include "player/channel.h"
#include "player/player_state.h"
#include "player/voice.h"

// Resets the playing state to the song's start with its profile's behaviours for the song's
// format (state->profile, kept), sets the tempo from defaultBpm and hands each channel its first
// voice of `voices` (VOICE_COUNT of them); pitch steps and tick lengths are computed for
// `sampleRate`. Play start of the mixer and of the offline tools.
void startSongPosition(PlayState* state, Voice* voices, int32_t sampleRate);

// One tick: a row start when the tick is 0, the per-tick effects otherwise.
void playerTick(PlayState* state);
// Stores the tempo and the output frames per tick it gives (at least 1; a bpm below 1 counts as 1).
void setBpm(PlayState* state, int bpm);
// The row start: every channel reads its cell of the current row.
void processRow(PlayState* state);
// Every later tick of the row: continuous effects on the cells the row start read, then the
// background notes.
void processTickEffects(PlayState* state);

// Makes the next tick start row `row` of order position `order`, as a position jump with a
// pattern break would; the first-repeat detection starts afresh from there.
void jumpToPosition(PlayState* state, int32_t order, int32_t row);
// Makes the next tick start subsong play at row `row` of order position `order`, as a jump there
// at play start; a row start that would reach one of `otherSongRows` (a bit per (order, row) as
// PlayState::playedRows; null: none) comes round and goes back to that start. The bits must stay
// unchanged while the state plays.
void startSubsongAt(PlayState* state, int32_t order, int32_t row, const uint8_t* otherSongRows);
// Starts the first-repeat detection afresh from the current row, which counts as played: for a
// further pass of the song, ending where it comes round again.
void forgetPlayedRows(PlayState* state);

// Cells of the row that the last row start read, channel 0 first; null when it read none. A
// pattern loop changes the row at once, but the rest of the row still acts on these cells.
const NoteCell* currentRowCells(const PlayState* state);
// The row being played, for positions shown to people: the row the last row start read, or the
// row before the first. After a loop jump the state's row already points before the loop's
// first row (to -1 from a loop at row 0) until the next row starts; the row played does not move.
int32_t currentRow(const PlayState* state);
// Channels the player drives: the song's channelCount, at most MAX_PLAYER_CHANNELS.
int playedChannelCount(const Song* song);
// How loud the channel's note is now, 0 (silent, or no such channel) to 255: the louder side of its
// voice's target gains, for level meters.
int channelLevel(const PlayState* state, int channel);
