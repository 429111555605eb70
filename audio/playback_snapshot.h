// A snapshot of a playing song: everything that playing it changes (the song's position fields and
// first-repeat bitmap, the player's channels, the engine's voices and frame counts, the samples'
// finetunes, which the set-finetune effect rewrites), so that it can be put back exactly later.
// Measuring a song's length runs the player and puts everything back; the parallel renderer
// keeps snapshots to go back to a block it has run past.
//
//     PlaybackSnapshot* snapshot = createPlaybackSnapshot(song);   // null when memory is short
//     savePlayback(snapshot, engine);
//     ... play on ...
//     restorePlayback(snapshot, engine);                              // as it was
//     destroyPlaybackSnapshot(snapshot);
#pragma once

#include <cstdint>

#include "audio/scheduler.h"
#include "module/song.h"
#include "player/sequencer.h"

struct PlaybackSnapshot {
    Song song;
    PlayerState player;
    bool hasPlayer;  // the song had its player state when saved
    Voice voices[MIXED_VOICE_COUNT];  // the player drives no others
    int64_t framesMixed;
    int64_t repeatFrame;
    int32_t repeatTimeMs;
    int32_t passesLeft;
    int32_t passesDone;
    int32_t sampleCount;
    int8_t* finetunes;  // one per sample of the song, in file order
};

// A snapshot sized for the samples of `song`; null when memory is short.
PlaybackSnapshot* createPlaybackSnapshot(const Song* song);
void destroyPlaybackSnapshot(PlaybackSnapshot* snapshot);

// Saves the state of the engine's current song, or puts it back.
void savePlayback(PlaybackSnapshot* snapshot, const AudioEngine* engine);
void restorePlayback(const PlaybackSnapshot* snapshot, AudioEngine* engine);
