// The process-wide entry points: each acts on one default engine, so that a program with one song
// (the demo, brom-play) needs no engine of its own.
#include "audio/scheduler.h"
#include "player/sequencer.h"

namespace {

AudioEngine defaultEngine;
// Why the last loadSong failed; "" after a success.
const char* lastLoadError = "";

}  // namespace

AudioEngine* defaultAudioEngine() { return &defaultEngine; }

void setOutputDevice(const OutputDevice* device) { setOutputDevice(&defaultEngine, device); }
const OutputDevice* outputDevice() { return outputDevice(&defaultEngine); }
void prepareMixSettings(int32_t rate) { prepareMixSettings(&defaultEngine, rate); }
int audioOpen(int32_t rate) { return audioOpen(&defaultEngine, rate); }
void audioClose() { audioClose(&defaultEngine); }
int playSong(Song* song) { return playSong(&defaultEngine, song); }
int playSongWithoutThread(Song* song) { return playSongWithoutThread(&defaultEngine, song); }
int stopSong(Song* song) { return stopSong(&defaultEngine, song); }
int playingOrder(const Song* song) { return playingOrder(&defaultEngine, song); }
int playingRow(const Song* song) { return playingRow(&defaultEngine, song); }
int playingTimeMs(const Song* song) { return playingTimeMs(&defaultEngine, song); }
void mixBlock() { mixBlock(&defaultEngine); }
void mixFinishedBlocks() { mixFinishedBlocks(&defaultEngine); }
void mixingThread() { mixingThread(&defaultEngine); }
int startSongOffline(Song* song) { return startSongOffline(&defaultEngine, song); }
const int16_t* renderNextBlock() { return renderNextBlock(&defaultEngine); }
int32_t playingBlockIndex() { return playingBlockIndex(&defaultEngine); }
int32_t fillingBlockIndex() { return fillingBlockIndex(&defaultEngine); }

Song* loadSong(const char* path, SampleDataHook hook) {
    LoadError error;
    Song* song = readSong(path, hook, &error);
    lastLoadError = error.reason;
    return song;
}

const char* songLoadError() { return lastLoadError; }

int freeSong(Song* song) { return freeSong(&defaultEngine, song); }
