// Fuzz target: arbitrary bytes loaded as a module and, when they load, played through the player
// and the mixer for a few seconds of audio.
#include <cstdio>
#include <cstdlib>

#include "audio/scheduler.h"
#include "module/file_access.h"
#include "player/sequencer.h"
#include "tests/fuzz/fuzz_targets.h"

namespace {

// Three seconds at 44100: 150 blocks of 884 frames.
constexpr int FUZZ_PLAY_BLOCKS = 150;

const char* positionRuleBroken(const Song* song) {
    if (song->orderPosition < 0 || song->orderPosition >= song->songLength) {
        return "the order position left the song";
    }
    const Pattern& pattern = song->patterns[song->orderTable[song->orderPosition]];
    if (song->row < 0 || (song->row >= pattern.rowCount && song->row != 0)) {
        return "the row left its pattern";
    }
    if (song->samplesPerTick < 1) return "a tick shorter than one frame";
    if (song->globalVolume < 0 || song->globalVolume > 64) return "global volume outside 0..64";
    return nullptr;
}

}  // namespace

const char* playAndCheck(Song* song, int blocks) {
    prepareMixSettings(44100);
    startSongPosition(song);
    for (int b = 0; b < blocks; ++b) {
        for (int frames = 0; frames < blockFrames; frames += song->samplesPerTick) {
            song->tickHandler(song);
            if (const char* broken = positionRuleBroken(song)) return broken;
        }
    }
    return nullptr;
}

int fuzzPlayModule(const uint8_t* data, size_t size) {
    useMemoryFiles();
    char path[64];
    memoryModulePath(path, sizeof path, data, size);
    Song* song = loadSong(path, nullptr);
    if (!song) return 0;
    const char* broken = songRuleBroken(song);
    if (!broken) broken = playAndCheck(song, FUZZ_PLAY_BLOCKS);
    if (broken) {
        fprintf(stderr, "playing breaks a rule: %s\n", broken);
        abort();
    }
    freeSong(song);
    return 0;
}
