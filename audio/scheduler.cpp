#include "audio/scheduler.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "audio/pcm.h"
#include "module/file_access.h"
#include "player/sequencer.h"

namespace {

// The position shown for a block: the row being played (a pattern loop's jump has already moved
// the state's own row before the loop's first row).
uint64_t packRecord(const PlayState* state) {
    return uint64_t{static_cast<uint8_t>(state->orderPosition)} |
           uint64_t{static_cast<uint8_t>(currentRow(state))} << 8 |
           uint64_t{static_cast<uint32_t>(state->songTimeMs)} << 16;
}

SyncRecord playingRecord(const AudioEngine* engine) {
    int32_t block = engine->playIndex.load(std::memory_order_acquire);
    uint64_t packed = engine->syncRecords[block].load(std::memory_order_acquire);
    SyncRecord record;
    record.order = static_cast<uint8_t>(packed);
    record.row = static_cast<uint8_t>(packed >> 8);
    record.timeMs = static_cast<int32_t>(static_cast<uint32_t>(packed >> 16));
    return record;
}

void releaseBuffers(AudioEngine* engine) {
    free(engine->mixAllocation);
    engine->mixAllocation = nullptr;
    engine->mixBuffer = nullptr;
    free(engine->outputBuffer);
    engine->outputBuffer = nullptr;
}

// The output buffer, the mix buffer and fresh (zero) sync records.
bool allocateBuffers(AudioEngine* engine) {
    const size_t frames = static_cast<size_t>(engine->settings.bufferFrames);
    engine->outputBuffer = static_cast<int16_t*>(calloc(frames, 4));
    engine->mixAllocation = calloc(frames * 8 + 256, 1);
    if (!engine->outputBuffer || !engine->mixAllocation) {
        releaseBuffers(engine);
        return false;
    }
    auto address = reinterpret_cast<uintptr_t>(engine->mixAllocation);
    engine->mixBuffer = reinterpret_cast<float*>((address + 15) & ~uintptr_t{15});
    for (auto& record : engine->syncRecords) record.store(0, std::memory_order_relaxed);
    engine->recordsValid.store(true, std::memory_order_release);
    return true;
}

// Play start, shared by the device and the offline paths: the song's position, the player's
// state and the first-repeat bookkeeping.
bool startSong(AudioEngine* engine, Song* song) {
    if (!engine->state) engine->state = createPlayState(song);
    if (!engine->state) return false;
    engine->state->song = song;
    engine->state->profile = engine->profile;
    startSongPosition(engine->state, engine->voices, engine->settings.sampleRate);
    engine->currentSong = song;
    engine->framesMixed = 0;
    engine->repeatFrame = -1;
    engine->passesLeft = engine->repeatCount;
    engine->passesDone = 0;
    engine->repeatTimeMs.store(-1, std::memory_order_relaxed);
    engine->fillIndex.store(0);
    engine->playIndex.store(0);
    resetAmigaFilter(&engine->amigaFilter);
    return true;
}

// One tick of the song. Where the song comes round, another pass begins, or, with none left,
// the frame is noted at which the song ends.
void runTick(AudioEngine* engine, PlayState* state) {
    playerTick(state);
    if (engine->tickObserver) engine->tickObserver(engine);
    if (!state->hasRepeated || engine->repeatFrame >= 0) return;
    if (engine->passesLeft != 0) {
        if (engine->passesLeft > 0) engine->passesLeft -= 1;
        engine->passesDone += 1;
        forgetPlayedRows(state);
        return;
    }
    engine->repeatFrame = engine->framesMixed;
    engine->repeatTimeMs.store(state->songTimeMs, std::memory_order_release);
}

// The voices of one piece of a block, from frame `offset` of the block on: the muted channels'
// voices move on without sound, and when the block is skipped or planned, all of them do (and
// their runs go to the engine's plan when it has one).
void mixPiece(AudioEngine* engine, float* out, int32_t offset, int32_t frames) {
    const bool skipping = engine->blockMode != BlockMode::MIX;
    if (engine->stems && !skipping) {
        mixVoicesWithStems(engine->voices, engine->settings, engine->controls, out, engine->stems,
                           offset, frames);
        return;
    }
    if (!skipping && engine->controls.mutedChannels == 0) {
        mixVoices(engine->voices, engine->settings, out, frames,
                  mixInterpolation(engine->controls));
        return;
    }
    for (int v = 0; v < MIXED_VOICE_COUNT; ++v) {
        Voice* voice = &engine->voices[v];
        if (!voice->sample) continue;
        if (engine->blockMode == BlockMode::PLAN && engine->plan) {
            planVoice(voice, engine->settings, offset, frames, engine->plan);
        } else {
            const bool silent = skipping || channelMuted(engine->controls, voice->channel);
            mixVoice(voice, engine->settings, silent ? nullptr : out, frames,
                     mixInterpolation(engine->controls));
        }
    }
}

// playSong, with or without the mixing thread: without it, the host polls with mixFinishedBlocks.
int startPlayback(AudioEngine* engine, Song* song, bool withThread) {
    if (!song || !engine->openDevice) return 0;
    stopSong(engine, song);
    if (!startSong(engine, song) || !allocateBuffers(engine)) {
        stopSong(engine, song);
        return 0;
    }
    const OutputDevice* device = engine->openDevice;
    device->prepare(engine->outputBuffer, static_cast<uint32_t>(engine->settings.bufferFrames) * 4);
    // Prime the whole buffer: blocks 0 to blockCount - 1, the first beginning with a tick.
    for (int32_t block = 0; block < engine->settings.blockCount; ++block) mixBlock(engine);

    engine->lastDeviceBytes = device->position();
    engine->deviceBytesPlayed = 0;
    device->write();
    engine->stopRequested.store(0);
    if (!withThread) return 1;
    // Counts as running from here on, even before the thread gets to run.
    engine->mixerFinished.store(0);
    auto body = [](void* argument) { mixingThread(static_cast<AudioEngine*>(argument)); };
    if (!mixThreadStart(&engine->thread, body, engine)) {
        stopSong(engine, song);
        return 0;
    }
    return 1;
}

// Voices keep their sample from one playback to the next; none may keep one that is released.
void forgetSongInVoices(AudioEngine* engine, const Song* song) {
    forEachSample(song, [engine](const Sample* sample, int32_t) {
        for (Voice& voice : engine->voices) {
            if (voice.sample == sample) voice.sample = nullptr;
        }
    });
}

}  // namespace

