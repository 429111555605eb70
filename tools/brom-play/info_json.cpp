// --info --json: one JSON object per module. Names hold whatever bytes the file has: a string
// that is valid UTF-8 is written as it is, any other is read as Latin-1 (each byte >= 128 becomes
// \u00XX), so the output is always valid JSON.
#include <cinttypes>
#include <cstdio>

#include "tools/brom-play/info.h"

namespace {

// The length of the UTF-8 sequence at `s`, 0 when there is none (overlong forms, surrogates and
// code points beyond U+10FFFF are none).
int utf8Length(const unsigned char* s) {
    if (s[0] < 0x80) return 1;
    const int n = s[0] >= 0xF0 ? 4 : s[0] >= 0xE0 ? 3 : s[0] >= 0xC0 ? 2 : 0;
    if (n == 0 || s[0] > 0xF4) return 0;
    uint32_t code = s[0] & (0x7Fu >> n);
    for (int k = 1; k < n; ++k) {
        if ((s[k] & 0xC0) != 0x80) return 0;  // the terminating zero stops here too
        code = code << 6 | (s[k] & 0x3Fu);
    }
    static const uint32_t LOWEST[] = {0, 0, 0x80, 0x800, 0x10000};
    if (code < LOWEST[n] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
    return n;
}

bool isUtf8(const unsigned char* s) {
    for (int n; *s; s += n) {
        if ((n = utf8Length(s)) == 0) return false;
    }
    return true;
}

void writeString(const char* text) {
    const auto* s = reinterpret_cast<const unsigned char*>(text);
    const bool utf8 = isUtf8(s);
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

void writeSample(const brom_module* module, int instrument, int sample) {
    brom_sample_info s = {};
    brom_get_sample_info(module, instrument, sample, &s);
    printf("        {\"name\": ");
    writeString(brom_sample_name(module, instrument, sample));
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
        writeString(brom_instrument_name(module, i));
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
    writeString(path);
    printf(",\n  \"title\": ");
    writeString(brom_title(module));
    printf(",\n  \"tracker\": ");
    writeString(brom_tracker(module));
    printf(",\n  \"message\": ");
    writeString(brom_message(module));
    printf(",\n  \"channels\": %d,\n  \"duration_ms\": %" PRId64
           ",\n  \"song_length\": %d,\n  \"restart\": %d,\n  \"patterns\": %d,\n  \"speed\": "
           "%d,\n  \"bpm\": %d,\n  \"linear\": %s,\n  \"orders\": [",
           song.channels, brom_duration_ms(module), song.song_length, song.restart, song.patterns,
           song.speed, song.bpm, song.linear ? "true" : "false");
    for (int i = 0; i < song.song_length; ++i) {
        printf("%s%d", i ? ", " : "", brom_order_pattern(module, i));
    }
    printf("],\n");
    writeInstruments(module);
    printf("}");
}
