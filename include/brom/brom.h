/* brom.h: play XM (extended module) and MOD music from C, C++ or anything with a C FFI.

   Load a module, then pull interleaved stereo frames from it at the rate you choose, as 16-bit
   integers or floats; seek by time or by order and row; mute channels; read the title, the
   instrument and sample names, the pattern cells, the duration and where each order starts.

       #include <brom/brom.h>

       brom_error error;
       brom_module* song = brom_load_file("song.xm", &error);
       if (!song) { fprintf(stderr, "%s\n", brom_error_string(error)); return 1; }
       brom_set_sample_rate(song, 48000);              // optional; before the first render
       int16_t frames[2 * 1024];
       size_t got;
       while ((got = brom_render_s16(song, frames, 1024)) > 0)
           fwrite(frames, 4, got, out);                // fewer than asked: the song has ended
       brom_free(song);

   Link with `pkg-config --cflags --libs brom`, or in CMake with find_package(brom) and the
   target brom::brom.

   Rendering. The song plays once and ends where it first comes back to a row it has already
   played (brom_set_repeat_count changes that). At 44100 Hz with no other setting changed, the
   16-bit frames are exactly those of `brom-play --render`. brom_render_f32 gives the same mix
   before its conversion to 16 bits, scaled so that 32768 is 1.0: a float sample times 32768,
   rounded half to even and saturated, is the 16-bit sample. A song that never comes round ends
   after an hour.

   Threads. A module is used by one thread at a time: calls on one module must not overlap
   (guard it with a lock if an audio callback renders while another thread seeks). Different
   modules may be used on different threads at the same time; nothing is shared between them.
   By default a module renders on the calling thread alone and starts no thread: fit for a game
   or an audio callback. Asked (brom_set_render_threads), it renders on several threads of its
   own: the calling thread runs the song ahead and the others mix, while the module renders and
   between calls. The frames are the same, bit for bit, on any number of threads, and every
   setting acts exactly as it does on one.

   Errors. Functions returning int give 1 for done and 0 for refused (a null module, a value out
   of range); a refused call changes nothing. Strings are never null (empty when absent), valid
   until brom_free, with the file's bytes below 32 shown as spaces and trailing spaces removed. */
#ifndef BROM_BROM_H
#define BROM_BROM_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The functions the shared library exports. */
#if defined(__GNUC__) && !defined(_WIN32)
#define BROM_API __attribute__((visibility("default")))
#else
#define BROM_API
#endif

#define BROM_VERSION_MAJOR 1
#define BROM_VERSION_MINOR 0
#define BROM_VERSION_PATCH 0

/* The library's version, "1.0.0". */
BROM_API const char* brom_version(void);

typedef struct brom_module brom_module;

typedef enum brom_error {
    BROM_OK = 0,
    BROM_ERROR_ARGUMENT, /* a null pointer or a value out of range */
    BROM_ERROR_IO, /* the file cannot be opened or read (a folder among them) */
    BROM_ERROR_FORMAT, /* not a module Brom can read, or damaged beyond reading */
    BROM_ERROR_TRUNCATED, /* the file ends early */
    BROM_ERROR_MEMORY /* not enough memory */
} brom_error;

/* One short line of text for the code; never null. */
BROM_API const char* brom_error_string(brom_error error);

/* Loading copies what it needs: `data` may be freed right after. Null on failure, with *error
   set to the reason (error may be null). */
BROM_API brom_module* brom_load_memory(const void* data, size_t size, brom_error* error);
BROM_API brom_module* brom_load_file(const char* path, brom_error* error);
/* The same, with one line that says what exactly is wrong in *reason on failure ("the file ends
   inside a pattern"; static text, never freed; reason may be null). */
BROM_API brom_module* brom_load_memory_ex(const void* data, size_t size, brom_error* error,
                                          const char** reason);
BROM_API brom_module* brom_load_file_ex(const char* path, brom_error* error, const char** reason);
/* Releases the module; null is fine. */
BROM_API void brom_free(brom_module* module);

/* What the loader repaired in a damaged file or read in an older layout, one short line each
   ("pattern 12 cut short: 17 of 64 rows", "version 1.02 layout"): how many there were, and the
   text of the first few (index from 0; "" beyond those kept). */
BROM_API int brom_repair_count(const brom_module* module);
BROM_API const char* brom_repair_note(const brom_module* module, int index);

/* ---- Rendering ---- */

/* 8000..192000, default 44100. Accepted before the first render and right after a seek (by time
   or by order and row), refused in between. The song keeps its time: after a seek, the new rate
   renders from the same moment (after an order and row seek, from the same jump). */
