#include "audio/parallel_render.h"

#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>

#include "audio/mix_thread.h"
#include "audio/playback_snapshot.h"
#include "player/sequencer.h"

namespace {

// Blocks made ahead per thread: enough that no thread waits for the host's next block.
constexpr int32_t SLOTS_PER_THREAD = 8;
// Blocks between two snapshots: a rewind runs at most about this many blocks again.
constexpr int32_t SNAPSHOT_INTERVAL = 8;
// Recorded voices of the blocks made ahead beyond which no more are made (a song of very short
// ticks has hundreds of pieces to a block; ordinary blocks record a hundred voices or so).
constexpr int64_t VOICES_AHEAD_BUDGET = 65536;
// A slot whose records grew beyond this gives the memory back before it is used again.
constexpr int32_t VOICES_KEPT = 4096;

// A slot's block: RECORDED once the host has recorded it, MIXING while a thread mixes it, MIXED
// when its buffers hold it, EMPTY when free again.
enum class SlotState : uint8_t { EMPTY, RECORDED, MIXING, MIXED };

// The frames of one piece and where its voices lie among the slot's recorded voices.
struct Piece {
    int32_t frames;
    int32_t firstVoice;
    int32_t voiceCount;
};

struct BlockSlot {
    SlotState state;
    uint64_t generation;  // of the output controls it was mixed with
    BlockInfo info;
    Piece* pieces;
    int32_t pieceCount;
    int32_t pieceCapacity;
    Voice* voices;
    int32_t voiceCount;
    int32_t voiceCapacity;
    bool recordFailed;  // memory ran short while recording
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
    SongGoesOn goesOn;
    void* context;
    int32_t threads;

    int32_t slotCount;
    BlockSlot* slots;
    int32_t snapshotCount;
    Snapshot* snapshots;

    // Guarded by `lock`: the slots' states, the numbers of the blocks taken and made, the
    // controls and settings the threads mix with, and the stop flag.
    std::mutex lock;
    std::condition_variable workToDo;  // a block was recorded, or the workers must stop
    std::condition_variable blockMixed;
    int64_t taken;  // the block the host has taken last (0: none since the reset)
    int64_t made;  // the block the engine has made last
    MixSettings settings;
    OutputControls controls;
    uint64_t generation;
    bool stopping;

