#include "tools/brom-play/source.h"

#include <bit>
#include <cmath>
#include <cstdio>

namespace {

// Where to begin: an order position (and row), or a time. A start that is not in the song is the
// file's fault, said in one line.
bool applyStart(brom_module* module, const char* path, const Options& options) {
    if (options.startOrder >= 0 &&
        !brom_seek_order_row(module, options.startOrder, options.startRow)) {
        brom_song_info info = {};
        brom_get_song_info(module, &info);
        fprintf(stderr, "brom-play: %s: --start %d:%d is not in the %s (%d order positions)\n",
                path, options.startOrder, options.startRow,
                options.subsong >= 0 ? "subsong" : "song", info.song_length);
        return false;
    }
    if (options.seekMs < 0) return true;
    // A time beyond the end leaves the song at its end, a millisecond or more before the time
    // asked (the rounding to a frame and back loses less).
    brom_seek_ms(module, options.seekMs);
    brom_position at = {};
    brom_get_position(module, &at);
    if (at.time_ms + 1 >= options.seekMs) return true;
    fprintf(stderr, "brom-play: %s: --seek %.3f s is past the end of the song (%.3f s)\n", path,
            options.seekMs / 1000.0, at.time_ms / 1000.0);
    return false;
}

// --subsong N of a file that holds fewer songs.
bool checkSubsong(brom_module* module, const char* path, const Options& options) {
    const int count = brom_subsong_count(module);
    if (options.subsong < count) return true;
    fprintf(stderr, "brom-play: %s: --subsong %d: the file holds %d song%s\n", path,
            options.subsong + 1, count, count == 1 ? "" : "s");
    return false;
}

// Channels named by --solo and --mute that the song does not have: a warning, or a failure when
// --solo names none it has (everything would be silent).
bool checkChannels(brom_module* module, const char* path, const Options& options) {
    const int channels = brom_channel_count(module);
    const uint32_t inSong = channels >= 32 ? ~uint32_t{0} : (uint32_t{1} << channels) - 1;
    const uint32_t missing = (options.soloChannels | options.muteChannels) & ~inSong;
    if (!missing) return true;
    if (options.soloChannels && !(options.soloChannels & inSong)) {
        fprintf(stderr, "brom-play: %s: --solo names no channel of the song (%d channels)\n", path,
                channels);
        return false;
    }
    fprintf(stderr,
            "brom-play: %s: the song has %d channels; --solo or --mute of channel %d and up"
            " left out\n",
            path, channels, std::countr_zero(missing) + 1);
    return true;
}

// Frames that --seconds still allows of `frames` asked.
size_t allowed(const Source* source, size_t frames) {
    if (source->frameLimit < 0) return frames;
    const int64_t left = source->frameLimit - source->framesDone;
    return left <= 0                              ? 0
           : static_cast<uint64_t>(left) < frames ? static_cast<size_t>(left)
                                                  : frames;
}

}  // namespace

brom_module* loadOrComplain(const char* path, std::string* reason) {
    brom_error error = BROM_OK;
    const char* why = "";
    brom_module* module = brom_load_file_ex(path, &error, &why);
    if (!module) {
        if (!*why) why = brom_error_string(error);
        fprintf(stderr, "brom-play: %s: %s\n", path, why);
        if (reason) *reason = why;
    }
    return module;
}

void sayRepairs(const char* path, int count, const char* first) {
    if (count <= 0) return;
    fprintf(stderr, "brom-play: %s: damaged or of an older layout, read with %d repair%s: %s%s\n",
            path, count, count == 1 ? "" : "s", first,
            count > 1 ? ", ... (--info lists them)" : "");
}

void applySettings(brom_module* module, const Options& options) {
    // The values were checked when the command line was read: these calls are accepted.
    if (brom_sample_rate(module) != options.rate) brom_set_sample_rate(module, options.rate);
    if (options.profile) brom_set_profile(module, options.profile);
    brom_set_repeat_count(module, options.repeat);
    for (int c = 0; c < brom_channel_count(module); ++c) {
        brom_set_channel_mute(module, c, (options.mutedChannels >> c) & 1);
    }
    brom_set_gain_db(module, options.gainDb);
    brom_set_stereo_separation(module, options.stereo);
    brom_set_render_threads(module, options.threads);
    brom_set_end(module, options.end, options.fadeMs);
    if (options.subsong >= 0) brom_select_subsong(module, options.subsong);
    applySound(module, options);
}

void applySound(brom_module* module, const Options& options) {
    brom_set_interpolation(module, options.interpolation);
    brom_set_amiga(module, options.amiga);  // refused, and so off, for anything but MOD
}

bool openSource(Source* source, const char* path, const Options& options) {
    *source = Source{};
    brom_module* module = loadOrComplain(path);
    if (!module) return false;
    sayRepairs(path, brom_repair_count(module), brom_repair_note(module, 0));
    applySettings(module, options);
    if (!checkSubsong(module, path, options) || !checkChannels(module, path, options) ||
        !applyStart(module, path, options)) {
        brom_free(module);
        return false;
    }
    source->module = module;
    if (options.seconds >= 0) source->frameLimit = std::llround(options.seconds * options.rate);
    return true;
}

void closeSource(Source* source) {
    brom_free(source->module);
    *source = Source{};
}

size_t pullS16(Source* source, int16_t* stereo, size_t frames) {
    const size_t got = brom_render_s16(source->module, stereo, allowed(source, frames));
    source->framesDone += static_cast<int64_t>(got);
    return got;
}

size_t pullF32(Source* source, float* stereo, size_t frames) {
    const size_t got = brom_render_f32(source->module, stereo, allowed(source, frames));
    source->framesDone += static_cast<int64_t>(got);
    return got;
}
