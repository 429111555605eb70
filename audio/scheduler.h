// The mix scheduler: turns a playing song into 16-bit stereo PCM, block by block. An AudioEngine
// holds everything of one playback: the mix settings, the voice table, the output device it plays
// through, one looping output buffer of 100 blocks, the sync records and the mixing thread. The
// device plays the buffer endlessly; the mixing thread polls the play position every 5 ms and
// re-mixes each block the device has finished. Mixing a block advances the song tick by tick and
// stores a SyncRecord (order, row, song time) for it, so a host can ask what is audible now.
//
// Every function comes twice: with an AudioEngine* first, acting on that engine, and without,
// acting on one default engine of the process, which is what a program with one song uses:
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
// renderNextBlock, in the order the device would have played them. Engines are independent: two
// threads may each render a song on an engine of their own at the same time.
#pragma once

#include <atomic>
#include <cstdint>

#include "audio/mix_thread.h"
#include "audio/mixer.h"
#include "audio/output_device.h"
#include "audio/output_end.h"
#include "audio/pcm.h"
#include "audio/stems.h"
#include "module/song.h"
#include "player/player_state.h"
#include "player/voice.h"

// What was playing when one block had been mixed. Kept packed in one 64-bit word so that a query
// from another thread always sees a whole record.
struct SyncRecord {
    uint8_t order;  // low 8 bits of the order position
    uint8_t row;  // low 8 bits of the row being played
    int32_t timeMs;  // its songTimeMs
};

// Blocks of 1/50 s, two buffers of BUFFER_MILLISECONDS: the block count does not depend on the
// rate.
constexpr int32_t BUFFER_BLOCKS = BUFFER_MILLISECONDS / 20 * 2;

// Output rates audioOpen accepts; outside them the block and ramp sizes make no sense.
constexpr int32_t MIN_SAMPLE_RATE = 1000;
constexpr int32_t MAX_SAMPLE_RATE = 384000;

// What mixing a block makes: its sound (MIX); nothing but the song's and the voices' progress,
// exactly as mixing would move them (SKIP, the quick way to a later frame); or, as SKIP does, and
// with the runs of voice frames it would have mixed written into a plan for other threads (PLAN).
enum class BlockMode : uint8_t { MIX, SKIP, PLAN };

struct AudioEngine;
struct AudioEngine {
    MixSettings settings;  // set by audioOpen or prepareMixSettings
    Voice voices[VOICE_COUNT];

    const OutputDevice* chosenDevice;
    const OutputDevice* openDevice;  // null while no device is open
    Song* currentSong;
    PlayState* state;  // the playing state of currentSong; kept from one song to the next
    PlayProfile profile;  // the way songs play from their next start on (Brom's own: 0)
    // Called after every tick the engine runs (tests watch the song through it); null: none.
    void (*tickObserver)(AudioEngine* engine);
    void* observerContext;
    bool offline;  // the current song is rendered block by block, with no device
    int16_t* outputBuffer;  // bufferFrames stereo frames of 16-bit PCM, what the device loops
    void* mixAllocation;
    float* mixBuffer;  // bufferFrames stereo frames of floats, 16-byte aligned in the above

    // Frames mixed since the song started, and the frame and song time at which the tick began
    // that came back to a row already played once no passes were left (-1 until then): where
    // the song ends. `repeatCount` more passes follow the first (-1: without end).
    int64_t framesMixed;
    int64_t repeatFrame;
    std::atomic<int32_t> repeatTimeMs;
    int32_t repeatCount;
    int32_t passesLeft;
    int32_t passesDone;
    // Where an offline render's output ends once the last pass comes round (audio/output_end.h).
    OutputEnd end;

    // What becomes of the mix: muted channels, gain and stereo width.
    OutputControls controls;
    // What the block being mixed makes (mixNextOfflineBlock sets it for one block).
    BlockMode blockMode;
    // The Amiga mode's output filters, run over the blocks in the order they are heard (from
    // rest at every start of the song).
    AmigaFilterState amigaFilter;
    // In BlockMode::PLAN, receives the runs of voice frames the block would have mixed
    // (planVoice): what the parallel renderer mixes elsewhere (audio/parallel_render.h).
    MixPlan* plan;
    // When set, blocks mixed with sound also render their stems (audio/stems.h) into it: the
    // block mixed last. Owned by whoever sets it.
    StemSet* stems;

    // Written by the mixing thread, read by the queries and the tests from other threads.
    std::atomic<int32_t> fillIndex;
    std::atomic<int32_t> playIndex;
    // One record per block. The table is never released, so a query racing with stopSong reads
    // stale values at worst; `recordsValid` says whether they mean anything.
    std::atomic<uint64_t> syncRecords[BUFFER_BLOCKS];
    std::atomic<bool> recordsValid;

    // The device's byte count as the mixing thread last saw it, and the bytes played since the
    // song started, which do not wrap.
    uint32_t lastDeviceBytes;
    uint64_t deviceBytesPlayed;