BROM_API int brom_set_sample_rate(brom_module* module, int rate);
BROM_API int brom_sample_rate(const brom_module* module);

/* The way the module plays: "brom" (also "default"), Brom's own, and the default; "ft2",
   FastTracker 2's, for XM modules as FastTracker 2 played them. Accepted, like the rate, before
   the first render and right after a seek (rendering from the same moment); 0 for an unknown
   name. brom_profile names the profile in use. */
BROM_API int brom_set_profile(brom_module* module, const char* name);
BROM_API const char* brom_profile(const brom_module* module);

/* Write up to `frames` interleaved stereo frames (left, right) and return how many; fewer than
   asked means the end, and later calls return 0. */
BROM_API size_t brom_render_s16(brom_module* module, int16_t* stereo, size_t frames);
BROM_API size_t brom_render_f32(brom_module* module, float* stereo, size_t frames);

/* Threads rendering the module: 1 (the default) the calling thread alone, 0 as many as the
   machine has cores (at most 8), n up to 16 the calling thread and n - 1 threads of the module's
   own, started with the first render and ended by brom_free. Accepted at any time; acts from
   the next block (1/50 s) on. The frames do not depend on it. With several modules rendering at
   once, say on one thread each, 1 spares the machine threads it has no cores for.
   brom_render_threads tells how many the module renders with. */
BROM_API int brom_set_render_threads(brom_module* module, int threads);
BROM_API int brom_render_threads(const brom_module* module);

/* ---- Position ---- */

/* Sample-exact: rendering after brom_seek_ms(m, t) gives exactly the frames that rendering from
   the start gives from frame floor(t x rate / 1000) on. Backwards works too. A time beyond the
   end leaves the song at its end. 0 for a negative time. */
BROM_API int brom_seek_ms(brom_module* module, int64_t ms);
/* Jumps as a position jump with a pattern break would, from where the song is: effect memories
   and sounding notes carry on. On a freshly loaded module that is starting there. 0 when the
   order is not in the song or the row not in its pattern, or, with a subsong selected, when the
   subsong does not play the order.
   The song then ends where a pass from its start would end: the rows that pass plays before it
   reaches the row jumped to count as played (starting at order 3 of a song that plays orders 0 to
   9 once, the song ends after order 9). The repeat count counts passes from there. */
BROM_API int brom_seek_order_row(brom_module* module, int order, int row);
/* Passes after the first: 0 (the default) ends where the song first comes round again; n > 0
   goes on for n more passes, each ending where the song comes round again; -1 never ends. */
BROM_API int brom_set_repeat_count(brom_module* module, int count);
/* The length of one pass at the current rate, without moving the position; -1 on failure. */
BROM_API int64_t brom_duration_ms(brom_module* module);

/* Where one pass from the start first reaches the order position: the time rounded up to the
   millisecond, so that brom_seek_ms to it lands in that order (at its first frame or within a
   millisecond after). -1 when the pass never plays the order or it is not in the song. */
BROM_API int64_t brom_order_time_ms(brom_module* module, int order);

/* ---- Subsongs and the end ----

   A module may hold several songs in one order list: apart by end markers, each looping on itself
   by a jump, or reached by no path from the start. Subsong 0 starts at order 0; each further one
   starts at the first order position that no subsong before it plays and that holds a pattern
   (after an end marker that ends the song too: such a subsong plays up to the next end marker),
   and plays until it comes round: to a row it has played, or to a row of a subsong before it
   (where, played alone, it goes back to its own start). The search plays the song without mixing
   when first asked: at most an hour of each subsong, the first whole (as brom_duration_ms), the
   others until all together have taken 2^24 channel-ticks (about 23 hours of a 4-channel song, 3
   of a 32-channel one). A hostile file costs bounded work; a search cut short keeps what it
   found.

   Nothing is selected at first (-1): the whole order list plays, from order 0 as subsong 0 does,
   the same frames as ever. */
typedef struct brom_subsong {
    int order; /* where it starts */
    int row;
    int64_t duration_ms; /* one pass at the current rate, to where it comes round */
    int64_t frames; /* the same in frames, exact */
    const char* name; /* "" where the format names none (every format read today) */
} brom_subsong;
/* 1 or more; 0 for a null module or when memory is short. */
BROM_API int brom_subsong_count(brom_module* module);
BROM_API int brom_get_subsong(brom_module* module, int index, brom_subsong* subsong);
/* Plays subsong `index` (from 0) from its start, or with -1 the whole order list. The position,
   the duration, the order times and the seeks by time and by order and row then act within it;
   the repeat count and the end stay as they are. */
