#include "audio/parallel_render.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "audio/mix_thread.h"
#include "audio/output_end.h"
#include "audio/playback_snapshot.h"
#include "player/sequencer.h"
#include "player/voice_pool.h"

namespace {

// Blocks made ahead per thread: enough that no thread waits for the host's next block.
constexpr int32_t SLOTS_PER_THREAD = 8;
// Blocks between two snapshots: a rewind runs at most about this many blocks again.
constexpr int32_t SNAPSHOT_INTERVAL = 16;
// Planned runs of the blocks made ahead beyond which no more are made (a song of very short
// ticks has thousands of runs to a block; ordinary blocks have some tens).
constexpr int64_t RUNS_AHEAD_BUDGET = 65536;
// A slot whose plan grew beyond this gives the memory back before it is used again.
constexpr int32_t RUNS_KEPT = 4096;

// A slot's block: RECORDED once the host has recorded it, MIXING while a thread mixes it, MIXED
// when its buffers hold it, EMPTY when free again. Threads claim a recorded block by moving it to
// MIXING; everything else moves only on the host's thread.
constexpr uint8_t EMPTY = 0;
constexpr uint8_t RECORDED = 1;
constexpr uint8_t MIXING = 2;
constexpr uint8_t MIXED = 3;

// One block. The host writes everything but the state and the buffers while no thread mixes the
// block; the thread that claims it reads the records and the controls and writes the buffers.
struct BlockSlot {
    std::atomic<uint8_t> state;
    OutputControls controls;  // to mix with
    uint64_t generation;  // of those controls
    BlockInfo info;
    MixPlan plan;
    void* mixAllocation;
    float* mix;  // blockFrames stereo frames, 64-byte aligned in the above
    int16_t* pcm;
};

struct Snapshot {
    int64_t sequence;  // the state before this block; -1 when none is kept
    PlaybackSnapshot* playback;
};

}  // namespace

struct ParallelRender {
    AudioEngine* engine;
    int32_t threads;

    int32_t slotCount;
    BlockSlot* slots;
    int32_t snapshotCount;
    Snapshot* snapshots;

    // Written by the host only: the block taken last (0: none since the reset; the threads look
    // for work after it) and made last, the controls of the blocks it records next and their
    // generation, and the settings, which change only while no block is recorded.
    std::atomic<int64_t> taken;
    int64_t made;
    OutputControls controls;
    uint64_t generation;
    MixSettings settings;

    // Sleeping and waking: a thread that finds no work sleeps on `workToDo`, the host waiting for
    // a block a thread mixes on `blockMixed`. Each side says it sleeps before it looks once more,
    // and the other wakes it only then, so that the lock is taken only around the sleeps.
    std::mutex lock;
    std::condition_variable workToDo;
    std::condition_variable blockMixed;
    std::atomic<int32_t> sleepingWorkers;
    std::atomic<bool> hostWaiting;
    std::atomic<bool> stopping;

    bool workersStarted;
    int32_t workerCount;
    MixThread workers[MOST_RENDER_THREADS];
    bool broken;  // memory ran short: no more blocks
};

