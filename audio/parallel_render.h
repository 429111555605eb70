// The parallel renderer: one song rendered offline on several threads, bit for bit as one thread
// renders it.
//
// The host's thread (the one that asks for blocks) runs the player ahead of what it has taken: it
// advances the engine block by block while skipping, which moves the song and the voices exactly
// as mixing would, and plans each block on the way: the runs of voice frames mixing would have
// added, in the order it would have added them (planVoice). Worker threads, and the host's
// thread whenever it would otherwise wait, render the planned runs into blocks of their own
// (renderPlannedRun), shape them with the output controls and convert them to PCM; the host takes
// the finished blocks in order. Every run adds exactly what mixing adds, in the same order, so
// every sum rounds to the same bits.
//
// What the host changes takes effect from the block after the one it took last, as with one
// thread: a change of the output controls (mute, gain, width) renders the blocks made ahead again
// from their plans, which the controls never change; before anything that changes the player's
// state (a jump, the repeat count), parallelRewind brings the engine back to just after the block
// taken last: from the newest snapshot at or before it, the blocks up to it run again.
//
//     ParallelRender* render = createParallelRender(engine, 2);
//     startSongOffline(engine, song);
//     parallelReset(render);                     // the engine stands where the host does
//     RenderedBlock block;
//     while (parallelNextBlock(render, &block)) use(block.pcm, block.mix, block.info);
//     destroyParallelRender(render);             // before the song is released
//
// Calls on one renderer come from one thread at a time; its workers only read the plans, the
// blocks and the samples' data, so that thread may use the engine and the song between calls.
#pragma once

#include <cstdint>

#include "audio/scheduler.h"
#include "player/channel_view.h"
#include "player/player_state.h"

// The engine's state after a block, as a host asks about it.
struct BlockInfo {
    int64_t framesMixed;  // the engine's frame count after the block
    int64_t repeatFrame;  // the engine's end frame as known after it, -1 while none
    int32_t order;
    int32_t row;
    int32_t speed;
    int32_t bpm;
    uint8_t ledFilter;  // the Amiga's LED filter
    uint8_t levels[MAX_PLAYER_CHANNELS];  // channelLevel of each played channel (the others unset)
    ChannelView views[MAX_PLAYER_CHANNELS];  // what each played channel plays after the block
    int32_t backgroundNotes;  // notes sounding on in the background channels
};

// Threads a renderer takes at most.
constexpr int32_t MOST_RENDER_THREADS = 16;

// One finished block: blockFrames stereo frames of PCM and of the shaped float mix before its
// conversion, valid until the next block is taken (or the renderer is reset or destroyed).
struct RenderedBlock {
    const int16_t* pcm;
    const float* mix;
    const BlockInfo* info;
};

struct ParallelRender;

// A renderer for the offline song of `engine` with `threads` threads in all (the host's and
// threads - 1 workers, started with the first block); null when memory is short. Blocks are
// made while the engine's song goes on (engineGoesOn, audio/output_end.h).
ParallelRender* createParallelRender(AudioEngine* engine, int32_t threads);
// Ends the workers and releases everything; null is fine.
void destroyParallelRender(ParallelRender* render);

// Forgets every block: the engine's song has been started again (or moved on without the
// renderer) and stands where the host is. Takes the engine's settings and output controls.
void parallelReset(ParallelRender* render);
// The next block in order; false when the song has ended (or memory ran short).
bool parallelNextBlock(ParallelRender* render, RenderedBlock* block);
// The engine's state after the block taken last while the engine has run ahead of it; null when
// the engine stands right after that block, so that its own state says it.
const BlockInfo* parallelTakenInfo(const ParallelRender* render);
// Brings the engine back to just after the block taken last, dropping the blocks made ahead, so
// that the host may change the player's state. False when memory ran short.
bool parallelRewind(ParallelRender* render);
// The engine's output controls have changed: blocks not yet taken are mixed with the new ones.
void parallelControlsChanged(ParallelRender* render);
