// The mix scheduler: opens the output device, owns the voice table, and keeps one looping output
// buffer of 100 blocks filled. The device plays the buffer endlessly; a mixing thread polls the
// play position every 5 ms and re-mixes each block the device has finished. Mixing a block
// advances the song tick by tick and stores a SyncRecord (order, row, song time) for it.
//
//     useStandardFiles();
//     if (!audioOpen(44100)) ...;
//     Song* song = loadSong("song.xm", nullptr);
//     playSong(song);                      // primes the buffer, starts the device and the thread
//     ... playingOrder(song), playingRow(song), playingTimeMs(song) ...
//     freeSong(song);                      // stops playback first
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/mixer.h"
#include "module/song.h"

constexpr int32_t BUFFER_MILLISECONDS = 1000;

// Sizes and constants, set by audioOpen (or prepareMixSettings) from the output rate.
extern int32_t sampleRate;
extern int32_t blockFrames;
extern int32_t bufferFrames;
extern int32_t blockCount;
extern float inverseRate;
extern int32_t rampFrames;
extern float inverseRampFrames;

extern Voice voiceTable[VOICE_COUNT];

// Cross-thread flags of the mixing thread.
extern std::atomic<uint8_t> stopRequested;
extern std::atomic<uint8_t> mixerBusy;
extern std::atomic<uint8_t> mixerFinished;

// Sets the rate and the sizes derived from it, and clears the voice table (index = own number,
// step = 1). audioOpen does this once the device is open; offline tools call it directly.
void prepareMixSettings(int32_t rate);

int audioOpen(int32_t rate);
void audioClose();
int playSong(Song* song);
int stopSong(Song* song);
int playingOrder(const Song* song);
int playingRow(const Song* song);
int playingTimeMs(const Song* song);
