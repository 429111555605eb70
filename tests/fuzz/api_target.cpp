#include "tests/fuzz/api_target.h"

#include <brom/brom.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>

namespace {

// The work is bounded whatever the script. It grows with the frames at the rate in use and the
// channels that play them: seeking does not mix, but it moves every voice through the frames,
// which costs as much as mixing for a voice that meets the end of a short loop in every frame
// (32 such voices: some 50 ns a frame each here, 20 times that in the fuzzing build). So a render
// asks for 4096 frames at most, and the script stops once it has rendered 2^20 channel-frames
// (32768 frames of 32 channels, 0.74 s at 44100 Hz; 5.9 s of 4 channels) or sought through as
// many; a seek by time or a rate change that would go beyond that is cut short or left out. A
// header tempo above 255 BPM, which only a file's header can ask for (up to 32767, where every
// frame is a tick), costs up to 50 times as much per second of song: the budgets shrink by the
// tempo's multiple of 255 too, so that such a song costs no more.
constexpr int MAX_EFFECT_BPM = 255;
constexpr int MAX_RENDER_FRAMES = 4096;
constexpr int64_t RENDER_BUDGET = int64_t{1} << 20;
constexpr int64_t SEEK_BUDGET = int64_t{1} << 20;

[[noreturn]] void broken(const char* step, const char* promise) {
    fprintf(stderr, "engine: %s breaks a promise of brom.h: %s\n", step, promise);
    abort();
}

// What the script knows of the module, to tell what each call must answer.
struct Script {
    brom_module* module;
    brom_song_info info;
    bool ended = false;  // a render gave fewer frames than asked
    bool renderedSinceSeek = false;  // frames handed out since the load or the last seek
    int64_t silentAfter = -1;  // every channel muted: frames left of the block mixed before
    int64_t framesRendered = 0;
    int64_t seekWork = 0;  // channel-frames sought, times the tempo multiple
    int64_t lastSoughtMs = -1;  // the time of the last seek (by order and row: where it jumped)
    int64_t costFactor = 1;  // channels (1..32) times the header tempo's multiple of 255 BPM
};

int16_t s16[2 * MAX_RENDER_FRAMES];
float f32[2 * MAX_RENDER_FRAMES];

// The position names an order of the song and the row playing in its pattern.
void checkPosition(const Script& s, const char* step) {
    brom_position at;
    if (!brom_get_position(s.module, &at)) broken("brom_get_position", "1 for a module");
    const int rows = brom_pattern_rows(s.module, brom_order_pattern(s.module, at.order));
    if (at.order < 0 || at.order >= s.info.song_length || at.row < 0 ||
        (at.row >= rows && at.row != 0)) {
        broken(step, "a position inside the song: an order and a row of its pattern");
    }
}

void checkRender(Script& s, size_t asked, size_t got, bool isFloat) {
    const char* step = isFloat ? "brom_render_f32" : "brom_render_s16";
    if (got > asked) broken(step, "no more frames than asked");
    if (s.ended && got > 0) broken(step, "no frames after the end");
    if (got < asked) s.ended = true;
    if (got > 0) s.renderedSinceSeek = true;
    for (size_t k = 0; k < 2 * got; ++k) {
        if (isFloat && !std::isfinite(f32[k])) broken(step, "finite samples");
        const bool silent = isFloat ? f32[k] == 0.0f : s16[k] == 0;
        if (s.silentAfter >= 0 && static_cast<int64_t>(k / 2) >= s.silentAfter && !silent) {
            broken(step, "silence when every channel is muted");
        }
    }
    if (s.silentAfter >= 0) {
        s.silentAfter = s.silentAfter > static_cast<int64_t>(got) ? s.silentAfter - got : 0;
    }
    s.framesRendered += static_cast<int64_t>(got);
    if (got > 0) checkPosition(s, step);
}

void render(Script& s, uint16_t argument, bool isFloat) {
    const size_t asked = argument % (MAX_RENDER_FRAMES + 1);
    const size_t got =
        isFloat ? brom_render_f32(s.module, f32, asked) : brom_render_s16(s.module, s16, asked);
    checkRender(s, asked, got, isFloat);
}

// After a seek the song plays again from there, its blocks mixed anew.
void sought(Script& s) {
    s.ended = false;
    s.renderedSinceSeek = false;
    if (s.silentAfter > 0) s.silentAfter = 0;
}

// Frames a seek to `ms` moves through at `rate`, and how many the budget has left.
int64_t seekCost(const Script& s, int64_t ms, int rate) { return ms * rate / 1000 * s.costFactor; }
int64_t seekBudgetLeft(const Script& s) { return SEEK_BUDGET - s.seekWork; }

void seekMs(Script& s, uint16_t argument) {
    const int rate = brom_sample_rate(s.module);
    const int64_t longest = seekBudgetLeft(s) / s.costFactor * 1000 / rate;
    const int64_t ms = argument == 0xFFFF ? -1 : argument % (longest + 1);
    const int done = brom_seek_ms(s.module, ms);
    if (done != (ms >= 0 ? 1 : 0)) broken("brom_seek_ms", "1 for a time from 0 on, 0 before");
    if (!done) return;
    s.seekWork += seekCost(s, ms, rate);
    s.lastSoughtMs = ms;
    sought(s);
    brom_position position;
    if (!brom_get_position(s.module, &position) || position.time_ms > ms) {
        broken("brom_seek_ms", "the position no later than the time sought");
    }
}

void seekOrderRow(Script& s, uint16_t argument) {
    const int order = argument & 0xFF;
    const int row = argument >> 8;
    const int rows = brom_pattern_rows(s.module, brom_order_pattern(s.module, order));
    // A pattern of no rows (or none at all) still has a row 0 to go to.
    const bool inside = order < s.info.song_length && (row < rows || row == 0);
    if (brom_seek_order_row(s.module, order, row) != (inside ? 1 : 0)) {
        broken("brom_seek_order_row",
               "1 exactly for an order of the song and a row of its pattern");
    }
    if (!inside) return;
    // The jump sounds from the next block on; the song has not ended there.
    sought(s);
    brom_position position;
    brom_get_position(s.module, &position);
    s.lastSoughtMs = position.time_ms;
}

void setRate(Script& s, uint16_t argument) {
    const int rate = argument * 4;
    // An accepted change seeks again to the last time sought, at the new rate.
    const int64_t cost = s.lastSoughtMs > 0 ? seekCost(s, s.lastSoughtMs, rate) : 0;
    if (cost > seekBudgetLeft(s)) return;
    const int before = brom_sample_rate(s.module);
    const bool allowed = rate >= 8000 && rate <= 192000 && !s.renderedSinceSeek;
    const int done = brom_set_sample_rate(s.module, rate);
    if (done != (allowed ? 1 : 0)) {
        broken("brom_set_sample_rate", "refused outside 8000..192000 and between renders");
    }
    if (brom_sample_rate(s.module) != (done ? rate : before)) {
        broken("brom_set_sample_rate", "a refused call changes nothing");
    }
    if (!done) return;
    // The song starts again from the load or the last seek, its blocks mixed anew.
    s.seekWork += cost;
    sought(s);
}

void mute(Script& s, uint16_t argument) {
    const int channel = argument & 0xFF;
    const int muted = (argument >> 8) & 1;
    const int played = s.info.channels < 64 ? s.info.channels : 64;  // IT has 64
    if (channel == 0xFF) {
        for (int c = 0; c < played; ++c) brom_set_channel_mute(s.module, c, 1);
        // The rest of the block in hand was mixed before: at most one block of 1/50 s (its
        // frames rounded up to a multiple of 4).
        if (s.silentAfter < 0) s.silentAfter = brom_sample_rate(s.module) / 50 + 3;
        return;
    }
    const bool inside = channel < played;
    if (brom_set_channel_mute(s.module, channel, muted) != (inside ? 1 : 0)) {
        broken("brom_set_channel_mute", "1 exactly for a channel of the song");
    }
    if (inside && brom_channel_muted(s.module, channel) != muted) {
        broken("brom_channel_muted", "what brom_set_channel_mute set");
    }
    if (inside && !muted) s.silentAfter = -1;
}

void repeat(Script& s, uint16_t argument) {
    const int count = static_cast<int8_t>(argument & 0xFF);
    if (brom_set_repeat_count(s.module, count) != (count >= -1 ? 1 : 0)) {
        broken("brom_set_repeat_count", "refused below -1");
    }
    // More passes may let a song that had ended go on.
    if (count >= -1) s.ended = false;
}

void runStep(Script& s, ApiOp op, uint16_t argument) {
    switch (op) {
        case ApiOp::RENDER_S16: render(s, argument, false); break;
        case ApiOp::RENDER_F32: render(s, argument, true); break;
        case ApiOp::SEEK_MS: seekMs(s, argument); break;
        case ApiOp::SEEK_ORDER_ROW: seekOrderRow(s, argument); break;
        case ApiOp::SET_RATE: setRate(s, argument); break;
        case ApiOp::MUTE: mute(s, argument); break;
        case ApiOp::REPEAT: repeat(s, argument); break;
        case ApiOp::COUNT: break;
    }
}

}  // namespace

