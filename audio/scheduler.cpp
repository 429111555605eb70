#include "audio/scheduler.h"

#include <cstdlib>
#include <cstring>

#include "audio/mix_thread.h"
#include "audio/pcm.h"
#include "module/file_access.h"
#include "player/sequencer.h"

int32_t sampleRate = 0;
int32_t blockFrames = 0;
int32_t bufferFrames = 0;
int32_t blockCount = 0;
float inverseRate = 0.0f;
int32_t rampFrames = 0;
float inverseRampFrames = 0.0f;

Voice voiceTable[VOICE_COUNT];

std::atomic<uint8_t> stopRequested{0};
std::atomic<uint8_t> mixerBusy{0};
std::atomic<uint8_t> mixerFinished{1};

namespace {

// Blocks of 1/50 s, two buffers of BUFFER_MILLISECONDS: the block count does not depend on the
// rate.
constexpr int32_t BLOCKS = BUFFER_MILLISECONDS / 20 * 2;

const OutputDevice* chosenDevice = nullptr;
const OutputDevice* openDevice = nullptr;  // null while no device is open

Song* currentSong = nullptr;
bool offline = false;  // the current song is rendered block by block, with no device
int16_t* outputBuffer = nullptr;  // bufferFrames stereo frames of 16-bit PCM, what the device loops
void* mixAllocation = nullptr;
float* mixBuffer = nullptr;  // bufferFrames stereo frames of floats, 16-byte aligned in the above

// Written by the mixing thread, read by the queries and the tests from other threads.
std::atomic<int32_t> fillIndex{0};
std::atomic<int32_t> playIndex{0};
// One record per block, packed in 64 bits. The table is never released, so a query racing with
// stopSong reads stale values at worst; `recordsValid` says whether they mean anything.
std::atomic<uint64_t> syncRecords[BLOCKS];
std::atomic<bool> recordsValid{false};

// The device's byte count as the mixing thread last saw it, and the bytes played since the song
// started, which do not wrap.
uint32_t lastDeviceBytes = 0;
uint64_t deviceBytesPlayed = 0;

uint64_t packRecord(const Song* song) {
    return uint64_t{static_cast<uint8_t>(song->orderPosition)} |
           uint64_t{static_cast<uint8_t>(song->row)} << 8 |
           uint64_t{static_cast<uint32_t>(song->songTimeMs)} << 16;
}

SyncRecord playingRecord() {
    uint64_t packed =
        syncRecords[playIndex.load(std::memory_order_acquire)].load(std::memory_order_acquire);
    SyncRecord record;
    record.order = static_cast<uint8_t>(packed);
    record.row = static_cast<uint8_t>(packed >> 8);
    record.timeMs = static_cast<int32_t>(static_cast<uint32_t>(packed >> 16));
    return record;
}

void releaseBuffers() {
    free(mixAllocation);
    mixAllocation = nullptr;
    mixBuffer = nullptr;
    free(outputBuffer);
    outputBuffer = nullptr;
}

// The output buffer, the mix buffer and fresh (zero) sync records.
bool allocateBuffers() {
    outputBuffer = static_cast<int16_t*>(calloc(static_cast<size_t>(bufferFrames), 4));
    mixAllocation = calloc(static_cast<size_t>(bufferFrames) * 8 + 256, 1);
    if (!outputBuffer || !mixAllocation) {
        releaseBuffers();
        return false;
    }
    auto address = reinterpret_cast<uintptr_t>(mixAllocation);
    mixBuffer = reinterpret_cast<float*>((address + 15) & ~uintptr_t{15});
    for (auto& record : syncRecords) record.store(0, std::memory_order_relaxed);
    recordsValid.store(true, std::memory_order_release);
    return true;
}

}  // namespace

// One poll: re-mix every block the device has finished since the last one, in order, up to but
// not including the block it is playing now.
void mixFinishedBlocks() {
    if (!openDevice || !currentSong || offline) return;
    uint32_t bytes = openDevice->position();
    // The count wraps at 2^32 bytes; its change since the last poll, taken modulo 2^32, does not.
    deviceBytesPlayed += static_cast<uint32_t>(bytes - lastDeviceBytes);
    lastDeviceBytes = bytes;
    uint64_t frame = deviceBytesPlayed / 4;
    int32_t target =
        static_cast<int32_t>(frame % static_cast<uint64_t>(bufferFrames)) / blockFrames;
    while (fillIndex.load(std::memory_order_relaxed) != target &&
           !stopRequested.load(std::memory_order_acquire)) {
        mixerBusy.store(1, std::memory_order_release);
        mixBlock();
        int32_t next = playIndex.load(std::memory_order_relaxed) + 1;
        playIndex.store(next == blockCount ? 0 : next, std::memory_order_release);
        mixerBusy.store(0, std::memory_order_release);
    }
}

void setOutputDevice(const OutputDevice* device) { chosenDevice = device; }
const OutputDevice* outputDevice() { return chosenDevice; }

void prepareMixSettings(int32_t rate) {
    sampleRate = rate;
    blockFrames = (rate / 50 + 3) & ~3;
    bufferFrames = blockFrames * (BUFFER_MILLISECONDS / 20) * 2;
    blockCount = blockFrames ? bufferFrames / blockFrames : 0;
    rampFrames = rate * 128 / 44100;
    inverseRate = rate ? 1.0f / static_cast<float>(rate) : 0.0f;
    inverseRampFrames = rampFrames ? 1.0f / static_cast<float>(rampFrames) : 0.0f;
    memset(voiceTable, 0, sizeof voiceTable);
    for (int j = 0; j < VOICE_COUNT; ++j) {
        voiceTable[j].index = j;
        voiceTable[j].step = 1;
    }
}