namespace {

BlockSlot* slotOf(ParallelRender* render, int64_t sequence) {
    return &render->slots[sequence % render->slotCount];
}

// Mixes a planned block into the slot's buffers: its runs in order, the muted voices' left out,
// then the shaping and the conversion, as mixBlock does.
void mixSlot(const MixSettings& settings, BlockSlot* slot) {
    const OutputControls& controls = slot->controls;
    const int32_t blockFrames = settings.blockFrames;
    memset(slot->mix, 0, static_cast<size_t>(blockFrames) * 8);
    for (int32_t k = 0; k < slot->plan.count; ++k) {
        const PlannedRun& run = slot->plan.runs[k];
        if (!channelMuted(controls, run.channel)) {
            renderPlannedRun(run, slot->plan, slot->mix, mixInterpolation(controls));
        }
    }
    shapeMix(slot->mix, blockFrames, controls);
    convertToPcm16(slot->pcm, slot->mix, blockFrames);
}

bool claim(BlockSlot* slot) {
    // Looked at first: a failed exchange would take the cache line from the other threads too.
    uint8_t expected = RECORDED;
    return slot->state.load(std::memory_order_relaxed) == RECORDED &&
           slot->state.compare_exchange_strong(expected, MIXING);
}

// A recorded block claimed for mixing, the earliest made first; null when there is none.
BlockSlot* claimRecorded(ParallelRender* render) {
    const int64_t first = render->taken.load() + 1;
    for (int32_t k = 0; k < render->slotCount; ++k) {
        BlockSlot* slot = slotOf(render, first + k);
        if (claim(slot)) return slot;
    }
    return nullptr;
}

// The same, the latest made first: the host's work while it waits for a block, which leaves the
// earliest to the threads, so that host and threads meet seldom (and a thread seldom sleeps).
BlockSlot* claimLatest(ParallelRender* render) {
    for (int64_t s = render->made; s > render->taken.load(); --s) {
        BlockSlot* slot = slotOf(render, s);
        if (claim(slot)) return slot;
    }
    return nullptr;
}

bool anyRecorded(ParallelRender* render) {
    for (int32_t k = 0; k < render->slotCount; ++k) {
        if (render->slots[k].state.load() == RECORDED) return true;
    }
    return false;
}

// Mixes a claimed block and hands it back, waking the host if it waits.
void mixClaimed(ParallelRender* render, BlockSlot* slot) {
    mixSlot(render->settings, slot);
    slot->state.store(MIXED);
    if (render->hostWaiting.load()) {
        std::lock_guard<std::mutex> guard(render->lock);
        render->blockMixed.notify_all();
    }
}

void workerBody(void* argument) {
    auto* render = static_cast<ParallelRender*>(argument);
    while (!render->stopping.load()) {
        BlockSlot* slot = claimRecorded(render);
        if (slot) {
            mixClaimed(render, slot);
            continue;
        }
        std::unique_lock<std::mutex> guard(render->lock);
        render->sleepingWorkers.fetch_add(1);
        while (!render->stopping.load() && !anyRecorded(render)) render->workToDo.wait(guard);
        render->sleepingWorkers.fetch_sub(1);
    }
}

void wakeWorkers(ParallelRender* render) {
    if (render->sleepingWorkers.load() == 0) return;
    std::lock_guard<std::mutex> guard(render->lock);
    render->workToDo.notify_all();
}

// Waits while a thread mixes the block.
void waitWhileMixing(ParallelRender* render, BlockSlot* slot) {
    std::unique_lock<std::mutex> guard(render->lock);
    render->hostWaiting.store(true);
    while (slot->state.load() == MIXING) render->blockMixed.wait(guard);
    render->hostWaiting.store(false);
}

void startWorkers(ParallelRender* render) {
    render->workersStarted = true;
    for (int32_t k = 0; k + 1 < render->threads; ++k) {
        // Without a worker the host mixes every block itself: slower, never wrong.
        if (!workerThreadStart(&render->workers[k], workerBody, render)) break;
        render->workerCount += 1;
    }
}

void stopWorkers(ParallelRender* render) {
    {
        std::lock_guard<std::mutex> guard(render->lock);
        render->stopping.store(true);
        render->workToDo.notify_all();
    }
    for (int32_t k = 0; k < render->workerCount; ++k) mixThreadJoin(&render->workers[k]);
    render->workerCount = 0;
}

// Frees the blocks made ahead of the one taken last, once no thread mixes them any more.
void dropBlocksAhead(ParallelRender* render) {
    for (int64_t s = render->taken.load() + 1; s <= render->made; ++s) {
        BlockSlot* slot = slotOf(render, s);
        // A thread may claim a recorded block meanwhile: then it is waited for.
        if (!claim(slot)) waitWhileMixing(render, slot);
        slot->state.store(EMPTY);
    }
    render->made = render->taken.load();
}

void forgetSnapshots(ParallelRender* render) {
    for (int32_t k = 0; k < render->snapshotCount; ++k) render->snapshots[k].sequence = -1;
}

// Before block `sequence` is made: a snapshot when the newest is SNAPSHOT_INTERVAL blocks old,
// or there is none, in place of the oldest.
void snapshotBefore(ParallelRender* render, int64_t sequence) {
    Snapshot* oldest = &render->snapshots[0];
    int64_t newest = -1;
    for (int32_t k = 0; k < render->snapshotCount; ++k) {
        Snapshot* snapshot = &render->snapshots[k];
        if (snapshot->sequence > newest) newest = snapshot->sequence;
        if (snapshot->sequence < oldest->sequence) oldest = snapshot;
    }
    if (newest >= 0 && sequence - newest < SNAPSHOT_INTERVAL) return;
    savePlayback(oldest->playback, render->engine);
    oldest->sequence = sequence;
}

// Advances the engine by one block without sound; with a plan, planning the block into it.
void advanceEngine(AudioEngine* engine, MixPlan* plan) {
    mixNextOfflineBlock(engine, plan ? BlockMode::PLAN : BlockMode::SKIP, plan);
}

void noteInfo(const AudioEngine* engine, BlockInfo* info) {
    const PlayState* state = engine->state;
    info->framesMixed = engine->framesMixed;
    info->repeatFrame = engine->repeatFrame;
    info->order = state->orderPosition;
    info->row = currentRow(state);
    info->speed = state->speed;
    info->bpm = state->bpm;
    info->ledFilter = state->amigaLedFilter;
    const int channels = playedChannelCount(state->song);
    viewChannels(state, info->views);
    for (int c = 0; c < channels; ++c) {
        info->levels[c] = static_cast<uint8_t>(channelLevel(state, c));
    }
    info->backgroundNotes = backgroundNotesOf(state, -1);
}

// Makes the next block: records it into its slot and hands it to the threads. False when the
// song has ended or memory ran short.
bool makeBlock(ParallelRender* render) {
    if (render->broken || !engineGoesOn(render->engine)) return false;
    const int64_t sequence = render->made + 1;
    snapshotBefore(render, sequence);
    BlockSlot* slot = slotOf(render, sequence);
    MixPlan* plan = &slot->plan;
    if (plan->capacity > RUNS_KEPT) {
        releaseMixPlan(plan);
    }
    plan->count = 0;
    plan->frameCount = 0;
    advanceEngine(render->engine, plan);
    if (plan->failed) {
        render->broken = true;
        return false;
    }
    noteInfo(render->engine, &slot->info);
    slot->controls = render->controls;
    slot->generation = render->generation;
    slot->state.store(RECORDED);
    render->made = sequence;
    return true;
}

int64_t runsAhead(ParallelRender* render) {
    int64_t runs = 0;
    for (int64_t s = render->taken.load() + 1; s <= render->made; ++s) {
        runs += slotOf(render, s)->plan.count;
    }
    return runs;
}

// Once half the blocks made ahead are taken: makes blocks until every slot but the one taken
// holds one (or the song ends), then wakes the sleeping threads: once for several blocks, as
// waking a thread can cost as much as mixing a light block.
void makeBlocksAhead(ParallelRender* render) {
    if (render->made - render->taken.load() >= render->slotCount / 2) return;
    while (render->made - render->taken.load() < render->slotCount - 1 &&
           runsAhead(render) < RUNS_AHEAD_BUDGET && makeBlock(render)) {
    }
    wakeWorkers(render);
}

bool allocateSlot(BlockSlot* slot, int32_t blockFrames) {
    slot->mixAllocation = malloc(static_cast<size_t>(blockFrames) * 8 + 64);
    slot->pcm = static_cast<int16_t*>(malloc(static_cast<size_t>(blockFrames) * 4));
    if (!slot->mixAllocation || !slot->pcm) return false;
    auto address = reinterpret_cast<uintptr_t>(slot->mixAllocation);
    slot->mix = reinterpret_cast<float*>((address + 63) & ~uintptr_t{63});
    return true;
}

void releaseSlots(ParallelRender* render) {
    for (int32_t k = 0; k < render->slotCount; ++k) {
        BlockSlot* slot = &render->slots[k];
        releaseMixPlan(&slot->plan);
        free(slot->mixAllocation);
        free(slot->pcm);
        slot->mixAllocation = nullptr;
        slot->mix = nullptr;
        slot->pcm = nullptr;
    }
}

// Slot buffers for the engine's block size (they change with the rate).
bool fitSlots(ParallelRender* render, int32_t blockFrames) {
    if (render->settings.blockFrames == blockFrames && render->slots[0].pcm) return true;
    releaseSlots(render);
    for (int32_t k = 0; k < render->slotCount; ++k) {
        if (!allocateSlot(&render->slots[k], blockFrames)) return false;
    }
    return true;
}

}  // namespace