    bool workersStarted;
    int32_t workerCount;
    MixThread workers[MOST_RENDER_THREADS];
    bool broken;  // memory ran short: no more blocks
};

namespace {

BlockSlot* slotOf(ParallelRender* render, int64_t sequence) {
    return &render->slots[sequence % render->slotCount];
}

bool growRecords(BlockSlot* slot, int32_t pieces, int32_t voices) {
    if (pieces > slot->pieceCapacity) {
        const int32_t capacity = pieces * 2;
        auto* grown = static_cast<Piece*>(realloc(slot->pieces, sizeof(Piece) * capacity));
        if (!grown) return false;
        slot->pieces = grown;
        slot->pieceCapacity = capacity;
    }
    if (voices > slot->voiceCapacity) {
        const int32_t capacity = voices * 2;
        auto* grown = static_cast<Voice*>(realloc(slot->voices, sizeof(Voice) * capacity));
        if (!grown) return false;
        slot->voices = grown;
        slot->voiceCapacity = capacity;
    }
    return true;
}

// The engine's piece hook while a block is made: the piece and its sounding voices, in the order
// the mixer adds them.
void recordPiece(void* context, const Voice* voices, int32_t frames) {
    auto* slot = static_cast<BlockSlot*>(context);
    if (slot->recordFailed) return;
    if (!growRecords(slot, slot->pieceCount + 1, slot->voiceCount + MIXED_VOICE_COUNT)) {
        slot->recordFailed = true;
        return;
    }
    Piece& piece = slot->pieces[slot->pieceCount++];
    piece.frames = frames;
    piece.firstVoice = slot->voiceCount;
    for (int v = 0; v < MIXED_VOICE_COUNT; ++v) {
        if (voices[v].sample) slot->voices[slot->voiceCount++] = voices[v];
    }
    piece.voiceCount = slot->voiceCount - piece.firstVoice;
}

// Mixes a recorded block into the slot's buffers: each piece's voices from their recorded states,
// the muted ones left out (their states are not needed after the piece), then the shaping and the
// conversion, as mixBlock does.
void mixSlot(const MixSettings& settings, const OutputControls& controls, BlockSlot* slot) {
    const int32_t blockFrames = settings.blockFrames;
    memset(slot->mix, 0, static_cast<size_t>(blockFrames) * 8);
    float* out = slot->mix;
    for (int32_t p = 0; p < slot->pieceCount; ++p) {
        const Piece& piece = slot->pieces[p];
        for (int32_t k = 0; k < piece.voiceCount; ++k) {
            Voice voice = slot->voices[piece.firstVoice + k];
            if (!voiceMuted(controls, voice.index)) mixVoice(&voice, settings, out, piece.frames);
        }
        out += 2 * piece.frames;
    }
    shapeMix(slot->mix, blockFrames, controls);
    convertToPcm16(slot->pcm, slot->mix, blockFrames);
}

// The recorded block made earliest, now claimed for mixing; null when there is none. With the
// lock held.
BlockSlot* claimRecorded(ParallelRender* render) {
    for (int64_t s = render->taken + 1; s <= render->made; ++s) {
        BlockSlot* slot = slotOf(render, s);
        if (slot->state == SlotState::RECORDED) {
            slot->state = SlotState::MIXING;
            return slot;
        }
    }
    return nullptr;
}

// Mixes a claimed slot with the lock released for the while, and marks it mixed.
void mixClaimed(ParallelRender* render, BlockSlot* slot, std::unique_lock<std::mutex>& guard) {
    const MixSettings settings = render->settings;
    const OutputControls controls = render->controls;
    const uint64_t generation = render->generation;
    guard.unlock();
    mixSlot(settings, controls, slot);
    guard.lock();
    slot->state = SlotState::MIXED;
    slot->generation = generation;
    render->blockMixed.notify_all();
}

void workerBody(void* argument) {
    auto* render = static_cast<ParallelRender*>(argument);
    std::unique_lock<std::mutex> guard(render->lock);
    while (!render->stopping) {
        BlockSlot* slot = claimRecorded(render);
        if (slot) {
            mixClaimed(render, slot, guard);
        } else {
            render->workToDo.wait(guard);
        }
    }
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
        render->stopping = true;
    }
    render->workToDo.notify_all();
    for (int32_t k = 0; k < render->workerCount; ++k) mixThreadJoin(&render->workers[k]);
    render->workerCount = 0;
}

// Frees the blocks made ahead of the one taken last, once no thread mixes them any more. With the
// lock held.
void dropBlocksAhead(ParallelRender* render, std::unique_lock<std::mutex>& guard) {
    for (int64_t s = render->taken + 1; s <= render->made; ++s) {
        BlockSlot* slot = slotOf(render, s);
        while (slot->state == SlotState::MIXING) render->blockMixed.wait(guard);
        slot->state = SlotState::EMPTY;
    }
    render->made = render->taken;
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

// Advances the engine by one block without sound; with a slot, recording the block into it.
void advanceEngine(AudioEngine* engine, BlockSlot* slot) {
    engine->skipping = true;
    engine->pieceHook = slot ? recordPiece : nullptr;
    engine->pieceContext = slot;
    mixNextOfflineBlock(engine);
    engine->skipping = false;
    engine->pieceHook = nullptr;
    engine->pieceContext = nullptr;
}

void noteInfo(const AudioEngine* engine, BlockInfo* info) {
    const Song* song = engine->currentSong;
    info->framesMixed = engine->framesMixed;
    info->repeatFrame = engine->repeatFrame;
    info->order = song->orderPosition;
    info->row = song->row;
    info->speed = song->speed;
    info->bpm = song->bpm;
    for (int c = 0; c < MAX_PLAYER_CHANNELS; ++c) {
        info->levels[c] = static_cast<uint8_t>(channelLevel(song, c));
    }
}

// Makes the next block: records it into its slot and hands it to the threads. False when the
// song has ended or memory ran short.
bool makeBlock(ParallelRender* render) {
    if (render->broken || !render->goesOn(render->context)) return false;
    const int64_t sequence = render->made + 1;
    snapshotBefore(render, sequence);
    BlockSlot* slot = slotOf(render, sequence);
    if (slot->voiceCapacity > VOICES_KEPT) {
        free(slot->voices);
        slot->voices = nullptr;
        slot->voiceCapacity = 0;
    }
    slot->pieceCount = 0;
    slot->voiceCount = 0;
    slot->recordFailed = false;
    advanceEngine(render->engine, slot);
    if (slot->recordFailed) {
        render->broken = true;
        return false;
    }
    noteInfo(render->engine, &slot->info);
    {
        std::lock_guard<std::mutex> guard(render->lock);
        slot->state = SlotState::RECORDED;
        render->made = sequence;
    }
    render->workToDo.notify_one();
    return true;
}

int64_t voicesAhead(ParallelRender* render) {
    int64_t voices = 0;
    for (int64_t s = render->taken + 1; s <= render->made; ++s) voices += slotOf(render, s)->voiceCount;
    return voices;
}

// Makes blocks until every slot but the one taken holds one (or the song ends).
void makeBlocksAhead(ParallelRender* render) {
    while (render->made - render->taken < render->slotCount - 1 &&
           voicesAhead(render) < VOICES_AHEAD_BUDGET && makeBlock(render)) {
    }
}

bool allocateSlot(BlockSlot* slot, int32_t blockFrames) {
    slot->mixAllocation = malloc(static_cast<size_t>(blockFrames) * 8 + 64);
    slot->pcm = static_cast<int16_t*>(malloc(static_cast<size_t>(blockFrames) * 4));
    if (!slot->mixAllocation || !slot->pcm) return false;
    auto address = reinterpret_cast<uintptr_t>(slot->mixAllocation);
    slot->mix = reinterpret_cast<float*>((address + 63) & ~uintptr_t{63});
    return growRecords(slot, 8, 8 * MIXED_VOICE_COUNT);
}

void releaseSlots(ParallelRender* render) {
    for (int32_t k = 0; k < render->slotCount; ++k) {
        BlockSlot* slot = &render->slots[k];
        free(slot->pieces);
        free(slot->voices);
        free(slot->mixAllocation);
        free(slot->pcm);
        *slot = BlockSlot{};
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

ParallelRender* createParallelRender(AudioEngine* engine, int32_t threads, SongGoesOn goesOn,
                                     void* context) {
    if (!engine->currentSong) return nullptr;
    auto* render = new (std::nothrow) ParallelRender{};
    if (!render) return nullptr;
    render->engine = engine;
    render->goesOn = goesOn;
    render->context = context;
    render->threads = threads < 1 ? 1 : threads > MOST_RENDER_THREADS ? MOST_RENDER_THREADS : threads;
    render->slotCount = SLOTS_PER_THREAD * render->threads;
    render->snapshotCount = render->slotCount / SNAPSHOT_INTERVAL + 2;
    render->slots = new (std::nothrow) BlockSlot[render->slotCount]{};
    render->snapshots = new (std::nothrow) Snapshot[render->snapshotCount]{};
    bool ready = render->slots && render->snapshots;
    for (int32_t k = 0; ready && k < render->snapshotCount; ++k) {
        render->snapshots[k].sequence = -1;
        render->snapshots[k].playback = createPlaybackSnapshot(engine->currentSong);
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
    std::unique_lock<std::mutex> guard(render->lock);
    dropBlocksAhead(render, guard);
    render->taken = 0;
    render->made = 0;
    for (int32_t k = 0; k < render->slotCount; ++k) render->slots[k].state = SlotState::EMPTY;
    render->broken = !fitSlots(render, render->engine->settings.blockFrames);
    render->settings = render->engine->settings;
    render->controls = render->engine->controls;
    render->generation += 1;
    forgetSnapshots(render);
}

bool parallelNextBlock(ParallelRender* render, RenderedBlock* block) {
    if (!render->workersStarted) startWorkers(render);
    makeBlocksAhead(render);
    if (render->made == render->taken && !makeBlock(render)) return false;
    const int64_t next = render->taken + 1;
    BlockSlot* slot = slotOf(render, next);
    std::unique_lock<std::mutex> guard(render->lock);
    // Rather than wait, mix: the block wanted when no thread has it yet, else the earliest one
    // that waits for a thread.
    while (slot->state != SlotState::MIXED || slot->generation != render->generation) {
        if (slot->state == SlotState::MIXED) slot->state = SlotState::RECORDED;  // old controls
        BlockSlot* claimed = claimRecorded(render);
        if (claimed) {
            mixClaimed(render, claimed, guard);
        } else {
            render->blockMixed.wait(guard);
        }
    }
    if (render->taken > 0) slotOf(render, render->taken)->state = SlotState::EMPTY;
    render->taken = next;
    block->pcm = slot->pcm;
    block->mix = slot->mix;
    block->info = &slot->info;
    return true;
}

const BlockInfo* parallelTakenInfo(const ParallelRender* render) {
    if (render->taken == 0 || render->made == render->taken) return nullptr;
    return &render->slots[render->taken % render->slotCount].info;
}

bool parallelRewind(ParallelRender* render) {
    if (render->made > render->taken) {
        {
            std::unique_lock<std::mutex> guard(render->lock);
            dropBlocksAhead(render, guard);
        }
        // The newest snapshot of a state at or before the one wanted: the state before block
        // taken + 1. One is always kept (snapshots are forgotten only when the engine stands
        // where the host is, and the first block made after that takes one).
        const Snapshot* best = nullptr;
        for (int32_t k = 0; k < render->snapshotCount; ++k) {
            const Snapshot* snapshot = &render->snapshots[k];
            if (snapshot->sequence < 0 || snapshot->sequence > render->taken + 1) continue;
            if (!best || snapshot->sequence > best->sequence) best = snapshot;
        }
        if (!best) {
            render->broken = true;
            return false;
        }
        restorePlayback(best->playback, render->engine);
        for (int64_t s = best->sequence; s <= render->taken; ++s) advanceEngine(render->engine, nullptr);
    }
    // The host changes the state next: no snapshot holds it.
    forgetSnapshots(render);
    return true;
}

void parallelControlsChanged(ParallelRender* render) {
    {
        std::lock_guard<std::mutex> guard(render->lock);
        render->controls = render->engine->controls;
        render->generation += 1;
        for (int64_t s = render->taken + 1; s <= render->made; ++s) {
            BlockSlot* slot = slotOf(render, s);
            if (slot->state == SlotState::MIXED) slot->state = SlotState::RECORDED;
        }
    }
    render->workToDo.notify_all();
}