int fuzzApiScript(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    size_t steps = data[size - 1];
    if (3 * steps > size - 1) steps = (size - 1) / 3;
    const uint8_t* script = data + size - 1 - 3 * steps;
    const size_t moduleSize = size - 1 - 3 * steps;

    brom_error error = BROM_ERROR_ARGUMENT;
    brom_module* module = brom_load_memory(data, moduleSize, &error);
    if (!module) {
        if (error == BROM_OK) broken("brom_load_memory", "a failure says why");
        return 0;
    }
    if (error != BROM_OK) broken("brom_load_memory", "BROM_OK on success");
    Script s{module, {}};
    if (!brom_get_song_info(module, &s.info)) broken("brom_get_song_info", "1 for a module");
    s.costFactor = s.info.channels < 1 ? 1 : s.info.channels > 32 ? 32 : s.info.channels;
    if (s.info.bpm > MAX_EFFECT_BPM) s.costFactor *= s.info.bpm / MAX_EFFECT_BPM + 1;
    for (size_t k = 0; k < steps; ++k) {
        if (s.framesRendered * s.costFactor >= RENDER_BUDGET) break;
        if (s.seekWork >= SEEK_BUDGET) break;
        const uint8_t* step = script + 3 * k;
        const auto op = static_cast<ApiOp>(step[0] % static_cast<uint8_t>(ApiOp::COUNT));
        runStep(s, op, static_cast<uint16_t>(step[1] | step[2] << 8));
    }
    brom_free(module);
    return 0;
}