int audioOpen(int32_t rate) {
    if (!fileCallbacksComplete()) return 0;
    audioClose();
    if (!chosenDevice || rate < MIN_SAMPLE_RATE || rate > MAX_SAMPLE_RATE) return 0;
    if (!chosenDevice->open(rate)) return 0;
    openDevice = chosenDevice;
    prepareMixSettings(rate);
    return 1;
}

void audioClose() {
    if (currentSong) stopSong(currentSong);
    if (!openDevice) return;
    openDevice->reset();
    openDevice->close();
    openDevice = nullptr;
}

namespace {

// playSong, with or without the mixing thread: without it, the host polls with mixFinishedBlocks.
int startPlayback(Song* song, bool withThread) {
    if (!song || !openDevice) return 0;
    stopSong(song);
    startSongPosition(song);
    currentSong = song;
    if (!allocateBuffers()) {
        stopSong(song);
        return 0;
    }
    openDevice->prepare(outputBuffer, static_cast<uint32_t>(bufferFrames) * 4);
    fillIndex.store(0);
    playIndex.store(0);
    // Prime the whole buffer: blocks 0 to blockCount - 1, the first beginning with a tick.
    for (int32_t block = 0; block < blockCount; ++block) mixBlock();

    lastDeviceBytes = openDevice->position();
    deviceBytesPlayed = 0;
    openDevice->write();
    stopRequested.store(0);
    if (!withThread) return 1;
    // Counts as running from here on, even before the thread gets to run.
    mixerFinished.store(0);
    if (!mixThreadStart(mixingThread)) {
        stopSong(song);
        return 0;
    }
    return 1;
}

}  // namespace

int playSong(Song* song) { return startPlayback(song, true); }

int playSongWithoutThread(Song* song) { return startPlayback(song, false); }

int stopSong(Song* song) {
    if (!song) return 0;
    stopRequested.store(1, std::memory_order_release);
    while (mixerBusy.load(std::memory_order_acquire) != 0) {
    }
    mixThreadJoin();
    mixerFinished.store(1);
    recordsValid.store(false, std::memory_order_release);
    if (outputBuffer && !offline && openDevice) {
        // Silence first: the device must not go on looping a buffer about to be released.
        openDevice->reset();
        openDevice->unprepare();
    }
    releaseBuffers();
    currentSong = nullptr;
    offline = false;
    return 1;
}

int playingOrder(const Song* song) {
    if (!song || !recordsValid.load(std::memory_order_acquire)) return 0;
    return playingRecord().order;
}

int playingRow(const Song* song) {
    if (!song || !recordsValid.load(std::memory_order_acquire)) return 0;
    return playingRecord().row;
}

int playingTimeMs(const Song* song) {
    if (!song || !recordsValid.load(std::memory_order_acquire)) return 0;
    return playingRecord().timeMs;
}

void mixBlock() {
    Song* song = currentSong;
    if (!song || !mixBuffer) return;
    int32_t block = fillIndex.load(std::memory_order_relaxed);
    int32_t start = block * blockFrames;
    float* out = mixBuffer + 2 * start;
    memset(out, 0, static_cast<size_t>(blockFrames) * 8);

    // The block is mixed in pieces that end at tick boundaries; each tick runs before its first
    // frame is mixed.
    int32_t done = 0;
    int32_t left = song->tickSamplesLeft;
    while (done < blockFrames) {
        if (left <= 0) {
            if (song->tickHandler) song->tickHandler(song);
            // Read after the tick: a tempo change made by the tick already sets its length. A
            // tick of no frames would never let the block end.
            left = song->samplesPerTick > 0 ? song->samplesPerTick : 1;
        }
        int32_t frames = done + left > blockFrames ? blockFrames - done : left;
        mixVoices(out, frames);
        done += frames;
        out += 2 * frames;
        left -= frames;
        // Each piece adds its own truncated milliseconds, so song time runs a little behind.
        song->songTimeMs += static_cast<int32_t>(static_cast<double>(frames) *
                                                 static_cast<double>(inverseRate) * 1000.0);
    }
    syncRecords[block].store(packRecord(song), std::memory_order_release);
    song->tickSamplesLeft = left;
    convertToPcm16(outputBuffer + 2 * start, mixBuffer + 2 * start, blockFrames);
    fillIndex.store(block + 1 == blockCount ? 0 : block + 1, std::memory_order_relaxed);
}

void mixingThread() {
    mixerFinished.store(0);
    while (stopRequested.load(std::memory_order_acquire) == 0) {
        mixFinishedBlocks();
        mixThreadSleep(5);
    }
    mixerFinished.store(1);
}

int startSongOffline(Song* song) {
    if (!song || blockFrames <= 0) return 0;
    if (currentSong && !offline) return 0;
    if (currentSong) stopSong(currentSong);
    startSongPosition(song);
    currentSong = song;
    if (!allocateBuffers()) {
        currentSong = nullptr;
        return 0;
    }
    offline = true;
    fillIndex.store(0);
    playIndex.store(0);
    return 1;
}

const int16_t* renderNextBlock() {
    if (!offline || !currentSong) return nullptr;
    int32_t block = fillIndex.load(std::memory_order_relaxed);
    mixBlock();
    playIndex.store(block, std::memory_order_release);
    return outputBuffer + 2 * block * blockFrames;
}

int32_t playingBlockIndex() { return playIndex.load(std::memory_order_acquire); }
int32_t fillingBlockIndex() { return fillIndex.load(std::memory_order_acquire); }