AudioEngine* createAudioEngine() { return new (std::nothrow) AudioEngine{}; }

void destroyAudioEngine(AudioEngine* engine) {
    if (!engine) return;
    audioClose(engine);
    if (engine->currentSong) stopSong(engine, engine->currentSong);
    destroyPlayState(engine->state);
    delete engine;
}

void setOutputDevice(AudioEngine* engine, const OutputDevice* device) {
    engine->chosenDevice = device;
}

const OutputDevice* outputDevice(const AudioEngine* engine) { return engine->chosenDevice; }

void prepareMixSettings(AudioEngine* engine, int32_t rate) {
    engine->settings = mixSettingsFor(rate);
    resetVoices(engine->voices);
}

int audioOpen(AudioEngine* engine, int32_t rate) {
    if (!fileCallbacksComplete()) return 0;
    audioClose(engine);
    const OutputDevice* device = engine->chosenDevice;
    if (!device || rate < MIN_SAMPLE_RATE || rate > MAX_SAMPLE_RATE) return 0;
    if (!device->open(rate)) return 0;
    engine->openDevice = device;
    prepareMixSettings(engine, rate);
    return 1;
}

void audioClose(AudioEngine* engine) {
    if (engine->currentSong) stopSong(engine, engine->currentSong);
    if (!engine->openDevice) return;
    engine->openDevice->reset();
    engine->openDevice->close();
    engine->openDevice = nullptr;
}

int playSong(AudioEngine* engine, Song* song) { return startPlayback(engine, song, true); }

int playSongWithoutThread(AudioEngine* engine, Song* song) {
    return startPlayback(engine, song, false);
}

int stopSong(AudioEngine* engine, Song* song) {
    if (!song) return 0;
    engine->stopRequested.store(1, std::memory_order_release);
    while (engine->mixerBusy.load(std::memory_order_acquire) != 0) {
    }
    mixThreadJoin(&engine->thread);
    engine->mixerFinished.store(1);
    engine->recordsValid.store(false, std::memory_order_release);
    if (engine->outputBuffer && !engine->offline && engine->openDevice) {
        // Silence first: the device must not go on looping a buffer about to be released.
        engine->openDevice->reset();
        engine->openDevice->unprepare();
    }
    releaseBuffers(engine);
    engine->currentSong = nullptr;
    engine->offline = false;
    return 1;
}

int playingOrder(const AudioEngine* engine, const Song* song) {
    if (!song || !engine->recordsValid.load(std::memory_order_acquire)) return 0;
    return playingRecord(engine).order;
}

int playingRow(const AudioEngine* engine, const Song* song) {
    if (!song || !engine->recordsValid.load(std::memory_order_acquire)) return 0;
    return playingRecord(engine).row;
}

int playingTimeMs(const AudioEngine* engine, const Song* song) {
    if (!song || !engine->recordsValid.load(std::memory_order_acquire)) return 0;
    return playingRecord(engine).timeMs;
}