BROM_API int brom_select_subsong(brom_module* module, int index);
BROM_API int brom_selected_subsong(const brom_module* module);
/* The subsong that first plays a row of the order position; -1 when none plays it. */
BROM_API int brom_order_subsong(brom_module* module, int order);

/* How the song ends once its last pass comes round: it stops (the default), loops without end,
   or plays on and fades out over `fade_ms` milliseconds (1..BROM_LONGEST_FADE_MS), then stops.
   The fade is sample-exact: with the pass ending at frame E and a fade of N frames
   (fade_ms x rate / 1000, rounded down), frame E + k is the mix scaled by (N - k) / N, computed in
   double precision and rounded once to a float before the conversion to 16 bits; the output ends
   at frame E + N. fade_ms counts only for BROM_END_FADE. */
typedef enum brom_end { BROM_END_STOP = 0, BROM_END_LOOP, BROM_END_FADE } brom_end;
#define BROM_LONGEST_FADE_MS 600000
BROM_API int brom_set_end(brom_module* module, brom_end end, int fade_ms);

/* Where the song is: the frames rendered so far as time, and the song's order position, pattern,
   row, speed and tempo after the last frame rendered. The row is the one playing: a row of the
   pattern (0 in a pattern of no rows), also while a pattern loop jumps back. */
typedef struct brom_position {
    int64_t time_ms;
    int order;
    int pattern;
    int row;
    int speed;
    int bpm;
} brom_position;
BROM_API int brom_get_position(const brom_module* module, brom_position* position);

/* ---- Channels and output ---- */

BROM_API int brom_channel_count(const brom_module* module);
/* channel from 0. A muted channel contributes nothing; muting every channel gives silence. Mute,
   gain and stereo separation act from the next block of 1/50 s: the frames of the block being
   rendered keep what they had, whatever the module has mixed ahead. */
BROM_API int brom_set_channel_mute(brom_module* module, int channel, int muted);
BROM_API int brom_channel_muted(const brom_module* module, int channel);
/* How loud the channel's note is set to play now, 0 (silent) to 255: its volume and panning,
   whatever its sample holds. */
BROM_API int brom_channel_level(const brom_module* module, int channel);
/* A measured level, for meters: the peak of the channel's sound over the last block rendered
   (1/50 s), left and right, 1.0 = full scale, as the output has it (mute, stereo separation and
   gain applied): the loudest sample frame its note played in that time times its gains. 0 and 0
   before the first render; the function gives 0 (refused) for a channel not in the song. */
BROM_API int brom_channel_peak(const brom_module* module, int channel, float* left, float* right);
/* Notes sounding on in the background after their channel started another (Impulse Tracker's
   new-note actions), now. */
BROM_API int brom_background_notes(const brom_module* module);
/* Gain in decibels (-60..+24) before the conversion to 16 bits, which saturates; 0 (the default)
   is the exact mix. */
BROM_API int brom_set_gain_db(brom_module* module, double decibels);
/* Stereo separation, 0..200 percent: 100 (the default) as the song pans, 0 mono, 200 wider. */
BROM_API int brom_set_stereo_separation(brom_module* module, int percent);

/* ---- Sound quality ---- */

/* How samples are read between their frames. Every mode gives the same bits on every platform.
   LINEAR (the default) interpolates between the two frames around the position; NEAREST takes
   the nearest frame; CUBIC a Catmull-Rom spline through four frames; SINC a Kaiser-windowed sinc
   of 8 taps whose cut-off follows the pitch when a sample plays faster than the output rate (then
   with more taps), so that pitched-up samples do not alias. */
typedef enum brom_interpolation {
    BROM_INTERP_NEAREST = 0,
    BROM_INTERP_LINEAR = 1,
    BROM_INTERP_CUBIC = 2,
    BROM_INTERP_SINC = 3
} brom_interpolation;
/* Accepted at any time; heard from the next block (1/50 s) on. 0 for an unknown mode. */
BROM_API int brom_set_interpolation(brom_module* module, int mode);
BROM_API int brom_interpolation_mode(const brom_module* module);

/* The sound of the Amiga for MOD files: each sample value held until the next as Paula holds it,
   the steps band-limited to the output rate, then the output filters of the chosen model (A500:
   a 4.4 kHz low-pass; A1200: 34 kHz) and the LED filter (3.1 kHz, two poles) that the song
   switches with E00 (on) and E01 (off). It takes the place of the interpolation while on. Off by
   default; refused (0) for other formats. Heard from the next block on; the filters start from
   rest when the song starts and at a seek by time. */