ParallelRender* createParallelRender(AudioEngine* engine, int32_t threads) {
    if (!engine->currentSong) return nullptr;
    auto* render = new (std::nothrow) ParallelRender{};
    if (!render) return nullptr;
    render->engine = engine;
    render->threads = threads < 1                     ? 1
                      : threads > MOST_RENDER_THREADS ? MOST_RENDER_THREADS
                                                      : threads;
    render->slotCount = SLOTS_PER_THREAD * render->threads;
    render->snapshotCount = render->slotCount / SNAPSHOT_INTERVAL + 2;
    render->slots = new (std::nothrow) BlockSlot[render->slotCount]{};
    render->snapshots = new (std::nothrow) Snapshot[render->snapshotCount]{};
    bool ready = render->slots && render->snapshots;
    for (int32_t k = 0; ready && k < render->snapshotCount; ++k) {
        render->snapshots[k].sequence = -1;
        render->snapshots[k].playback = createPlaybackSnapshot();
        ready = render->snapshots[k].playback != nullptr;
    }
    if (!ready) {
        destroyParallelRender(render);
        return nullptr;
    }
    return render;
}

void destroyParallelRender(ParallelRender* render) {
    if (!render) return;
    stopWorkers(render);
    if (render->slots) releaseSlots(render);
    delete[] render->slots;
    if (render->snapshots) {
        for (int32_t k = 0; k < render->snapshotCount; ++k) {
            destroyPlaybackSnapshot(render->snapshots[k].playback);
        }
    }
    delete[] render->snapshots;
    delete render;
}

