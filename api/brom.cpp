// The public C API: a brom_module is a Song with an AudioEngine of its own, rendered offline
// block by block, on one thread or, through the parallel renderer, on several; the caller's
// buffers are filled from those blocks, whatever sizes it asks for.
#include "brom/brom.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <new>
#include <thread>

#include "audio/parallel_render.h"
#include "audio/playback_snapshot.h"
#include "audio/mixer.h"
#include "audio/pcm.h"
#include "audio/scheduler.h"
#include "views.h"
#include "module/cell_text.h"
#include "module/file_access.h"
#include "player/sequencer.h"
#include "player/subsongs.h"
#include "player/voice_pool.h"

namespace {

constexpr int32_t DEFAULT_RATE = 44100;
constexpr int32_t LOWEST_RATE = 8000;
constexpr int32_t HIGHEST_RATE = 192000;
// A song that never comes round ends after an hour of each pass.
constexpr int64_t LONGEST_PASS_SECONDS = 3600;
// Threads one render takes when left to choose: more seldom pay.
constexpr int32_t MOST_AUTOMATIC_THREADS = 8;

}  // namespace

struct brom_module {
    Song* song;
    AudioEngine* engine;
    int32_t rate;

    int32_t threads;  // asked for: 0 as many as the machine has cores, 1 (the default) one
    ParallelRender* parallel;  // the parallel renderer while rendering on several threads
    RenderedBlock parallelBlock;  // the parallel renderer's block being handed out

    int32_t block;  // engine block being handed out (0 for the parallel renderer's); -1 before
                    // the first
    int32_t blockOffset;  // its frames handed out already
    int64_t frame;  // engine frame of the next frame to hand out
    bool rendered;  // frames handed out since the load or the last seek
    int64_t soughtMs;  // the last time sought, -1 if none since the load
    // The last seek by order and row, made at time jumpMs; order -1 when the last seek was by
    // time (or none). A rate change right after it makes the jump again at the new rate.
    int32_t jumpOrder, jumpRow;
    int64_t jumpMs;

    int64_t durationMs;  // one pass at durationRate and durationProfile, -1 until measured
    int32_t durationRate;
    PlayProfile durationProfile;
    // The frame at which one pass first starts each order position (-1: never), measured with
    // the duration.
    int64_t orderFrames[256];

    // The subsongs, found when first asked for (null until then) at subsongs->rate; the one
    // selected (-1: the whole order list) and the rows of those before it.
    SubsongList* subsongs;
    int32_t subsong;
    uint8_t otherSongRows[PLAYED_ROW_BYTES];
    // How the song ends once its last pass comes round, and the fade's length.
    brom_end end;
    int64_t fadeMs;
    ModuleViews views;  // stems and scopes
};