typedef enum brom_amiga {
    BROM_AMIGA_OFF = 0,
    BROM_AMIGA_A500 = 1,
    BROM_AMIGA_A1200 = 2
} brom_amiga;
BROM_API int brom_set_amiga(brom_module* module, int model);
BROM_API int brom_amiga_model(const brom_module* module);

/* ---- Stems, scopes and what each channel plays ---- */

/* Stems: the mix taken apart, rendered in the same pass as the mix. By channel, stem c is what
   song channel c plays (the notes it started that sound on in the background included); by
   instrument, stem i is what instrument i (from 0) plays, on whatever channel. A muted channel
   is silent in every stem. Stems are shaped by the gain and stereo separation as the mix is,
   follow the interpolation, and with the Amiga's sound pass through output filters of their own.

       brom_set_stems(song, BROM_STEMS_BY_CHANNEL);
       int count = brom_stem_count(song);             // the channels
       float* stems[64];                              // count buffers of 2 x 1024 floats
       got = brom_render_stems_f32(song, mix, stems, 1024);

   The sum. Every voice renders the same frames into the mix and into its stem; the mix adds all
   voices in one single-precision sum, each stem adds its own. Added up stem by stem from stem 0
   on, in double precision, and rounded once to single precision, the stems give the mix of
   brom_render_f32 to within 2^-19 of full scale (1.0) or of the stems' magnitudes at that
   sample, whichever is larger:
       |sum - mix| <= 2^-19 x max(1, |stem 0| + |stem 1| + ...)
   (for a mix within full scale, 1/16 of a 16-bit step). The two sums round differently (the mix
   after every voice, a stem after each of its own), so no order makes them equal bit for bit
   (but where every voice sounding belongs to one stem); over the files of the library's tests
   (XM, MOD, S3M, IT) the largest difference is 3.6e-7 (2^-21.4). While stems or
   scopes are on, the module renders on the calling thread alone (brom_set_render_threads acts again
   when both are off); the frames are the same. */
typedef enum brom_stem_grouping {
    BROM_STEMS_OFF = 0,
    BROM_STEMS_BY_CHANNEL = 1,
    BROM_STEMS_BY_INSTRUMENT = 2
} brom_stem_grouping;
/* Accepted at any time; acts from the next block (1/50 s) on: before it the stems are silent. */
BROM_API int brom_set_stems(brom_module* module, brom_stem_grouping grouping);
/* The stems rendered: the channels, or the instruments; 0 while off. */
BROM_API int brom_stem_count(const brom_module* module);
/* Renders as brom_render_f32, the mix into `mix` (may be null: not wanted) and stem s into
   stems[s] for s below brom_stem_count (`stems` or an entry null: not wanted), the same number
   of interleaved stereo frames each. The frames written; 0 when stems are off. */
BROM_API size_t brom_render_stems_f32(brom_module* module, float* mix, float* const* stems,
                                      size_t frames);

/* Scopes: each channel's own signal over the last `frames` frames rendered (0..8192; 0, the
   default, off), for oscilloscopes. Read after a render as the meters are; the channel's stem,
   so a muted channel shows silence. Setting it clears what was kept. */
BROM_API int brom_set_scope_frames(brom_module* module, int frames);
/* Copies the last `frames` (at most the scope's frames) stereo frames the channel played,
   oldest first, 1.0 full scale, silence for frames before the first render; the number copied. */
BROM_API int brom_channel_scope(const brom_module* module, int channel, float* stereo, int frames);

/* What a channel plays after the last frame rendered. */
typedef struct brom_channel_state {
    int note; /* 1..120 (C-0 ...), 0 when the channel plays nothing */
    int instrument; /* from 1; 0 when it plays nothing */
    int sample; /* the instrument's sample, from 0 (as brom_sample_name); -1 when none */
    int volume; /* the channel's volume, 0..64 */
    int panning; /* 0 left .. 255 right */
    double frequency; /* the sample's frames per second as it plays now; 0 when none */
    int voices; /* voices sounding for it: its note, one fading out, notes in the background */
} brom_channel_state;
BROM_API int brom_get_channel_state(const brom_module* module, int channel,
                                    brom_channel_state* state);

/* A pattern cell as the format's tracker writes it, for pattern views: "C#4 01 40 A0F" (XM:
   note, instrument, volume column, effect), "C-4 01 A0F" (MOD), "C-4 01 64 A06" (S3M: decimal
   instrument and volume, effect letters), "C-4 01 v64 A06" (IT: v volume, p panning, a-h the
   volume column's commands); dots for what is empty, "===" a key off, "^^^" a note cut, "~~~" a
   note fade; every cell of a module has the same length. Writes at most `size` bytes with the zero;
   the length, 0 when refused (a cell not in the song, or no room). */