void parallelReset(ParallelRender* render) {
    dropBlocksAhead(render);
    for (int32_t k = 0; k < render->slotCount; ++k) render->slots[k].state.store(EMPTY);
    render->taken.store(0);
    render->made = 0;
    render->broken = !fitSlots(render, render->engine->settings.blockFrames);
    render->settings = render->engine->settings;
    render->controls = render->engine->controls;
    render->generation += 1;
    forgetSnapshots(render);
}

bool parallelNextBlock(ParallelRender* render, RenderedBlock* block) {
    if (!render->workersStarted) startWorkers(render);
    makeBlocksAhead(render);
    const int64_t taken = render->taken.load();
    if (render->made == taken && !makeBlock(render)) return false;
    BlockSlot* slot = slotOf(render, taken + 1);
    // Rather than wait, mix: the block wanted when no thread has it yet (or it was mixed with
    // controls since changed), else the latest one that waits for a thread.
    for (;;) {
        const uint8_t state = slot->state.load();
        if (state == MIXED && slot->generation == render->generation) break;
        if (state == MIXED) {
            slot->controls = render->controls;
            slot->generation = render->generation;
            mixSlot(render->settings, slot);
        } else if (claim(slot)) {
            mixClaimed(render, slot);
        } else if (BlockSlot* other = claimLatest(render)) {
            mixClaimed(render, other);
        } else {
            waitWhileMixing(render, slot);
        }
    }
    if (taken > 0) slotOf(render, taken)->state.store(EMPTY);
    render->taken.store(taken + 1);
    // The Amiga's filters run over the blocks in the order they are taken, as mixBlock runs them.
    if (slot->controls.amiga != AmigaModel::OFF) {
        amigaFilterBlock(&render->engine->amigaFilter, slot->mix, render->settings.blockFrames,
                         render->settings.sampleRate, slot->controls.amiga, slot->info.ledFilter);
        convertToPcm16(slot->pcm, slot->mix, render->settings.blockFrames);
    }
    block->pcm = slot->pcm;
    block->mix = slot->mix;
    block->info = &slot->info;
    return true;
}

const BlockInfo* parallelTakenInfo(const ParallelRender* render) {
    const int64_t taken = render->taken.load();
    if (taken == 0 || render->made == taken) return nullptr;
    return &render->slots[taken % render->slotCount].info;
}

bool parallelRewind(ParallelRender* render) {
    const int64_t taken = render->taken.load();
    if (render->made > taken) {
        dropBlocksAhead(render);
        // The newest snapshot of a state at or before the one wanted: the state before block
        // taken + 1. One is always kept (snapshots are forgotten only when the engine stands
        // where the host is, and the first block made after that takes one).
        const Snapshot* best = nullptr;
        for (int32_t k = 0; k < render->snapshotCount; ++k) {
            const Snapshot* snapshot = &render->snapshots[k];
            if (snapshot->sequence < 0 || snapshot->sequence > taken + 1) continue;
            if (!best || snapshot->sequence > best->sequence) best = snapshot;
        }
        if (!best) {
            render->broken = true;
            return false;
        }
        restorePlayback(best->playback, render->engine);
        for (int64_t s = best->sequence; s <= taken; ++s) advanceEngine(render->engine, nullptr);
    }
    // The host changes the state next: no snapshot holds it.
    forgetSnapshots(render);
    return true;
}

void parallelControlsChanged(ParallelRender* render) {
    render->controls = render->engine->controls;
    render->generation += 1;
    // Blocks not being mixed take the new controls; one being mixed is mixed again when taken.
    for (int64_t s = render->taken.load() + 1; s <= render->made; ++s) {
        BlockSlot* slot = slotOf(render, s);
        uint8_t mixed = MIXED;
        if (!claim(slot) && !slot->state.compare_exchange_strong(mixed, MIXING)) continue;
        slot->controls = render->controls;
        slot->generation = render->generation;
        slot->state.store(RECORDED);
    }
    wakeWorkers(render);
}
