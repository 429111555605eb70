#include "audio/playback_snapshot.h"

#include <cstdlib>
#include <cstring>

PlaybackSnapshot* createPlaybackSnapshot(const Song* song) {
    auto* snapshot = static_cast<PlaybackSnapshot*>(calloc(1, sizeof(PlaybackSnapshot)));
    if (!snapshot) return nullptr;
    forEachSample(song, [snapshot](Sample*, int32_t) { snapshot->sampleCount += 1; });
    snapshot->finetunes = static_cast<int8_t*>(calloc(snapshot->sampleCount + size_t{1}, 1));
    if (!snapshot->finetunes) {
        free(snapshot);
        return nullptr;
    }
    return snapshot;
}

void destroyPlaybackSnapshot(PlaybackSnapshot* snapshot) {
    if (!snapshot) return;
    free(snapshot->finetunes);
    free(snapshot);
}

void savePlayback(PlaybackSnapshot* snapshot, const AudioEngine* engine) {
    const Song* song = engine->currentSong;
    memcpy(&snapshot->song, song, sizeof(Song));
    snapshot->hasPlayer = song->player != nullptr;
    if (song->player) memcpy(&snapshot->player, song->player, sizeof(PlayerState));
    memcpy(snapshot->voices, engine->voices, sizeof snapshot->voices);
    snapshot->framesMixed = engine->framesMixed;
    snapshot->repeatFrame = engine->repeatFrame;
    snapshot->repeatTimeMs = engine->repeatTimeMs.load(std::memory_order_relaxed);
    snapshot->passesLeft = engine->passesLeft;
    snapshot->passesDone = engine->passesDone;
    int8_t* finetunes = snapshot->finetunes;
    const int32_t count = snapshot->sampleCount;
    forEachSample(song, [finetunes, count](const Sample* sample, int32_t index) {
        if (index < count) finetunes[index] = sample->finetune;
    });
}

void restorePlayback(const PlaybackSnapshot* snapshot, AudioEngine* engine) {
    Song* song = engine->currentSong;
    // The player's state is the song's own allocation, kept across the copy.
    PlayerState* player = song->player;
    memcpy(song, &snapshot->song, sizeof(Song));
    song->player = player;
    if (player && snapshot->hasPlayer) memcpy(player, &snapshot->player, sizeof(PlayerState));
    memcpy(engine->voices, snapshot->voices, sizeof snapshot->voices);
    engine->framesMixed = snapshot->framesMixed;
    engine->repeatFrame = snapshot->repeatFrame;
    engine->repeatTimeMs.store(snapshot->repeatTimeMs, std::memory_order_relaxed);
    engine->passesLeft = snapshot->passesLeft;
    engine->passesDone = snapshot->passesDone;
    const int8_t* finetunes = snapshot->finetunes;
    const int32_t count = snapshot->sampleCount;
    forEachSample(song, [finetunes, count](Sample* sample, int32_t index) {
        if (index < count) sample->finetune = finetunes[index];
    });
}