BROM_API int brom_cell_text(const brom_module* module, int pattern, int row, int channel,
                            char* text, int size);

/* ---- What the file holds ---- */

/* The file's format, told by its bytes. */
typedef enum brom_module_format {
    BROM_FORMAT_UNKNOWN = 0,
    BROM_FORMAT_XM, /* FastTracker 2's extended module */
    BROM_FORMAT_MOD, /* ProTracker, Soundtracker and their kin */
    BROM_FORMAT_S3M, /* Scream Tracker 3 */
    BROM_FORMAT_IT /* Impulse Tracker */
} brom_module_format;
BROM_API brom_module_format brom_format(const brom_module* module);
/* "XM", "MOD", "S3M", "IT"; "" for BROM_FORMAT_UNKNOWN. */
BROM_API const char* brom_format_name(brom_module_format format);

BROM_API const char* brom_title(const brom_module* module);
/* The program that wrote the file, as the file names it ("FastTracker v2.00",
   "Impulse Tracker 2.14"). */
BROM_API const char* brom_tracker(const brom_module* module);
/* The song message (Impulse Tracker modules), lines ended by '\n'; "" when the file has none. */
BROM_API const char* brom_message(const brom_module* module);
/* What instrument `instrument` (from 0) plays for `note` (0..119, C-0 to B-9): the sample,
   counted from 0 across the whole module, or -1 for none; *played (may be null) gets the note
   it plays. */
BROM_API int brom_instrument_note(const brom_module* module, int instrument, int note, int* played);
BROM_API int brom_instrument_count(const brom_module* module);
BROM_API const char* brom_instrument_name(const brom_module* module, int index); /* index from 0 */
BROM_API int brom_sample_count(const brom_module* module, int instrument);
BROM_API const char* brom_sample_name(const brom_module* module, int instrument, int sample);

typedef struct brom_song_info {
    int channels;
    int song_length; /* order positions played */
    int restart; /* the order position the song goes back to at its end */
    int patterns;
    int instruments;
    int speed; /* ticks per row at the start */
    int bpm; /* tempo at the start */
    int linear; /* 1: linear frequency table, 0: Amiga periods */
} brom_song_info;
BROM_API int brom_get_song_info(const brom_module* module, brom_song_info* info);
/* The pattern played at an order position, -1 outside the song and for the positions an order
   list marks to be passed over; rows of a pattern, -1 for none. */
BROM_API int brom_order_pattern(const brom_module* module, int order);
BROM_API int brom_pattern_rows(const brom_module* module, int pattern);

/* One cell of a pattern; channel from 0. */
typedef struct brom_cell {
    int note; /* 0 none, 1..96 (C-0 to B-7), 97 key off; other bytes of the file as they are */
    int instrument; /* 0 none, 1..128 */
    int volume; /* the volume column's byte, 0 when empty */
    int effect; /* as the file has it: 0..35 for 0-9 and A-Z */
    int param;
} brom_cell;
BROM_API int brom_get_pattern_cell(const brom_module* module, int pattern, int row, int channel,
                                   brom_cell* cell);

typedef struct brom_instrument_info {
    int samples; /* as brom_sample_count */
    int volume_points; /* points of the volume envelope */
    int volume_envelope; /* 1: the volume envelope is on */
    int panning_points;
    int panning_envelope;
    int fadeout; /* the volume falls by this much of 65536 per tick after key-off (twice the
                    file's value) */
    int vibrato_type; /* the automatic vibrato: 0 sine, 1 square, 2 ramp down, 3 ramp up */
    int vibrato_sweep;
    int vibrato_depth;
    int vibrato_rate;
} brom_instrument_info;
BROM_API int brom_get_instrument_info(const brom_module* module, int instrument,
                                      brom_instrument_info* info);

typedef enum brom_loop { BROM_LOOP_NONE = 0, BROM_LOOP_FORWARD, BROM_LOOP_PING_PONG } brom_loop;
typedef struct brom_sample_info {
    uint32_t length; /* frames */
    uint32_t loop_start; /* frames; 0 without a loop */
    uint32_t loop_length; /* frames; 0 without a loop */
    brom_loop loop;
    int volume; /* 0..64 */
    int finetune; /* -128..127 */
    int panning; /* 0..255; -1: the sample leaves the channel's panning (MOD files) */
    int relative_note; /* semitones */
    int bits; /* 8 or 16, as stored in the file */
} brom_sample_info;
BROM_API int brom_get_sample_info(const brom_module* module, int instrument, int sample,
                                  brom_sample_info* info);

#ifdef __cplusplus
}
#endif

#endif /* BROM_BROM_H */