void mixBlock(AudioEngine* engine) {
    PlayState* state = engine->state;
    if (!engine->currentSong || !state || !engine->mixBuffer) return;
    const MixSettings& settings = engine->settings;
    const int32_t blockFrames = settings.blockFrames;
    int32_t block = engine->fillIndex.load(std::memory_order_relaxed);
    int32_t start = block * blockFrames;
    float* out = engine->mixBuffer + 2 * start;
    const bool skipping = engine->blockMode != BlockMode::MIX;
    if (!skipping) memset(out, 0, static_cast<size_t>(blockFrames) * 8);
    if (!skipping) clearStems(engine->stems);

    // The block is mixed in pieces that end at tick boundaries; each tick runs before its first
    // frame is mixed.
    int32_t done = 0;
    int32_t left = state->tickSamplesLeft;
    while (done < blockFrames) {
        if (left <= 0) {
            runTick(engine, state);
            // Read after the tick: a tempo change made by the tick already sets its length. A
            // tick of no frames would never let the block end.
            left = state->samplesPerTick > 0 ? state->samplesPerTick : 1;
        }
        int32_t frames = done + left > blockFrames ? blockFrames - done : left;
        mixPiece(engine, out, done, frames);
        done += frames;
        out += 2 * frames;
        left -= frames;
        engine->framesMixed += frames;
        // Each piece adds its own truncated milliseconds, so song time runs a little behind.
        state->songTimeMs += static_cast<int32_t>(
            static_cast<double>(frames) * static_cast<double>(settings.inverseRate) * 1000.0);
    }
    engine->syncRecords[block].store(packRecord(state), std::memory_order_release);
    state->tickSamplesLeft = left;
    if (!skipping) {
        shapeMix(engine->mixBuffer + 2 * start, blockFrames, engine->controls);
        shapeStems(engine->stems, engine->controls, settings.sampleRate,
                   engine->state->amigaLedFilter);
        amigaFilterBlock(&engine->amigaFilter, engine->mixBuffer + 2 * start, blockFrames,
                         settings.sampleRate, engine->controls.amiga,
                         engine->state->amigaLedFilter);
        convertToPcm16(engine->outputBuffer + 2 * start, engine->mixBuffer + 2 * start,
                       blockFrames);
    }
    engine->fillIndex.store(block + 1 == settings.blockCount ? 0 : block + 1,
                            std::memory_order_relaxed);
}

// One poll: re-mix every block the device has finished since the last one, in order, up to but
// not including the block it is playing now.
void mixFinishedBlocks(AudioEngine* engine) {
    if (!engine->openDevice || !engine->currentSong || engine->offline) return;
    const MixSettings& settings = engine->settings;
    uint32_t bytes = engine->openDevice->position();
    // The count wraps at 2^32 bytes; its change since the last poll, taken modulo 2^32, does not.
    engine->deviceBytesPlayed += static_cast<uint32_t>(bytes - engine->lastDeviceBytes);
    engine->lastDeviceBytes = bytes;
    uint64_t frame = engine->deviceBytesPlayed / 4;
    int32_t target = static_cast<int32_t>(frame % static_cast<uint64_t>(settings.bufferFrames)) /
                     settings.blockFrames;
    while (engine->fillIndex.load(std::memory_order_relaxed) != target &&
           !engine->stopRequested.load(std::memory_order_acquire)) {
        engine->mixerBusy.store(1, std::memory_order_release);
        mixBlock(engine);
        int32_t next = engine->playIndex.load(std::memory_order_relaxed) + 1;
        engine->playIndex.store(next == settings.blockCount ? 0 : next, std::memory_order_release);
        engine->mixerBusy.store(0, std::memory_order_release);
    }
}

void mixingThread(AudioEngine* engine) {
    engine->mixerFinished.store(0);
    while (engine->stopRequested.load(std::memory_order_acquire) == 0) {
        mixFinishedBlocks(engine);
        mixThreadSleep(5);
    }
    engine->mixerFinished.store(1);
}

int startSongOffline(AudioEngine* engine, Song* song) {
    if (!song || engine->settings.blockFrames <= 0) return 0;
    if (engine->currentSong && !engine->offline) return 0;
    if (engine->currentSong) stopSong(engine, engine->currentSong);
    if (!startSong(engine, song) || !allocateBuffers(engine)) {
        releaseBuffers(engine);
        engine->currentSong = nullptr;
        return 0;
    }
    engine->offline = true;
    return 1;
}

int32_t mixNextOfflineBlock(AudioEngine* engine, BlockMode mode, MixPlan* plan) {
    if (!engine->offline || !engine->currentSong) return -1;
    int32_t block = engine->fillIndex.load(std::memory_order_relaxed);
    engine->blockMode = mode;
    engine->plan = mode == BlockMode::PLAN ? plan : nullptr;
    mixBlock(engine);
    engine->blockMode = BlockMode::MIX;
    engine->plan = nullptr;
    engine->playIndex.store(block, std::memory_order_release);
    return block;
}

const int16_t* renderNextBlock(AudioEngine* engine) {
    int32_t block = mixNextOfflineBlock(engine);
    if (block < 0) return nullptr;
    return engine->outputBuffer + 2 * block * engine->settings.blockFrames;
}

int32_t playingBlockIndex(const AudioEngine* engine) {
    return engine->playIndex.load(std::memory_order_acquire);
}

int32_t fillingBlockIndex(const AudioEngine* engine) {
    return engine->fillIndex.load(std::memory_order_acquire);
}

int freeSong(AudioEngine* engine, Song* song) {
    if (!song) return 0;
    // Never release memory under the mixing thread's feet.
    while (engine->mixerBusy.load(std::memory_order_acquire) != 0) {
    }
    if (engine->currentSong == song) stopSong(engine, song);
    forgetSongInVoices(engine, song);
    releaseSong(song);
    return 1;
}
