// The mix scheduler: opens the output device, owns the voice table, and keeps one looping output
// buffer of 100 blocks filled. The device plays the buffer endlessly; a mixing thread polls the
// play position every 5 ms and re-mixes each block the device has finished. Mixing a block
// advances the song tick by tick and stores a SyncRecord (order, row, song time) for it, so a
// host can ask what is audible now.
//
//     useStandardFiles();
//     setOutputDevice(&sdlOutputDevice);
//     if (!audioOpen(44100)) ...;
//     Song* song = loadSong("song.xm", nullptr);
//     playSong(song);                      // primes the buffer, starts the device and the thread
//     ... playingOrder(song), playingRow(song), playingTimeMs(song) ...
//     freeSong(song);                      // stops playback first
//     audioClose();
//
// Offline, without a device or a thread, the same blocks come from startSongOffline and
// renderNextBlock, in the order the device would have played them.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/mixer.h"
#include "audio/output_device.h"
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

// What was playing when one block had been mixed. Kept packed in one 64-bit word so that a query
// from another thread always sees a whole record.
struct SyncRecord {
    uint8_t order;  // low 8 bits of the song's orderPosition
    uint8_t row;  // low 8 bits of its row
    int32_t timeMs;  // its songTimeMs
};

// Output rates audioOpen accepts; outside them the block and ramp sizes make no sense.
constexpr int32_t MIN_SAMPLE_RATE = 1000;
constexpr int32_t MAX_SAMPLE_RATE = 384000;

// Sets the rate and the sizes derived from it, and clears the voice table (index = own number,
// step = 1). audioOpen does this once the device is open; offline tools call it directly.
void prepareMixSettings(int32_t rate);

// Opens the chosen output device at `rate`. 0 when the file callbacks are incomplete, no device
// is chosen, the rate is out of range or the device does not open.
int audioOpen(int32_t rate);
// Stops any playback, then resets and closes the device.
void audioClose();
// Plays the song from its start: primes the whole buffer, starts the device and the mixing
// thread. 0 for a null song, before a successful audioOpen, or when memory or the thread cannot
// be had (nothing is left running then).
int playSong(Song* song);
// Plays the song as playSong does, but starts no mixing thread: the host polls the device itself
// with mixFinishedBlocks. Tests use it to drive the manual-clock device through hours of
// playback without waiting for them; a host with an audio thread of its own could too.
int playSongWithoutThread(Song* song);
// Ends the mixing thread, silences the device and releases the buffers. 0 for a null song.
int stopSong(Song* song);
// What is audible now: order, row (0 to 255) and song time of the block the device is playing.
// 0 for a null song and while nothing plays. May be called from any thread while the song plays.
int playingOrder(const Song* song);
int playingRow(const Song* song);
int playingTimeMs(const Song* song);

// Mixes block `fillIndex` of the playing song and moves on to the next block.
void mixBlock();
// One poll of the device: re-mixes every block it has finished since the last poll, in order, up
// to but not including the block it is playing now. The mixing thread's work every 5 ms.
void mixFinishedBlocks();
// The mixing thread's body: polls the device and re-mixes the blocks it has finished.
void mixingThread();

// Starts the song as playSong does, with buffers but without device, priming or thread, for
// rendering offline. Needs prepareMixSettings (or audioOpen) first; stopSong ends it. 0 for a
// null song, no settings, no memory, or a song already playing through the device.
int startSongOffline(Song* song);
// Mixes the next block of an offline song; its blockFrames stereo frames of 16-bit PCM, valid
// until the next call. Null when no offline song is running.
const int16_t* renderNextBlock();

// The block whose record the queries report, and the block mixBlock fills next.
int32_t playingBlockIndex();
int32_t fillingBlockIndex();
