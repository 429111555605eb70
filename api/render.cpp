// Rendering and seeking: the blocks the engine (or the parallel renderer) makes, handed out in
// the sizes the caller asks for, up to where the song ends; seeks, subsongs, the rate, profile
// and output controls.
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "audio/output_end.h"
#include "audio/pcm.h"
#include "audio/song_length.h"
#include "library.h"
#include "player/sequencer.h"

namespace {

// Threads one render takes when left to choose: more seldom pay.
constexpr int32_t MOST_AUTOMATIC_THREADS = 8;

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

}  // namespace

bool restart(brom_module* module) {
    prepareMixSettings(module->engine, module->rate);
    noteOtherSongRows(module);
    if (!startSongOffline(module->engine, module->song)) return false;
    placeAtSongStart(module, module->engine->state);
    if (!prepareViews(&module->views, module->engine)) return false;
    if (module->parallel) parallelReset(module->parallel);
    module->cursor = BlockCursor{};
    module->rendered = false;
    module->jumpOrder = -1;
    return true;
}

const BlockInfo* takenInfo(const brom_module* module) {
    return module->parallel ? parallelTakenInfo(module->parallel) : nullptr;
}

namespace {

// The engine's frame count after the block being handed out.
int64_t framesMixed(const brom_module* module) {
    const BlockInfo* info = takenInfo(module);
    return info ? info->framesMixed : module->engine->framesMixed;
}

// Where the output ends, as known after the block being handed out.
int64_t endFrame(const brom_module* module) {
    const BlockInfo* info = takenInfo(module);
    const AudioEngine* engine = module->engine;
    return info ? outputEndFrame(engine, info->framesMixed, info->repeatFrame)
                : outputEndFrame(engine, engine->framesMixed, engine->repeatFrame);
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
        module->parallel = createParallelRender(module->engine, threadsWanted(module));
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
    BlockCursor& cursor = module->cursor;
    AudioEngine* engine = module->engine;
    cursor.frame = framesMixed(module);
    cursor.offset = 0;
    cursor.frames = engine->settings.blockFrames;
    if (!module->parallel) {
        const int32_t block = mixNextOfflineBlock(engine);
        if (block < 0) return false;
        const int64_t first = int64_t{block} * cursor.frames;
        cursor.pcm = engine->outputBuffer + 2 * first;
        cursor.mix = engine->mixBuffer + 2 * first;
        module->views.blockHasStems = engine->stems != nullptr;
        return true;
    }
    RenderedBlock made;
    if (!parallelNextBlock(module->parallel, &made)) return false;
    cursor.pcm = made.pcm;
    cursor.mix = made.mix;
    module->views.blockHasStems = false;
    return true;
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
    BlockCursor& cursor = module->cursor;
    size_t done = 0;
    while (done < frames) {
        if (cursor.offset >= cursor.frames && !nextBlock(module)) break;
        int64_t available = cursor.frames - cursor.offset;
        const int64_t end = endFrame(module);
        if (end >= 0 && end - cursor.frame < available) available = end - cursor.frame;
        if (available <= 0) {
            cursor.offset = cursor.frames;
            break;
        }
        const size_t count = frames - done < static_cast<size_t>(available)
                                 ? frames - done
                                 : static_cast<size_t>(available);
        copy(cursor.offset, count, done);
        feedScopes(&module->views, module->engine->stems, cursor.offset,
                   static_cast<int32_t>(count));
        cursor.offset += static_cast<int32_t>(count);
        cursor.frame += static_cast<int64_t>(count);
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
    BlockCursor& cursor = module->cursor;
    const int64_t end = endFrame(module);
    if (end >= 0 && end <= target) {  // beyond the end: the song stays at its end
        cursor.frame = end;
        cursor.frames = module->engine->settings.blockFrames;
        cursor.offset = cursor.frames;
        return true;
    }
    if (!nextBlock(module)) return false;
    cursor.offset = static_cast<int32_t>(target - cursor.frame);
    cursor.frame = target;
    return true;
}

// `frames` stereo frames of the mix (32768 = 1.0) at 1.0 full scale: a division by a power of
// two, exact; `to` may be `from`.
void toFullScale(float* to, const float* from, size_t frames) {
    for (size_t k = 0; k < 2 * frames; ++k) to[k] = from[k] * (1.0f / 32768.0f);
}

// Whether any of the `count` frames from the next one to hand out lies in the fade at the end.
bool fadeTouches(const brom_module* module, size_t count) {
    const int64_t fade = fadeFrameCount(module->engine);
    const int64_t end = fade > 0 ? endFrame(module) : -1;
    return end >= 0 && module->cursor.frame + static_cast<int64_t>(count) > end - fade;
}

// `count` frames of the mix from engine frame `first` on, faded (audio/output_end.h).
void fadeMix(const brom_module* module, int64_t first, const float* from, float* to, size_t count) {
    fadeOut(from, to, count, first, endFrame(module), fadeFrameCount(module->engine));
}

// The same as 16-bit PCM, converted as the engine converts its mix.
void fadePcm(const brom_module* module, const float* from, int16_t* to, size_t count) {
    constexpr size_t PIECE = 256;
    float faded[2 * PIECE];
    for (size_t done = 0; done < count; done += PIECE) {
        const size_t piece = count - done < PIECE ? count - done : PIECE;
        fadeMix(module, module->cursor.frame + static_cast<int64_t>(done), from + 2 * done, faded,
                piece);
        convertToPcm16(to + 2 * done, faded, static_cast<int32_t>(piece));
    }
}

// `count` frames of the mix (or of a stem) from the next one to hand out on, as brom_render_f32
// gives them: faded where the fade at the end reaches, at 1.0 full scale.
void handOutFloats(const brom_module* module, const float* from, float* to, size_t count) {
    if (fadeTouches(module, count)) {
        fadeMix(module, module->cursor.frame, from, to, count);
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

// The duration and the order starts at the module's rate, measured once per rate and profile.
bool measured(brom_module* module) {
    if (module->durationMs >= 0 && module->durationRate == module->rate &&
        module->durationProfile == module->engine->profile) {
        return true;
    }
    PassStart start{};
    if (module->subsong > 0) {
        const Subsong& subsong = module->subsongs->songs[module->subsong];
        start = PassStart{subsong.order, subsong.row, module->otherSongRows};
    }
    const int64_t frames = measurePass(module->song, module->engine->profile, module->rate, start,
                                       module->orderFrames);
    if (frames < 0) return false;
    module->durationMs = frames * 1000 / module->rate;
    module->durationRate = module->rate;
    module->durationProfile = module->engine->profile;
    return true;
}

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

extern "C" {

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
            fadePcm(module, module->cursor.mix + 2 * offset, stereo + 2 * done, count);
        } else {
            memcpy(stereo + 2 * done, module->cursor.pcm + 2 * offset, count * 4);
        }
    });
}

size_t brom_render_f32(brom_module* module, float* stereo, size_t frames) {
    if (!module || !stereo) return 0;
    return render(module, frames, [&](int32_t offset, size_t count, size_t done) {
        handOutFloats(module, module->cursor.mix + 2 * offset, stereo + 2 * done, count);
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
    module->cursor.offset = module->cursor.frames;
    module->cursor.frame = engine->framesMixed;
    module->rendered = false;
    module->jumpOrder = order;
    module->jumpRow = row;
    module->jumpMs = module->cursor.frame * 1000 / module->rate;
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
    static const SongEnd ENDS[] = {SongEnd::STOP, SongEnd::LOOP, SongEnd::FADE};
    module->engine->end = OutputEnd{ENDS[end], end == BROM_END_FADE ? fade_ms : 0};
    return 1;
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
        if (mix) handOutFloats(module, module->cursor.mix + 2 * offset, mix + 2 * done, got);
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

}  // extern "C"
