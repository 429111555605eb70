// A snapshot of a playback: the playing state, the voices it drives and the engine's frame counts,
// so that it can be put back exactly later. Measuring a song's length runs the player and puts
// everything back; the parallel renderer keeps snapshots to go back to a block it has run past.
// The song itself is read-only and takes no part.
//
//     PlaybackSnapshot* snapshot = createPlaybackSnapshot();   // null when memory is short
//     savePlayback(snapshot, engine);
//     ... play on ...
//     restorePlayback(snapshot, engine);                       // as it was
//     destroyPlaybackSnapshot(snapshot);
#pragma once

#include <cstdint>

#include "audio/scheduler.h"
#include "player/player_state.h"

struct PlaybackSnapshot {
    PlayState state;
    bool hasState;  // the engine had a playing state when saved
    Voice voices[MIXED_VOICE_COUNT];  // the player drives no others
    int64_t framesMixed;
    int64_t repeatFrame;
    int32_t repeatTimeMs;
    int32_t passesLeft;
    int32_t passesDone;
};

PlaybackSnapshot* createPlaybackSnapshot();
void destroyPlaybackSnapshot(PlaybackSnapshot* snapshot);

// Saves the state of the engine's current playback, or puts it back.
void savePlayback(PlaybackSnapshot* snapshot, const AudioEngine* engine);
void restorePlayback(const PlaybackSnapshot* snapshot, AudioEngine* engine);