namespace {

brom_error errorOf(LoadFailure kind) {
    switch (kind) {
        case LoadFailure::NONE: return BROM_OK;
        case LoadFailure::CANNOT_OPEN: return BROM_ERROR_IO;
        case LoadFailure::NOT_A_MODULE:
        case LoadFailure::DAMAGED: return BROM_ERROR_FORMAT;
        case LoadFailure::TRUNCATED: return BROM_ERROR_TRUNCATED;
        case LoadFailure::OUT_OF_MEMORY: return BROM_ERROR_MEMORY;
    }
    return BROM_ERROR_FORMAT;
}

void report(brom_error* error, const char** reason, brom_error code, const char* text) {
    if (error) *error = code;
    if (reason) *reason = text;
}

// The subsongs as the module's profile plays them, found at the module's rate when `atRate` (for
// their lengths) or at any rate (for their rows); null when memory is short.
const SubsongList* subsongList(brom_module* module, bool atRate) {
    const SubsongList* found = module->subsongs;
    if (found && found->profile == module->engine->profile &&
        (!atRate || found->rate == module->rate)) {
        return found;
    }
    if (!module->subsongs) {
        module->subsongs = static_cast<SubsongList*>(calloc(1, sizeof(SubsongList)));
        if (!module->subsongs) return nullptr;
    }
    releaseSubsongs(module->subsongs);
    const int64_t passFrames = LONGEST_PASS_SECONDS * module->rate;
    if (findSubsongs(module->song, module->engine->profile, module->rate, passFrames,
                     module->subsongs)) {
        return module->subsongs;
    }
    free(module->subsongs);
    module->subsongs = nullptr;
    return nullptr;
}

// A started playing state to the start of the selected subsong (the whole order list starts as
// subsong 0 does, at order 0).
void placeAtSongStart(brom_module* module, PlayState* state) {
    if (module->subsong <= 0) return;
    const Subsong& subsong = module->subsongs->songs[module->subsong];
    startSubsongAt(state, subsong.order, subsong.row, module->otherSongRows);
}

// Before play start: the rows of the subsongs before the selected one, as the profile now finds
// them. A subsong the profile no longer finds leaves the whole order list selected.
void noteOtherSongRows(brom_module* module) {
    if (module->subsong <= 0) return;
    const SubsongList* list = subsongList(module, false);
    if (!list || module->subsong >= list->count) {
        module->subsong = -1;
        return;
    }
    memset(module->otherSongRows, 0, sizeof module->otherSongRows);
    markVisits(list, 0, list->songs[module->subsong].firstVisit, module->otherSongRows);
}

// Back to frame 0 at the module's rate, nothing handed out.
bool restart(brom_module* module) {
    prepareMixSettings(module->engine, module->rate);
    noteOtherSongRows(module);
    if (!startSongOffline(module->engine, module->song)) return false;
    placeAtSongStart(module, module->engine->state);
    if (!prepareViews(&module->views, module->engine)) return false;
    if (module->parallel) parallelReset(module->parallel);
    module->block = -1;
    module->blockOffset = 0;
    module->frame = 0;
    module->rendered = false;
    module->jumpOrder = -1;
    return true;
}

// The engine's state after the block being handed out as the parallel renderer noted it, while
// it has run the engine ahead; null when the engine's own state is that.
const BlockInfo* takenInfo(const brom_module* module) {
    return module->parallel ? parallelTakenInfo(module->parallel) : nullptr;
}

// Frames of the fade at the end; 0 without one.
int64_t fadeFrames(const brom_module* module) {
    return module->end == BROM_END_FADE ? module->fadeMs * module->rate / 1000 : 0;
}

// The engine frame at which the output ends, from the engine's frame count and end frame; -1
// while not known yet. Where the last pass ends, a fade plays on for its length.
int64_t endFrameAfter(const brom_module* module, int64_t framesMixed, int64_t repeatFrame) {
    const int32_t repeatCount = module->engine->repeatCount;
    if (repeatCount < 0 || module->end == BROM_END_LOOP) return -1;  // without end
    const int64_t cap = (repeatCount + int64_t{1}) * LONGEST_PASS_SECONDS * module->rate;
    if (repeatFrame >= 0 && repeatFrame < cap) return repeatFrame + fadeFrames(module);
    return framesMixed >= cap ? cap + fadeFrames(module) : -1;
}

// The engine's frame count after the block being handed out.
int64_t framesMixed(const brom_module* module) {
    const BlockInfo* info = takenInfo(module);
    return info ? info->framesMixed : module->engine->framesMixed;
}

// Where the output ends, as known after the block being handed out.
int64_t endFrame(const brom_module* module) {
    const BlockInfo* info = takenInfo(module);
    return info ? endFrameAfter(module, info->framesMixed, info->repeatFrame)
                : endFrameAfter(module, module->engine->framesMixed, module->engine->repeatFrame);
}

// Whether the engine's song, wherever the engine stands, has a block more to give.
bool engineGoesOn(void* context) {
    const auto* module = static_cast<const brom_module*>(context);
    const AudioEngine* engine = module->engine;
    const int64_t end = endFrameAfter(module, engine->framesMixed, engine->repeatFrame);
    return end < 0 || engine->framesMixed < end;
}

int32_t threadsWanted(const brom_module* module) {
#if defined(__EMSCRIPTEN__)
    // A web page's library has no threads to start (one would be the page's only thread).
    (void)module;
    return 1;
#endif
    if (module->engine->stems) return 1;  // stems and scopes are mixed on one thread
    if (module->threads > 0) return module->threads;
    // Asked once: the system reads a file to answer, which would cost more than a block.
    static const int32_t cores = static_cast<int32_t>(std::thread::hardware_concurrency());
    return cores < 1 ? 1 : cores > MOST_AUTOMATIC_THREADS ? MOST_AUTOMATIC_THREADS : cores;
}

// Between two blocks: the parallel renderer is made when more than one thread is wanted and
// ended (the engine brought back to where the caller is) when one is. Without memory for it, one
// thread renders.
bool chooseRenderer(brom_module* module) {
    const bool parallel = threadsWanted(module) > 1;
    if (parallel && !module->parallel) {
        module->parallel =
            createParallelRender(module->engine, threadsWanted(module), engineGoesOn, module);
        if (module->parallel) parallelReset(module->parallel);
    } else if (!parallel && module->parallel) {
        const bool rewound = parallelRewind(module->parallel);
        destroyParallelRender(module->parallel);
        module->parallel = nullptr;
        return rewound;
    }
    return true;
}

// Mixes the next block; false when the song has ended before it.
bool nextBlock(brom_module* module) {
    const int64_t end = endFrame(module);
    if (end >= 0 && framesMixed(module) >= end) return false;
    if (!chooseRenderer(module)) return false;
    module->frame = framesMixed(module);
    module->blockOffset = 0;
    if (!module->parallel) {
        module->block = mixNextOfflineBlock(module->engine);
        module->views.blockHasStems = module->engine->stems != nullptr;
        return module->block >= 0;
    }
    if (!parallelNextBlock(module->parallel, &module->parallelBlock)) return false;
    module->block = 0;
    module->views.blockHasStems = false;
    return true;
}

// Frame `offset` of the block being handed out, as 16-bit PCM and as the float mix.
const int16_t* blockPcm(const brom_module* module, int32_t offset) {
    if (module->parallel) return module->parallelBlock.pcm + 2 * offset;
    const AudioEngine* engine = module->engine;
    return engine->outputBuffer +
           2 * (int64_t{module->block} * engine->settings.blockFrames + offset);
}

const float* blockMix(const brom_module* module, int32_t offset) {
    if (module->parallel) return module->parallelBlock.mix + 2 * offset;
    const AudioEngine* engine = module->engine;
    return engine->mixBuffer + 2 * (int64_t{module->block} * engine->settings.blockFrames + offset);
}

// Mute, gain and width act from the next block on, whichever the renderer.
void controlsChanged(brom_module* module) {
    if (module->parallel) parallelControlsChanged(module->parallel);
}

// Before a change to the player's state: the engine must stand where the caller is.
bool bringEngineBack(brom_module* module) {
    return !module->parallel || parallelRewind(module->parallel);
}

// Hands out up to `frames` frames, block by block: `copy(offset, count, done)` copies `count`
// frames from frame `offset` of the block being handed out to the caller's frame `done`.
template <typename Copy>
size_t render(brom_module* module, size_t frames, Copy copy) {
    const int32_t blockFrames = module->engine->settings.blockFrames;
    size_t done = 0;
    while (done < frames) {
        if (module->block < 0 || module->blockOffset >= blockFrames) {
            if (!nextBlock(module)) break;
        }
        int64_t available = blockFrames - module->blockOffset;
        const int64_t end = endFrame(module);
        if (end >= 0 && end - module->frame < available) available = end - module->frame;
        if (available <= 0) {
            module->blockOffset = blockFrames;
            break;
        }
        const size_t count = frames - done < static_cast<size_t>(available)
                                 ? frames - done
                                 : static_cast<size_t>(available);
        copy(module->blockOffset, count, done);
        feedScopes(&module->views, module->engine->stems, module->blockOffset,
                   static_cast<int32_t>(count));
        module->blockOffset += static_cast<int32_t>(count);
        module->frame += static_cast<int64_t>(count);
        done += count;
    }
    if (done > 0) module->rendered = true;
    return done;
}

// Moves on block by block, without making sound, while the next block ends no later than engine
// frame `target` and the song goes on.
void skipBlocks(brom_module* module, int64_t target) {
    AudioEngine* engine = module->engine;
    while (engine->framesMixed + engine->settings.blockFrames <= target &&
           (endFrame(module) < 0 || engine->framesMixed < endFrame(module))) {
        mixNextOfflineBlock(engine, BlockMode::SKIP);
    }
}

// Restarts and moves on to engine frame `target` without making sound, then mixes the block that
// holds it: what follows is exactly what a render from the start gives from there on.
bool seekToFrame(brom_module* module, int64_t target) {
    if (!restart(module)) return false;
    skipBlocks(module, target);
    AudioEngine* engine = module->engine;
    const int32_t blockFrames = engine->settings.blockFrames;
    const int64_t end = endFrame(module);
    if (end >= 0 && end <= target) {  // beyond the end: the song stays at its end
        module->frame = end;
        module->block = 0;
        module->blockOffset = blockFrames;
        return true;
    }
    if (!nextBlock(module)) return false;
    module->blockOffset = static_cast<int32_t>(target - module->frame);
    module->frame = target;
    return true;
}

// Frames of one pass at the module's rate: a playing state of its own runs from the start to
// where the song comes round, adding up the ticks' lengths and noting where each order position
// first starts. The engine's own playback is left as it is.
int64_t measurePassFrames(brom_module* module) {
    PlayState* state = createPlayState(module->song);
    auto* voices = static_cast<Voice*>(calloc(VOICE_COUNT, sizeof(Voice)));
    if (!state || !voices) {
        destroyPlayState(state);
        free(voices);
        return -1;
    }
    resetVoices(voices);
    state->profile = module->engine->profile;
    startSongPosition(state, voices, module->rate);
    placeAtSongStart(module, state);
    for (int64_t& start : module->orderFrames) start = -1;
    const int64_t frames =
        playPass(state, LONGEST_PASS_SECONDS * module->rate, nullptr,
                 [module](int32_t order, int32_t, int64_t frame) {
                     if (order >= 0 && order < 256 && module->orderFrames[order] < 0) {
                         module->orderFrames[order] = frame;
                     }
                 });
    destroyPlayState(state);
    free(voices);
    return frames;
}

// `frames` stereo frames of the mix (32768 = 1.0) at 1.0 full scale: a division by a power of
// two, exact; `to` may be `from`.
void toFullScale(float* to, const float* from, size_t frames) {
    for (size_t k = 0; k < 2 * frames; ++k) to[k] = from[k] * (1.0f / 32768.0f);
}

// Whether any of the `count` frames from the next one to hand out lies in the fade at the end.
bool fadeTouches(const brom_module* module, size_t count) {
    const int64_t fade = fadeFrames(module);
    const int64_t end = fade > 0 ? endFrame(module) : -1;
    return end >= 0 && module->frame + static_cast<int64_t>(count) > end - fade;
}

// `count` stereo frames of the mix from the next one to hand out on, faded: frame f of the fade
// that ends at frame E and lasts N frames is scaled by (E - f) / N, in double precision and
// rounded once to a float, the same on every machine.
void fadeMix(const brom_module* module, int64_t first, const float* from, float* to, size_t count) {
    const int64_t fade = fadeFrames(module);
    const int64_t end = endFrame(module);
    for (size_t k = 0; k < count; ++k) {
        const int64_t left = end - (first + static_cast<int64_t>(k));
        const double gain = left >= fade ? 1.0 : static_cast<double>(left) / fade;
        to[2 * k] = static_cast<float>(from[2 * k] * gain);
        to[2 * k + 1] = static_cast<float>(from[2 * k + 1] * gain);
    }
}

void fadeMix(const brom_module* module, const float* from, float* to, size_t count) {
    fadeMix(module, module->frame, from, to, count);
}

// The same as 16-bit PCM, converted as the engine converts its mix.
void fadePcm(const brom_module* module, const float* from, int16_t* to, size_t count) {
    constexpr size_t PIECE = 256;
    float faded[2 * PIECE];
    for (size_t done = 0; done < count; done += PIECE) {
        const size_t piece = count - done < PIECE ? count - done : PIECE;
        fadeMix(module, module->frame + static_cast<int64_t>(done), from + 2 * done, faded, piece);
        convertToPcm16(to + 2 * done, faded, static_cast<int32_t>(piece));
    }
}

// `count` frames of the mix (or of a stem) from the next one to hand out on, as brom_render_f32
// gives them: faded where the fade at the end reaches, at 1.0 full scale.
void handOutFloats(const brom_module* module, const float* from, float* to, size_t count) {
    if (fadeTouches(module, count)) {
        fadeMix(module, from, to, count);
        from = to;
    }
    toFullScale(to, from, count);
}

// A jump into the middle of a song ends where a pass from the start would: the rows that pass
// plays before it reaches the jump's row (or, when it never plays that row, its order position)
// count as played already. For a selected subsong the pass is its own; for the whole order list
// the rows of the subsongs before the one jumped into count too.
void rowsBeforeJump(brom_module* module, int32_t order, int32_t row) {
    const SubsongList* list = subsongList(module, false);
    const int32_t visit = list ? visitOf(list, order, row) : -1;
    if (visit < 0) return;
    const int32_t from = module->subsong >= 0 ? list->songs[module->subsong].firstVisit : 0;
    markVisits(list, from, visit, module->engine->state->playedRows);
}

// Whether the selected subsong plays a row of order position `order`.
bool orderInSubsong(brom_module* module, int32_t order) {
    const SubsongList* list = subsongList(module, false);
    if (!list) return false;
    const Subsong& subsong = list->songs[module->subsong];
    for (int32_t k = subsong.firstVisit; k < subsong.firstVisit + subsong.visitCount; ++k) {
        if (list->visits[k] >> 8 == order) return true;
    }
    return false;
}

brom_module* loadModule(const FileCallbacks* files, const char* path, brom_error* error,
                        const char** reason) {
    auto* module = static_cast<brom_module*>(calloc(1, sizeof(brom_module)));
    AudioEngine* engine = createAudioEngine();
    if (!module || !engine) {
        free(module);
        destroyAudioEngine(engine);
        report(error, reason, BROM_ERROR_MEMORY, "out of memory");
        return nullptr;
    }
    LoadError loadError;
    module->song = readSongWith(files, path, nullptr, &loadError);
    module->engine = engine;
    module->rate = DEFAULT_RATE;
    module->threads = 1;  // the calling thread alone, unless asked for more
    module->soughtMs = -1;
    module->jumpOrder = -1;
    module->durationMs = -1;
    module->subsong = -1;
    if (!module->song) {
        report(error, reason, errorOf(loadError.kind), loadError.reason);
        brom_free(module);
        return nullptr;
    }
    if (!restart(module)) {
        report(error, reason, BROM_ERROR_MEMORY, "out of memory");
        brom_free(module);
        return nullptr;
    }
    report(error, reason, BROM_OK, "");
    return module;
}

// The duration and the order starts at the module's rate, measured once per rate and profile.
bool measured(brom_module* module) {
    if (module->durationMs >= 0 && module->durationRate == module->rate &&
        module->durationProfile == module->engine->profile) {
        return true;
    }
    const int64_t frames = measurePassFrames(module);
    if (frames < 0) return false;
    module->durationMs = frames * 1000 / module->rate;
    module->durationRate = module->rate;
    module->durationProfile = module->engine->profile;
    return true;
}

const Sample* sampleAt(const brom_module* module, int instrument, int sample) {
    return module ? instrumentSample(module->song, instrument, sample) : nullptr;
}

// Sample frames a peak looks at, at most, spread evenly over the stretch played.
constexpr uint32_t PEAK_PROBES = 1024;

// The loudest of the voice's sample frames within `frames` output frames of where it stands (on
// either side, a ping-pong loop turning), times its gains: left and right, 1.0 = full scale.
void voicePeak(const Voice& voice, int32_t frames, float* left, float* right) {
    *left = *right = 0;
    const Sample* sample = voice.sample;
    if (!sample || !sample->data || sample->length == 0) return;
    const double covered = (voice.step + voice.stepFraction / 4294967296.0) * frames;
    const double at = voice.position;
    double from = at - covered, to = at + covered;
    const bool looped = sample->loopMode != LOOP_NONE;
    const double loopEnd = static_cast<double>(sample->loopStart) + sample->loopLength;
    // A stretch that reaches the loop's ends has played the whole loop.
    if (looped && to >= loopEnd) from = from < sample->loopStart ? from : sample->loopStart;
    from = from < 0 ? 0 : from;
    to = to > sample->length - 1 ? sample->length - 1 : to;
    const uint32_t first = static_cast<uint32_t>(from), last = static_cast<uint32_t>(to);
    const uint32_t stride = (last - first) / PEAK_PROBES + 1;
    int32_t loudest = 0;
    for (uint32_t k = first; k <= last && k >= first; k += stride) {
        const int32_t value = sample->data[k] < 0 ? -sample->data[k] : sample->data[k];
        loudest = value > loudest ? value : loudest;
    }
    // As the mixer scales: a level of 255 x 256 is a hair under 1.0.
    const double scale = loudest / 32768.0 / 256.0 * GAIN_SCALE;
    *left = static_cast<float>(voice.levelLeft * scale);
    *right = static_cast<float>(voice.levelRight * scale);
}

}  // namespace

