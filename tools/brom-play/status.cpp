#include "tools/brom-play/status.h"

#include <algorithm>
#include <cinttypes>
#include <cmath>
#include <cstdio>

namespace {

// Nine steps from silent to full; a muted channel shows '-'.
const char* const UTF8_LEVELS[] = {" ", "▁", "▂", "▃", "▄", "▅", "▆", "▇", "█"};
const char ASCII_LEVELS[] = " .,:;+*#@";
constexpr double METER_STEP_DB = 6;

// "m:ss.t"
std::string clock(int64_t ms) {
    char text[32];
    if (ms < 0) return "?:??.?";
    snprintf(text, sizeof text, "%" PRId64 ":%02d.%d", ms / 60000, static_cast<int>(ms / 1000 % 60),
             static_cast<int>(ms / 100 % 10));
    return text;
}

// Muted channels counted from 1, runs joined: "2,5-8".
std::string mutedList(uint32_t muted, int channels) {
    std::string list;
    for (int c = 0; c < channels && c < STATUS_CHANNELS; ++c) {
        if (!((muted >> c) & 1)) continue;
        int last = c;
        while (last + 1 < channels && last + 1 < STATUS_CHANNELS && ((muted >> (last + 1)) & 1)) {
            ++last;
        }
        if (!list.empty()) list += ',';
        list += std::to_string(c + 1);
        if (last > c) list += '-' + std::to_string(last + 1);
        c = last;
    }
    return list;
}

std::string meters(const StatusView& view, bool utf8) {
    std::string text = "[";
    for (int c = 0; c < view.channels && c < STATUS_CHANNELS; ++c) {
        if ((view.mutedChannels >> c) & 1) {
            text += '-';
            continue;
        }
        // Decibels, 6 to a step: full scale shows 8 of 8, -42 dB and below 1, silence none.
        const float peak = view.peaks[c];
        const int step =
            peak <= 0
                ? 0
                : std::clamp(static_cast<int>(std::ceil(8 + std::log10(peak) * 20 / METER_STEP_DB)),
                             1, 8);
        if (utf8) {
            text += UTF8_LEVELS[step];
        } else {
            text += ASCII_LEVELS[step];
        }
    }
    return text + "]";
}

// Cuts `text` to `width` columns, on a character boundary.
std::string cut(const std::string& text, int width) {
    int count = 0;
    for (size_t k = 0; k < text.size(); ++k) {
        if ((static_cast<unsigned char>(text[k]) & 0xC0) != 0x80 && count++ == width) {
            return text.substr(0, k);
        }
    }
    return text;
}

// The words of one form of the line.
struct Wording {
    const char* file;  // file number and count
    const char* song;  // subsong number and count
    const char* position;  // order, pattern, row, clock, duration, speed, bpm
    const char* gain;
    const char* paused;
    const char* loop;
    const char* muted;
    const char* background;  // past notes sounding on
    const char* gap;  // before the meters
};

const Wording FULL_FORM = {"%d/%d",
                           "  song %d/%d",
                           "  order %d/%d  pattern %d  row %d  %s/%s  speed %d bpm %d",
                           "  gain %+.0f dB",
                           "  paused",
                           "  loop",
                           "  muted ",
                           "  past notes %d",
                           "  "};
const Wording SHORT_FORM = {"%d/%d",    " s%d/%d", " %d/%d p%d r%d %s/%s %d/%d",
                            " %+.0fdB", " ||",     " loop",
                            " m",       " +%d",    " "};

std::string line(const StatusView& v, const Wording& words, const std::string& muted,
                 const std::string& levels) {
    char text[256];
    snprintf(text, sizeof text, words.file, v.fileNumber, v.fileCount);
    std::string out = text;
    if (v.subsongCount > 1) {
        snprintf(text, sizeof text, words.song, v.subsong + 1, v.subsongCount);
        out += text;
    }
    snprintf(text, sizeof text, words.position, v.position.order, v.songLength, v.position.pattern,
             v.position.row, clock(v.position.time_ms).c_str(), clock(v.durationMs).c_str(),
             v.position.speed, v.position.bpm);
    out += text;
    if (v.gainDb != 0) {
        snprintf(text, sizeof text, words.gain, v.gainDb);
        out += text;
    }
    if (v.paused) out += words.paused;
    if (v.looping) out += words.loop;
    if (!muted.empty()) out += words.muted + muted;
    if (v.backgroundNotes > 0) {
        snprintf(text, sizeof text, words.background, v.backgroundNotes);
        out += text;
    }
    return out + words.gap + levels;
}

}  // namespace

int statusColumns(const std::string& text) {
    int count = 0;
    for (unsigned char c : text) count += (c & 0xC0) != 0x80;
    return count;
}

std::string formatStatus(const StatusView& view, int width, bool utf8) {
    const std::string muted = mutedList(view.mutedChannels, view.channels);
    const std::string levels = meters(view, utf8);
    const std::string full = line(view, FULL_FORM, muted, levels);
    if (statusColumns(full) < width) return full;
    return cut(line(view, SHORT_FORM, muted, levels), width > 1 ? width - 1 : 0);
}
