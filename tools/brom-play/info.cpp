// --info: a summary of what each module holds, through the public library. The names stand
// beside their lines, as the file has them (trackers' users leave messages there).
#include "tools/brom-play/info.h"

#include <cinttypes>
#include <cstdio>
#include <string>

#include "tools/brom-play/brom_play.h"
#include "tools/brom-play/source.h"
#include "tools/brom-play/text.h"

const char* loopName(brom_loop loop) {
    switch (loop) {
        case BROM_LOOP_FORWARD: return "forward";
        case BROM_LOOP_PING_PONG: return "ping-pong";
        default: return "none";
    }
}

namespace {

// A name for the terminal, padded to 22 columns (a name of 22 Latin-1 bytes takes more bytes as
// UTF-8, not more columns).
std::string padded(const char* name) {
    std::string text = terminalText(name);
    int columns = 0;
    for (unsigned char c : text) columns += (c & 0xC0) != 0x80;
    if (columns < 22) text.append(22 - columns, ' ');
    return text;
}

// The order list's markers (S3M, IT): a position passed over, and the song's end.
constexpr int ORDER_SKIP_MARKER = 0xFFFE;
constexpr int ORDER_END_MARKER = 0xFFFF;

// One past the highest pattern the order list plays.
int usedPatterns(const brom_module* module, int songLength) {
    int used = 0;
    for (int order = 0; order < songLength; ++order) {
        const int pattern = brom_order_pattern(module, order);
        if (pattern >= used && pattern < ORDER_SKIP_MARKER) used = pattern + 1;
    }
    return used;
}

void printOrder(int pattern) {
    if (pattern == ORDER_SKIP_MARKER) {
        printf(" +++");
    } else if (pattern == ORDER_END_MARKER) {
        printf(" ---");
    } else {
        printf(" %d", pattern);
    }
}

void printHeader(brom_module* module, const char* path) {
    brom_song_info song = {};
    brom_get_song_info(module, &song);
    char duration[24];
    formatDuration(brom_duration_ms(module), duration);
    printf("file            %s\n", path);
    printf("title           %s\n", terminalText(brom_title(module)).c_str());
    printf("format          %s\n", brom_format_name(brom_format(module)));
    printf("tracker         %s\n", terminalText(brom_tracker(module)).c_str());
    printf("duration        %s\n", duration);
    printf("channels        %d\n", song.channels);
    printf("song length     %d\n", song.song_length);
    printf("restart         %d\n", song.restart);
    printf("patterns        %d (%d used)\n", song.patterns, usedPatterns(module, song.song_length));
    printf("instruments     %d\n", song.instruments);
    printf("frequency table %s\n", song.linear ? "linear" : "amiga");
    printf("speed           %d\n", song.speed);
    printf("bpm             %d\n", song.bpm);
    printf("orders         ");
    for (int i = 0; i < song.song_length; ++i) printOrder(brom_order_pattern(module, i));
    printf("\n");
}

// Each subsong's start, length and name, counted from 1 as --subsong counts them.
void printSubsongs(brom_module* module) {
    const int count = brom_subsong_count(module);
    printf("subsongs        %d\n", count);
    for (int k = 0; k < count && count > 1; ++k) {
        brom_subsong subsong = {};
        brom_get_subsong(module, k, &subsong);
        char duration[24];
        formatDuration(subsong.duration_ms, duration);
        printf("song %-3d        order %d row %d  %s%s%s\n", k + 1, subsong.order, subsong.row,
               duration, *subsong.name ? "  " : "", terminalText(subsong.name).c_str());
    }
}

// The message, each line indented beside the label.
void printMessage(const brom_module* module) {
    const char* text = brom_message(module);
    if (!text[0]) return;
    printf("message         ");
    for (const char* c = text; *c; ++c) {
        putchar(*c);
        if (*c == '\n' && c[1]) printf("                ");
    }
    printf("\n");
}

void printPatterns(const brom_module* module) {
    brom_song_info song = {};
    brom_get_song_info(module, &song);
    for (int p = 0; p < song.patterns; ++p) {
        const int rows = brom_pattern_rows(module, p);
        int notes = 0, effects = 0;
        brom_cell cell;
        for (int row = 0; row < rows; ++row) {
            for (int c = 0; brom_get_pattern_cell(module, p, row, c, &cell); ++c) {
                notes += cell.note != 0;
                effects += cell.effect != 0 || cell.param != 0;
            }
        }
        printf("pattern %3d  rows %3d  notes %4d  effects %4d\n", p, rows, notes, effects);
    }
}

void printSamples(const brom_module* module, int instrument, int count) {
    for (int j = 0; j < count; ++j) {
        brom_sample_info s;
        if (!brom_get_sample_info(module, instrument, j, &s)) {
            printf("  sample %2d  (empty)\n", j);
            continue;
        }
        char panning[16] = "channel";  // the sample leaves the channel's panning (MOD files)
        if (s.panning >= 0) snprintf(panning, sizeof panning, "%3d", s.panning);
        printf("  sample %2d  %s  length %7" PRIu32 "  loop %s %" PRIu32 "+%" PRIu32
               "  volume %2d  finetune %4d  panning %s  relative note %4d  bits %2d\n",
               j, padded(brom_sample_name(module, instrument, j)).c_str(), s.length,
               loopName(s.loop), s.loop_start, s.loop_length, s.volume, s.finetune, panning,
               s.relative_note, s.bits);
    }
}

void printKeyboard(const brom_module* module, int instrument) {
    const std::vector<KeyRange> ranges = keyboardRanges(module, instrument);
    if (ranges.empty()) return;
    printf("  keyboard   ");
    for (size_t k = 0; k < ranges.size(); ++k) {
        const KeyRange& r = ranges[k];
        char from[8], to[8];
        noteName(r.from, from);
        noteName(r.to, to);
        printf("%s %s..%s sample %d", k ? "," : "", from, to, r.sample + 1);
        if (r.transpose) printf(" (%+d)", r.transpose);
    }
    printf("\n");
}

void printInstruments(const brom_module* module) {
    for (int i = 0; i < brom_instrument_count(module); ++i) {
        brom_instrument_info ins;
        if (!brom_get_instrument_info(module, i, &ins)) continue;
        printf(
            "instrument %3d  %s  samples %2d  volume envelope %2d points%s  panning envelope "
            "%2d points%s  fadeout %d  vibrato %d/%d/%d/%d\n",
            i + 1, padded(brom_instrument_name(module, i)).c_str(), ins.samples, ins.volume_points,
            ins.volume_envelope ? " (on)" : "", ins.panning_points,
            ins.panning_envelope ? " (on)" : "", ins.fadeout, ins.vibrato_type, ins.vibrato_sweep,
            ins.vibrato_depth, ins.vibrato_rate);
        printKeyboard(module, i);
        printSamples(module, i, ins.samples);
    }
}

// What the loader repaired, so that a user knows the file is damaged (or of an older layout).
void printRepairs(const brom_module* module) {
    const int count = brom_repair_count(module);
    int shown = 0;
    for (; shown < count && brom_repair_note(module, shown)[0]; ++shown) {
        printf("note            %s\n", terminalText(brom_repair_note(module, shown)).c_str());
    }
    if (count > shown) printf("note            and %d more repairs\n", count - shown);
}

}  // namespace

