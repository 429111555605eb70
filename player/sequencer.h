// The sequencer moves a song forward one tick at a time: row starts on tick 0, per-tick effects on
// the others, speed and tempo, pattern delay, jumps, breaks, loops and the restart position. It
// also notices when the song first comes back to a row it has already played (hasRepeated), for
// tools that play a song once.
//
//     startSongPosition(song, voices, 44100);   // play start: position, speed, tempo, channels
//     for (;;) song->tickHandler(song);   // playerTick; samplesPerTick frames between calls
#pragma once

#include <cstdint>

#include "module/song.h"
#include "player/channel.h"
#include "player/voice.h"

// Rows replayed by an E6x loop are not a repeat of the song. After a loop jump, the rows of the
// same order position up to the row that jumped are replays, until the song leaves them.
struct LoopReplay {
    bool active;
    int32_t order;
    int32_t lastRow;
};

// What the player keeps of a playing song beside the Song's own position fields.
struct PlayerState {
    ChannelState channels[MAX_PLAYER_CHANNELS];
    Voice* voices;  // the VOICE_COUNT voices the channels drive; the mixer reads them
    int32_t sampleRate;  // the output rate that pitch steps and tick lengths are made for
    int32_t startedRow;  // row that the last row start read; -1 before the first
    LoopReplay loopReplay;
};

// Resets the song's playback fields to its start, calls its startHandler, sets the tempo from
// defaultBpm and hands voice c of `voices` (VOICE_COUNT of them) to channel c (the channel states
// are zeroed); pitch steps and tick lengths are computed for `sampleRate`. Play start of the
// mixer and of the offline tools. 0 when the player's state cannot be allocated.
int startSongPosition(Song* song, Voice* voices, int32_t sampleRate);

// Reads the module at `path` (readSongWith, through `files`, or the registered set when null) and
// makes it playable: its tick handler is playerTick.
Song* loadPlayableSong(const char* path, SampleDataHook hook, LoadError* error,
                       const FileCallbacks* files = nullptr);

// One tick: a row start when the song's tick is 0, the per-tick effects otherwise.
void playerTick(Song* song);
// Stores the tempo and the output frames per tick it gives (at least 1; a bpm below 1 counts as 1).
void setBpm(Song* song, int bpm);
// The row start: every channel reads its cell of the current row.
void processRow(Song* song);
// Every later tick of the row: continuous effects on the cells the row start read.
void processTickEffects(Song* song);

// Makes the next tick start row `row` of order position `order`, as a position jump with a
// pattern break would; the first-repeat detection starts afresh from there.
void jumpToPosition(Song* song, int32_t order, int32_t row);
// Starts the first-repeat detection afresh from the current row, which counts as played: for a
// further pass of the song, ending where it comes round again.
void forgetPlayedRows(Song* song);

// Cells of the row that the last row start read, channel 0 first; null when it read none. An
// E6x loop changes the song's row at once, but the rest of the row still acts on these cells.
const NoteCell* currentRowCells(const Song* song);
// The row being played, for positions shown to people: the row the last row start read, or the
// song's row before the first. After an E6x jump the song's row already points before the loop's
// first row (to -1 from a loop at row 0) until the next row starts; the row played does not move.
int32_t currentRow(const Song* song);
// Channels the player drives: the song's channelCount, at most MAX_PLAYER_CHANNELS.
int playedChannelCount(const Song* song);
// How loud the channel's note is now, 0 (silent, or no such channel) to 255: the louder side of its
// voice's target gains, for level meters.
int channelLevel(const Song* song, int channel);
