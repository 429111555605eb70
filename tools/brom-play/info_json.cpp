// --info --json: one JSON object per module. Names hold whatever bytes the file has: a string
// that is valid UTF-8 is written as it is, any other is read as Latin-1 (each byte >= 128 becomes
// \u00XX), so the output is always valid JSON.
#include <cinttypes>
#include <cstdio>

#include "tools/brom-play/info.h"
#include "tools/brom-play/text.h"

void writeJsonString(const char* text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const bool utf8 = isUtf8(text);
    putchar('"');
    for (; *s; ++s) {
        if (*s == '"' || *s == '\\') {
            printf("\\%c", *s);
        } else if (*s < 0x20 || (*s >= 0x80 && !utf8)) {
            printf("\\u%04x", *s);
        } else {
            putchar(*s);
        }
    }
    putchar('"');
}

namespace {

void writeSample(const brom_module* module, int instrument, int sample) {
    brom_sample_info s = {};
    brom_get_sample_info(module, instrument, sample, &s);
    printf("        {\"name\": ");
    writeJsonString(brom_sample_name(module, instrument, sample));
    printf(", \"length\": %" PRIu32 ", \"loop_start\": %" PRIu32 ", \"loop_length\": %" PRIu32
           ", \"loop\": \"%s\", \"volume\": %d, \"finetune\": %d, \"panning\": %d, "
           "\"relative_note\": %d, \"bits\": %d}",
           s.length, s.loop_start, s.loop_length, loopName(s.loop), s.volume, s.finetune, s.panning,
           s.relative_note, s.bits);
}

void writeInstruments(const brom_module* module) {
    const int count = brom_instrument_count(module);
    printf("  \"instruments\": [%s", count ? "\n" : "");
    for (int i = 0; i < count; ++i) {
        printf("    {\"name\": ");
        writeJsonString(brom_instrument_name(module, i));
        const int samples = brom_sample_count(module, i);
        printf(", \"samples\": [%s", samples ? "\n" : "");
        for (int j = 0; j < samples; ++j) {
            writeSample(module, i, j);
            printf(j + 1 < samples ? ",\n" : "\n      ");
        }
        printf("], \"keyboard\": [");
        const std::vector<KeyRange> ranges = keyboardRanges(module, i);
        for (size_t k = 0; k < ranges.size(); ++k) {
            const KeyRange& r = ranges[k];
            printf("%s{\"from\": %d, \"to\": %d, \"sample\": %d, \"transpose\": %d}", k ? ", " : "",
                   r.from, r.to, r.sample, r.transpose);
        }
        printf("]}%s", i + 1 < count ? ",\n" : "\n  ");
    }
    printf("]\n");
}

}  // namespace

void printInfoJson(brom_module* module, const char* path) {
    brom_song_info song = {};
    brom_get_song_info(module, &song);
    printf("{\n  \"file\": ");
    writeJsonString(path);
    printf(",\n  \"title\": ");
    writeJsonString(brom_title(module));
    printf(",\n  \"format\": \"%s\",\n  \"tracker\": ", brom_format_name(brom_format(module)));
    writeJsonString(brom_tracker(module));
    printf(",\n  \"message\": ");
    writeJsonString(brom_message(module));
    printf(",\n  \"profile\": \"%s\"", brom_profile(module));
    printf(",\n  \"channels\": %d,\n  \"duration_ms\": %" PRId64
           ",\n  \"song_length\": %d,\n  \"restart\": %d,\n  \"patterns\": %d,\n  \"speed\": "
           "%d,\n  \"bpm\": %d,\n  \"linear\": %s,\n  \"orders\": [",
           song.channels, brom_duration_ms(module), song.song_length, song.restart, song.patterns,
           song.speed, song.bpm, song.linear ? "true" : "false");
    for (int i = 0; i < song.song_length; ++i) {
        printf("%s%d", i ? ", " : "", brom_order_pattern(module, i));
    }
    printf("],\n  \"subsongs\": [");
    const int subsongs = brom_subsong_count(module);
    for (int k = 0; k < subsongs; ++k) {
        brom_subsong subsong = {};
        brom_get_subsong(module, k, &subsong);
        printf("%s{\"order\": %d, \"row\": %d, \"duration_ms\": %" PRId64 ", \"name\": ",
               k ? ", " : "", subsong.order, subsong.row, subsong.duration_ms);
        writeJsonString(subsong.name);
        printf("}");
    }
    printf("],\n  \"repairs\": [");
    const int repairs = brom_repair_count(module);
    for (int i = 0; i < repairs; ++i) {
        const char* note = brom_repair_note(module, i);
        if (!*note) break;
        printf("%s", i ? ", " : "");
        writeJsonString(note);
    }
    printf("],\n  \"repair_count\": %d,\n", repairs);
    static const char* const INTERPOLATIONS[] = {"nearest", "linear", "cubic", "sinc"};
    static const char* const AMIGAS[] = {"off", "a500", "a1200"};
    printf("  \"interpolation\": \"%s\",\n  \"amiga\": \"%s\",\n",
           INTERPOLATIONS[brom_interpolation_mode(module)], AMIGAS[brom_amiga_model(module)]);
    writeInstruments(module);
    printf("}");
}

void printInfoJsonError(const char* path, const char* error) {
    printf("{\"file\": ");
    writeJsonString(path);
    printf(", \"error\": ");
    writeJsonString(error);
    printf("}");
}