std::vector<KeyRange> keyboardRanges(const brom_module* module, int instrument) {
    std::vector<KeyRange> ranges;
    for (int note = 0; note < 120; ++note) {
        int played = note;
        const int sample = brom_instrument_note(module, instrument, note, &played);
        if (sample < 0) continue;
        const int transpose = played - note;
        if (!ranges.empty() && ranges.back().to == note - 1 && ranges.back().sample == sample &&
            ranges.back().transpose == transpose) {
            ranges.back().to = note;
        } else {
            ranges.push_back({note, note, sample, transpose});
        }
    }
    return ranges;
}

void noteName(int note, char* text) {
    static const char* const NAMES[12] = {"C-", "C#", "D-", "D#", "E-", "F-",
                                          "F#", "G-", "G#", "A-", "A#", "B-"};
    const int n = note < 0 ? 0 : note > 119 ? 119 : note;
    snprintf(text, 8, "%s%d", NAMES[n % 12], n / 12 % 10);
}

void formatDuration(int64_t ms, char* text) {
    if (ms < 0) {
        snprintf(text, 24, "unknown");
        return;
    }
    snprintf(text, 24, "%" PRId64 ":%02d.%03d", ms / 60000, static_cast<int>(ms / 1000 % 60),
             static_cast<int>(ms % 1000));
}

void printInfoText(brom_module* module, const char* path) {
    printHeader(module, path);
    printSubsongs(module);
    printMessage(module);
    printRepairs(module);
    printPatterns(module);
    printInstruments(module);
}

// Text and JSON alike: one description per file, in the order given. In JSON a file that cannot
// be described is {"file", "error"}, so that standard output stays one valid JSON value: an
// object for one file, an array for several.
int runInfo(const Options& options) {
    int status = 0;
    bool first = true;
    const bool array = options.json && options.files.size() > 1;
    if (array) printf("[\n");
    for (const char* path : options.files) {
        std::string reason;
        brom_module* module = loadOrComplain(path, &reason);
        if (!module) status = 1;
        if (!module && !options.json) continue;
        if (module) applySound(module, options);
        if (!first) fputs(options.json ? ",\n" : "\n", stdout);
        first = false;
        if (!module) {
            printInfoJsonError(path, reason.c_str());
            continue;
        }
        sayRepairs(path, brom_repair_count(module), brom_repair_note(module, 0));
        if (options.profile) brom_set_profile(module, options.profile);
        if (options.json) {
            printInfoJson(module, path);
        } else {
            printInfoText(module, path);
        }
        brom_free(module);
    }
    if (options.json) printf("\n");
    if (array) printf("]\n");
    if (fflush(stdout) != 0) status = 1;
    return status;
}