extern "C" {

const char* brom_version(void) { return "1.0.0"; }

const char* brom_error_string(brom_error error) {
    switch (error) {
        case BROM_OK: return "no error";
        case BROM_ERROR_ARGUMENT: return "invalid argument";
        case BROM_ERROR_IO: return "the file cannot be read";
        case BROM_ERROR_FORMAT: return "not a module Brom can read";
        case BROM_ERROR_TRUNCATED: return "the file ends early";
        case BROM_ERROR_MEMORY: return "out of memory";
    }
    return "unknown error";
}

brom_module* brom_load_memory(const void* data, size_t size, brom_error* error) {
    return brom_load_memory_ex(data, size, error, nullptr);
}

brom_module* brom_load_file(const char* path, brom_error* error) {
    return brom_load_file_ex(path, error, nullptr);
}

brom_module* brom_load_memory_ex(const void* data, size_t size, brom_error* error,
                                 const char** reason) {
    if (!data && size > 0) {
        report(error, reason, BROM_ERROR_ARGUMENT, "no data");
        return nullptr;
    }
    char path[64];
    memoryModulePath(path, sizeof path, data, size);
    return loadModule(&memoryFileCallbacks, path, error, reason);
}

brom_module* brom_load_file_ex(const char* path, brom_error* error, const char** reason) {
    if (!path) {
        report(error, reason, BROM_ERROR_ARGUMENT, "no path");
        return nullptr;
    }
    std::error_code folder;
    if (std::filesystem::is_directory(path, folder)) {
        report(error, reason, BROM_ERROR_IO, "a folder, not a file");
        return nullptr;
    }
    return loadModule(&standardFileCallbacks, path, error, reason);
}

void brom_free(brom_module* module) {
    if (!module) return;
    destroyParallelRender(module->parallel);
    if (module->subsongs) releaseSubsongs(module->subsongs);
    free(module->subsongs);
    releaseViews(&module->views, module->engine);
    if (module->song) freeSong(module->engine, module->song);
    destroyAudioEngine(module->engine);
    free(module);
}

int brom_repair_count(const brom_module* module) { return module ? module->song->repairCount : 0; }

const char* brom_repair_note(const brom_module* module, int index) {
    if (!module || index < 0 || index >= module->song->repairCount || index >= REPAIR_NOTE_SLOTS) {
        return "";
    }
    return module->song->repairNotes[index];
}

namespace {

// Plays again from where the last seek left the song (or from the start), with the rate and
// profile the module has now; false when that fails.
bool replaySought(brom_module* module) {
    if (module->jumpOrder >= 0) {
        // The jump came at the end of a block; at a new rate it comes at the end of the block
        // that holds the same time (or at the start, as it did at time 0).
        const int32_t order = module->jumpOrder, row = module->jumpRow;
        const int64_t frame = module->jumpMs * module->rate / 1000;
        if (!restart(module)) return false;
        skipBlocks(module, frame);
        return brom_seek_order_row(module, order, row) == 1;
    }
    return module->soughtMs >= 0 ? brom_seek_ms(module, module->soughtMs) == 1 : restart(module);
}

}  // namespace

int brom_set_sample_rate(brom_module* module, int rate) {
    if (!module || rate < LOWEST_RATE || rate > HIGHEST_RATE || module->rendered) return 0;
    const int32_t previous = module->rate;
    module->rate = rate;
    if (!replaySought(module)) {
        module->rate = previous;
        restart(module);
        return 0;
    }
    return 1;
}

int brom_set_profile(brom_module* module, const char* name) {
    PlayProfile profile;
    if (!module || !profileNamed(name, &profile) || module->rendered) return 0;
    const PlayProfile previous = module->engine->profile;
    module->engine->profile = profile;
    if (!replaySought(module)) {
        module->engine->profile = previous;
        restart(module);
        return 0;
    }
    return 1;
}

const char* brom_profile(const brom_module* module) {
    return module ? profileName(module->engine->profile) : "";
}

int brom_sample_rate(const brom_module* module) { return module ? module->rate : 0; }

int brom_set_render_threads(brom_module* module, int threads) {
    if (!module || threads < 0 || threads > MOST_RENDER_THREADS) return 0;
    module->threads = threads;
    return 1;
}

int brom_render_threads(const brom_module* module) { return module ? threadsWanted(module) : 0; }

size_t brom_render_s16(brom_module* module, int16_t* stereo, size_t frames) {
    if (!module || !stereo) return 0;
    return render(module, frames, [&](int32_t offset, size_t count, size_t done) {
        if (fadeTouches(module, count)) {
            fadePcm(module, blockMix(module, offset), stereo + 2 * done, count);
        } else {
            memcpy(stereo + 2 * done, blockPcm(module, offset), count * 4);
        }
    });
}

size_t brom_render_f32(brom_module* module, float* stereo, size_t frames) {
    if (!module || !stereo) return 0;
    return render(module, frames, [&](int32_t offset, size_t count, size_t done) {
        handOutFloats(module, blockMix(module, offset), stereo + 2 * done, count);
    });
}

int brom_seek_ms(brom_module* module, int64_t ms) {
    if (!module || ms < 0) return 0;
    // Beyond any song's end (a pass is at most an hour), and safe from overflow below.
    const int64_t far = (LONGEST_PASS_SECONDS + 1) * 1000 * 1000;
    const int64_t target = (ms < far ? ms : far) * module->rate / 1000;
    if (!seekToFrame(module, target)) return 0;
    module->soughtMs = ms;
    return 1;
}

int brom_seek_order_row(brom_module* module, int order, int row) {
    if (!module) return 0;
    const Song* song = module->song;
    if (order < 0 || order >= MAX_ORDERS) return 0;
    // A subsong may lie after the end marker that ends the song.
    if (module->subsong >= 0 ? !orderInSubsong(module, order) : order >= song->songLength) return 0;
    const Pattern* pattern = patternAtOrder(song, order);
    const int rows = pattern ? pattern->rowCount : 0;
    if (row < 0 || (row >= rows && !(row == 0 && rows == 0))) return 0;
    if (!bringEngineBack(module)) return 0;
    AudioEngine* engine = module->engine;
    jumpToPosition(engine->state, order, row);
    rowsBeforeJump(module, order, row);
    engine->state->tickSamplesLeft = 0;  // the jump sounds from the next frame on
    engine->repeatFrame = -1;
    engine->passesLeft = engine->repeatCount;
    // The rest of the block in hand was mixed before the jump.
    if (module->block >= 0) module->blockOffset = engine->settings.blockFrames;
    module->frame = engine->framesMixed;
    module->rendered = false;
    module->jumpOrder = order;
    module->jumpRow = row;
    module->jumpMs = module->frame * 1000 / module->rate;
    return 1;
}

int brom_set_repeat_count(brom_module* module, int count) {
    if (!module || count < -1 || !bringEngineBack(module)) return 0;
    AudioEngine* engine = module->engine;
    engine->repeatCount = count;
    if (count < 0) {
        engine->passesLeft = -1;
    } else {
        engine->passesLeft = count > engine->passesDone ? count - engine->passesDone : 0;
    }
    return 1;
}

int64_t brom_duration_ms(brom_module* module) {
    return module && measured(module) ? module->durationMs : -1;
}

int64_t brom_order_time_ms(brom_module* module, int order) {
    if (!module || order < 0 || order >= MAX_ORDERS || !measured(module)) return -1;
    const int64_t frame = module->orderFrames[order];
    // Rounded up: a seek to the time lands in the order, not in the tick before it.
    return frame < 0 ? -1 : (frame * 1000 + module->rate - 1) / module->rate;
}

int brom_subsong_count(brom_module* module) {
    const SubsongList* list = module ? subsongList(module, false) : nullptr;
    return list ? list->count : 0;
}

int brom_get_subsong(brom_module* module, int index, brom_subsong* subsong) {
    const SubsongList* list = module && subsong && index >= 0 ? subsongList(module, true) : nullptr;
    if (!list || index >= list->count) return 0;
    const Subsong& found = list->songs[index];
    subsong->order = found.order;
    subsong->row = found.row;
    subsong->frames = found.frames;
    subsong->duration_ms = found.frames * 1000 / list->rate;
    subsong->name = "";
    return 1;
}

int brom_select_subsong(brom_module* module, int index) {
    const SubsongList* list = module && index >= -1 ? subsongList(module, false) : nullptr;
    if (!list || index >= list->count || !bringEngineBack(module)) return 0;
    module->subsong = index;
    module->durationMs = -1;
    module->soughtMs = -1;
    return restart(module) ? 1 : 0;
}

int brom_selected_subsong(const brom_module* module) { return module ? module->subsong : -1; }

int brom_order_subsong(brom_module* module, int order) {
    const SubsongList* list = module ? subsongList(module, false) : nullptr;
    const int32_t visit =
        list && order >= 0 && order < MAX_ORDERS ? firstVisitOfOrder(list, order) : -1;
    return visit < 0 ? -1 : subsongOfVisit(list, visit);
}

int brom_set_end(brom_module* module, brom_end end, int fade_ms) {
    if (!module || end < BROM_END_STOP || end > BROM_END_FADE) return 0;
    if (end == BROM_END_FADE && (fade_ms < 1 || fade_ms > BROM_LONGEST_FADE_MS)) return 0;
    if (!bringEngineBack(module)) return 0;
    module->end = end;
    module->fadeMs = end == BROM_END_FADE ? fade_ms : 0;
    return 1;
}

int brom_get_position(const brom_module* module, brom_position* position) {
    if (!module || !position) return 0;
    const Song* song = module->song;
    const PlayState* state = module->engine->state;
    const BlockInfo* info = takenInfo(module);
    const int32_t order = info ? info->order : state->orderPosition;
    position->time_ms = module->frame * 1000 / module->rate;
    position->order = order;
    position->pattern = order >= 0 && order < MAX_ORDERS ? song->orderTable[order] : 0;
    position->row = info ? info->row : currentRow(state);
    position->speed = info ? info->speed : state->speed;
    position->bpm = info ? info->bpm : state->bpm;
    return 1;
}

int brom_channel_count(const brom_module* module) {
    return module ? module->song->channelCount : 0;
}

int brom_set_channel_mute(brom_module* module, int channel, int muted) {
    if (!module || channel < 0 || channel >= playedChannelCount(module->song)) return 0;
    const uint64_t bit = uint64_t{1} << channel;
    uint64_t& mask = module->engine->controls.mutedChannels;
    mask = muted ? (mask | bit) : (mask & ~bit);
    controlsChanged(module);
    return 1;
}

int brom_channel_muted(const brom_module* module, int channel) {
    if (!module || channel < 0 || channel >= playedChannelCount(module->song)) return 0;
    return (module->engine->controls.mutedChannels >> channel) & 1;
}

int brom_channel_level(const brom_module* module, int channel) {
    if (!module || channel < 0 || channel >= playedChannelCount(module->song)) return 0;
    const BlockInfo* info = takenInfo(module);
    return info ? info->levels[channel] : channelLevel(module->engine->state, channel);
}

int brom_background_notes(const brom_module* module) {
    if (!module) return 0;
    const BlockInfo* info = takenInfo(module);
    return info ? info->backgroundNotes : backgroundNotesOf(module->engine->state, -1);
}

int brom_channel_peak(const brom_module* module, int channel, float* left, float* right) {
    if (!module || !left || !right || channel < 0 || channel >= playedChannelCount(module->song)) {
        return 0;
    }
    *left = *right = 0;
    const AudioEngine* engine = module->engine;
    if (module->block < 0 || ((engine->controls.mutedChannels >> channel) & 1)) return 1;
    const BlockInfo* info = takenInfo(module);
    const Voice* voice =
        info ? &info->views[channel].voice : engine->state->channels[channel].voice;
    if (!voice) return 1;
    float l = 0, r = 0;
    voicePeak(*voice, engine->settings.blockFrames, &l, &r);
    // The output controls as the mix has them: width about the middle, then the gain.
    const double width = engine->controls.stereoSeparation / 100.0;
    const double mid = (l + r) * 0.5, side = (l - r) * 0.5;
    const double gain = engine->controls.outputGain;
    *left = static_cast<float>(std::fabs(mid + side * width) * gain);
    *right = static_cast<float>(std::fabs(mid - side * width) * gain);
    return 1;
}

brom_module_format brom_format(const brom_module* module) {
    if (!module) return BROM_FORMAT_UNKNOWN;
    switch (module->song->format) {
        case FORMAT_XM: return BROM_FORMAT_XM;
        case FORMAT_MOD: return BROM_FORMAT_MOD;
        case FORMAT_S3M: return BROM_FORMAT_S3M;
        case FORMAT_IT: return BROM_FORMAT_IT;
        case FORMAT_COUNT: break;
    }
    return BROM_FORMAT_UNKNOWN;
}

const char* brom_format_name(brom_module_format format) {
    switch (format) {
        case BROM_FORMAT_XM: return "XM";
        case BROM_FORMAT_MOD: return "MOD";
        case BROM_FORMAT_S3M: return "S3M";
        case BROM_FORMAT_IT: return "IT";
        case BROM_FORMAT_UNKNOWN: break;
    }
    return "";
}

int brom_set_gain_db(brom_module* module, double decibels) {
    if (!module || !(decibels >= -60.0 && decibels <= 24.0)) return 0;
    module->engine->controls.outputGain = decibels == 0.0 ? 1.0 : std::pow(10.0, decibels / 20.0);
    controlsChanged(module);
    return 1;
}

int brom_set_interpolation(brom_module* module, int mode) {
    if (!module || mode < BROM_INTERP_NEAREST || mode > BROM_INTERP_SINC) return 0;
    static const Interpolation MODES[] = {Interpolation::NEAREST, Interpolation::LINEAR,
                                          Interpolation::CUBIC, Interpolation::SINC};
    module->engine->controls.interpolation = MODES[mode];
    controlsChanged(module);
    return 1;
}

int brom_interpolation_mode(const brom_module* module) {
    if (!module) return 0;
    switch (module->engine->controls.interpolation) {
        case Interpolation::NEAREST: return BROM_INTERP_NEAREST;
        case Interpolation::CUBIC: return BROM_INTERP_CUBIC;
        case Interpolation::SINC: return BROM_INTERP_SINC;
        default: return BROM_INTERP_LINEAR;
    }
}

int brom_set_amiga(brom_module* module, int model) {
    if (!module || model < BROM_AMIGA_OFF || model > BROM_AMIGA_A1200) return 0;
    if (model != BROM_AMIGA_OFF && module->song->format != FORMAT_MOD) return 0;
    static const AmigaModel MODELS[] = {AmigaModel::OFF, AmigaModel::A500, AmigaModel::A1200};
    module->engine->controls.amiga = MODELS[model];
    controlsChanged(module);
    return 1;
}

int brom_amiga_model(const brom_module* module) {
    if (!module) return BROM_AMIGA_OFF;
    return static_cast<int>(module->engine->controls.amiga);
}

int brom_set_stereo_separation(brom_module* module, int percent) {
    if (!module || percent < 0 || percent > 200) return 0;
    module->engine->controls.stereoSeparation = percent;
    controlsChanged(module);
    return 1;
}

const char* brom_title(const brom_module* module) { return module ? module->song->title : ""; }

const char* brom_tracker(const brom_module* module) { return module ? module->song->tracker : ""; }

const char* brom_message(const brom_module* module) {
    return module && module->song->message ? module->song->message : "";
}

int brom_instrument_note(const brom_module* module, int instrument, int note, int* played) {
    if (instrument < 0 || instrument >= brom_instrument_count(module) || note < 0 ||
        note >= NOTE_COUNT) {
        return -1;
    }
    const KeyboardEntry& key = module->song->instruments[instrument].keyboard[note];
    if (played) *played = key.note;
    return key.sample >= 0 && key.sample < module->song->sampleCount ? key.sample : -1;
}

int brom_instrument_count(const brom_module* module) {
    return module && module->song->instruments ? module->song->instrumentCount : 0;
}

const char* brom_instrument_name(const brom_module* module, int index) {
    if (index < 0 || index >= brom_instrument_count(module)) return "";
    return module->song->instruments[index].name;
}

int brom_sample_count(const brom_module* module, int instrument) {
    if (instrument < 0 || instrument >= brom_instrument_count(module)) return 0;
    const int count = module->song->instruments[instrument].sampleCount;
    return count < MAX_INSTRUMENT_SAMPLES ? count : MAX_INSTRUMENT_SAMPLES;
}

const char* brom_sample_name(const brom_module* module, int instrument, int sample) {
    const Sample* found = sampleAt(module, instrument, sample);
    return found ? found->name : "";
}

int brom_get_song_info(const brom_module* module, brom_song_info* info) {
    if (!module || !info) return 0;
    const Song* song = module->song;
    info->channels = song->channelCount;
    info->song_length = song->songLength;
    info->restart = song->restartPosition;
    info->patterns = song->patternCount;
    info->instruments = brom_instrument_count(module);
    info->speed = song->defaultSpeed;
    info->bpm = song->defaultBpm;
    info->linear = usesLinearPeriods(song) ? 1 : 0;
    return 1;
}

int brom_order_pattern(const brom_module* module, int order) {
    if (!module || order < 0 || order >= module->song->songLength) return -1;
    const uint16_t entry = module->song->orderTable[order];
    return entry == ORDER_SKIP || entry == ORDER_END ? -1 : entry;
}

int brom_pattern_rows(const brom_module* module, int pattern) {
    if (!module || !module->song->patterns || pattern < 0 ||
        pattern >= module->song->patternCount) {
        return -1;
    }
    return module->song->patterns[pattern].rowCount;
}

int brom_get_instrument_info(const brom_module* module, int instrument,
                             brom_instrument_info* info) {
    if (!info || instrument < 0 || instrument >= brom_instrument_count(module)) return 0;
    const Instrument& ins = module->song->instruments[instrument];
    info->samples = brom_sample_count(module, instrument);
    info->volume_points = ins.volumeEnvelope.pointCount;
    info->volume_envelope = (ins.volumeEnvelope.flags & ENVELOPE_ON) ? 1 : 0;
    info->panning_points = ins.panningEnvelope.pointCount;
    info->panning_envelope = (ins.panningEnvelope.flags & ENVELOPE_ON) ? 1 : 0;
    info->fadeout = ins.fadeout;
    info->vibrato_type = ins.vibratoType;
    info->vibrato_sweep = ins.vibratoSweep;
    info->vibrato_depth = ins.vibratoDepth;
    info->vibrato_rate = ins.vibratoRate;
    return 1;
}

int brom_get_pattern_cell(const brom_module* module, int pattern, int row, int channel,
                          brom_cell* cell) {
    const int rows = brom_pattern_rows(module, pattern);
    if (!cell || row < 0 || row >= rows || channel < 0 || channel >= module->song->channelCount ||
        !module->song->patterns[pattern].cells) {
        return 0;
    }
    const NoteCell& at =
        module->song->patterns[pattern].cells[row * module->song->channelCount + channel];
    const uint8_t note = at.shownNote ? at.shownNote : at.note;
    cell->note = note == NOTE_KEY_OFF ? 97 : note;
    cell->instrument = at.instrument;
    cell->volume = at.shownVolume;
    cell->effect = at.shownEffect;
    cell->param = at.shownParam;
    return 1;
}

int brom_get_sample_info(const brom_module* module, int instrument, int sample,
                         brom_sample_info* info) {
    const Sample* found = sampleAt(module, instrument, sample);
    if (!found || !info) return 0;
    const bool looped = found->loopMode != LOOP_NONE;
    info->length = found->length;
    info->loop_start = looped ? found->loopStart : 0;
    info->loop_length = looped ? found->loopLength : 0;
    info->loop = found->loopMode == LOOP_FORWARD    ? BROM_LOOP_FORWARD
                 : found->loopMode == LOOP_PINGPONG ? BROM_LOOP_PING_PONG
                                                    : BROM_LOOP_NONE;
    info->volume = found->volume;
    info->finetune = found->finetune;
    info->panning = found->panning;
    info->relative_note = found->relativeNote;
    info->bits = found->fileBits ? found->fileBits : found->bits;
    return 1;
}

int brom_set_stems(brom_module* module, brom_stem_grouping grouping) {
    if (!module || grouping < BROM_STEMS_OFF || grouping > BROM_STEMS_BY_INSTRUMENT) return 0;
    ModuleViews& views = module->views;
    const uint8_t before = views.stemGrouping;
    views.stemGrouping = grouping == BROM_STEMS_BY_CHANNEL      ? STEM_CHANNELS
                         : grouping == BROM_STEMS_BY_INSTRUMENT ? STEM_INSTRUMENTS
                                                                : 0;
    views.blockHasStems = false;
    if (prepareViews(&views, module->engine)) return 1;
    views.stemGrouping = before;
    prepareViews(&views, module->engine);
    return 0;
}

int brom_stem_count(const brom_module* module) {
    if (!module) return 0;
    if (module->views.stemGrouping == STEM_CHANNELS) return module->song->channelCount;
    if (module->views.stemGrouping == STEM_INSTRUMENTS) return brom_instrument_count(module);
    return 0;
}

size_t brom_render_stems_f32(brom_module* module, float* mix, float* const* stems, size_t frames) {
    const int count = brom_stem_count(module);
    if (count == 0) return 0;
    return render(module, frames, [&](int32_t offset, size_t got, size_t done) {
        if (mix) handOutFloats(module, blockMix(module, offset), mix + 2 * done, got);
        for (int s = 0; stems && s < count; ++s) {
            if (!stems[s]) continue;
            const float* from =
                module->views.blockHasStems
                    ? stemFrames(module->engine->stems, module->views.stemGrouping, s)
                    : nullptr;
            if (from) {
                handOutFloats(module, from + 2 * offset, stems[s] + 2 * done, got);
            } else {
                memset(stems[s] + 2 * done, 0, got * 8);
            }
        }
    });
}

int brom_set_scope_frames(brom_module* module, int frames) {
    constexpr int MOST_SCOPE_FRAMES = 8192;
    if (!module || frames < 0 || frames > MOST_SCOPE_FRAMES) return 0;
    ModuleViews& views = module->views;
    views.blockHasStems = false;
    if (setScopeFrames(&views, module->song->channelCount, frames) &&
        prepareViews(&views, module->engine)) {
        return 1;
    }
    setScopeFrames(&views, 0, 0);
    prepareViews(&views, module->engine);
    return 0;
}

int brom_channel_scope(const brom_module* module, int channel, float* stereo, int frames) {
    if (!module || !stereo || frames < 0) return 0;
    return copyScope(&module->views, channel, stereo, frames);
}

int brom_get_channel_state(const brom_module* module, int channel, brom_channel_state* state) {
    if (!module || !state || channel < 0 || channel >= playedChannelCount(module->song)) return 0;
    const BlockInfo* info = takenInfo(module);
    const ChannelView view =
        info ? info->views[channel] : viewChannel(module->engine->state, channel);
    state->note = view.note;
    state->instrument = view.instrument;
    state->sample = view.sample;
    state->volume = view.volume;
    state->panning = view.panning;
    const Voice& voice = view.voice;
    state->frequency =
        voice.sample ? (voice.step + voice.stepFraction / 4294967296.0) * module->rate : 0.0;
    state->voices = view.voices;
    return 1;
}

int brom_cell_text(const brom_module* module, int pattern, int row, int channel, char* text,
                   int size) {
    const int rows = brom_pattern_rows(module, pattern);
    if (!text || row < 0 || row >= rows || channel < 0 || channel >= module->song->channelCount ||
        !module->song->patterns[pattern].cells) {
        return 0;
    }
    const Song* song = module->song;
    char cell[CELL_TEXT_SIZE];
    const int length = formatCellText(
        song->format, song->patterns[pattern].cells[row * song->channelCount + channel], cell);
    if (size <= length) return 0;
    memcpy(text, cell, static_cast<size_t>(length) + 1);
    return length;
}

}  // extern "C"