    // Cross-thread flags of the mixing thread.
    std::atomic<uint8_t> stopRequested;
    std::atomic<uint8_t> mixerBusy;
    std::atomic<uint8_t> mixerFinished{1};
    MixThread thread;
};

// A new engine with no settings and no device (null when memory is short), and its release
// (stops what it plays and closes its device; null is fine).
AudioEngine* createAudioEngine();
void destroyAudioEngine(AudioEngine* engine);
// The engine the functions without an engine argument act on.
AudioEngine* defaultAudioEngine();

// The device that audioOpen opens; null (the default) makes audioOpen fail.
void setOutputDevice(AudioEngine* engine, const OutputDevice* device);
const OutputDevice* outputDevice(const AudioEngine* engine);

// Sets the rate and the sizes derived from it, and clears the voice table (index = own number,
// step = 1). audioOpen does this once the device is open; offline tools call it directly.
void prepareMixSettings(AudioEngine* engine, int32_t rate);

// Opens the chosen output device at `rate`. 0 when the file callbacks are incomplete, no device
// is chosen, the rate is out of range or the device does not open.
int audioOpen(AudioEngine* engine, int32_t rate);
// Stops any playback, then resets and closes the device.
void audioClose(AudioEngine* engine);
// Plays the song from its start: primes the whole buffer, starts the device and the mixing
// thread. 0 for a null song, before a successful audioOpen, or when memory or the thread cannot
// be had (nothing is left running then).
int playSong(AudioEngine* engine, Song* song);
// Plays the song as playSong does, but starts no mixing thread: the host polls the device itself
// with mixFinishedBlocks. Tests use it to drive the manual-clock device through hours of
// playback without waiting for them; a host with an audio thread of its own could too.
int playSongWithoutThread(AudioEngine* engine, Song* song);
// Ends the mixing thread, silences the device and releases the buffers. 0 for a null song.
int stopSong(AudioEngine* engine, Song* song);
// What is audible now: order, row (0 to 255) and song time of the block the device is playing.
// 0 for a null song and while nothing plays. May be called from any thread while the song plays.
int playingOrder(const AudioEngine* engine, const Song* song);
int playingRow(const AudioEngine* engine, const Song* song);
int playingTimeMs(const AudioEngine* engine, const Song* song);

// Mixes block `fillIndex` of the playing song and moves on to the next block.
void mixBlock(AudioEngine* engine);
// One poll of the device: re-mixes every block it has finished since the last poll, in order, up
// to but not including the block it is playing now. The mixing thread's work every 5 ms.
void mixFinishedBlocks(AudioEngine* engine);
// The mixing thread's body: polls the device and re-mixes the blocks it has finished.
void mixingThread(AudioEngine* engine);

// Starts the song as playSong does, with buffers but without device, priming or thread, for
// rendering offline. Needs prepareMixSettings (or audioOpen) first; stopSong ends it. 0 for a
// null song, no settings, no memory, or a song already playing through the device.
int startSongOffline(AudioEngine* engine, Song* song);
// Mixes the next block of an offline song; its blockFrames stereo frames of 16-bit PCM, valid
// until the next call. Null when no offline song is running.
const int16_t* renderNextBlock(AudioEngine* engine);
// Mixes the next block of an offline song; the block's index (its frames start at blockFrames x
// index in the output buffer and, before their conversion, in the mix buffer), -1 when no
// offline song is running.
int32_t mixNextOfflineBlock(AudioEngine* engine, BlockMode mode = BlockMode::MIX,
                            MixPlan* plan = nullptr);

// The block whose record the queries report, and the block mixBlock fills next.
int32_t playingBlockIndex(const AudioEngine* engine);
int32_t fillingBlockIndex(const AudioEngine* engine);

// Releases a song that `engine` may have played: stops it if it plays there and forgets its
// samples in the voice table (voices keep their sample from one playback to the next), then
// frees it. 0 for null, else 1.
int freeSong(AudioEngine* engine, Song* song);

// ---- The same on the default engine ----

void setOutputDevice(const OutputDevice* device);
const OutputDevice* outputDevice();
void prepareMixSettings(int32_t rate);
int audioOpen(int32_t rate);
void audioClose();
int playSong(Song* song);
int playSongWithoutThread(Song* song);
int stopSong(Song* song);
int playingOrder(const Song* song);
int playingRow(const Song* song);
int playingTimeMs(const Song* song);
void mixBlock();
void mixFinishedBlocks();
void mixingThread();
int startSongOffline(Song* song);
const int16_t* renderNextBlock();
int32_t playingBlockIndex();
int32_t fillingBlockIndex();

// Opens `path` through the registered file callbacks and loads it, ready to play; null on any
// failure, with the reason in songLoadError().
Song* loadSong(const char* path, SampleDataHook hook);
// Why the last loadSong failed, as one short line of text ("" after a success).
const char* songLoadError();
// Stops playback of the song on the default engine if it plays, then releases it. 0 for null.
int freeSong(Song* song);
