#include "audio/playback_snapshot.h"

#include <cstdlib>
#include <cstring>

PlaybackSnapshot* createPlaybackSnapshot() {
    return static_cast<PlaybackSnapshot*>(calloc(1, sizeof(PlaybackSnapshot)));
}

void destroyPlaybackSnapshot(PlaybackSnapshot* snapshot) { free(snapshot); }

void savePlayback(PlaybackSnapshot* snapshot, const AudioEngine* engine) {
    snapshot->hasState = engine->state != nullptr;
    if (engine->state) memcpy(&snapshot->state, engine->state, sizeof(PlayState));
    memcpy(snapshot->voices, engine->voices, sizeof snapshot->voices);
    snapshot->framesMixed = engine->framesMixed;
    snapshot->repeatFrame = engine->repeatFrame;
    snapshot->repeatTimeMs = engine->repeatTimeMs.load(std::memory_order_relaxed);
    snapshot->passesLeft = engine->passesLeft;
    snapshot->passesDone = engine->passesDone;
}

void restorePlayback(const PlaybackSnapshot* snapshot, AudioEngine* engine) {
    if (engine->state && snapshot->hasState)
        memcpy(engine->state, &snapshot->state, sizeof(PlayState));
    memcpy(engine->voices, snapshot->voices, sizeof snapshot->voices);
    engine->framesMixed = snapshot->framesMixed;
    engine->repeatFrame = snapshot->repeatFrame;
    engine->repeatTimeMs.store(snapshot->repeatTimeMs, std::memory_order_relaxed);
    engine->passesLeft = snapshot->passesLeft;
    engine->passesDone = snapshot->passesDone;
}
