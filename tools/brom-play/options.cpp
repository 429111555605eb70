// Reading the command line: options may come before, between and after the files; "--" ends
// them. Each option is one row of a table with the function that reads its value.
#include "tools/brom-play/options.h"

#include <brom/brom.h>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <string>

#include "module/behaviours.h"
#include "tools/brom-play/encode.h"

const char KEY_HELP[] =
    "keys: space pause  left/right order  up/down seek 10 s  +/- gain  1-9,0 mute  ! unmute all  "
    "l loop  v pattern  n/p file  </> song  h/? keys  q/Esc quit";

bool hasAudioExtension(const char* path) {
    const char* dot = strrchr(path, '.');
    if (!dot || strpbrk(dot, "/\\")) return false;
    std::string extension = dot;
    for (char& c : extension) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
    return extension == ".wav" || extension == ".flac" || extension == ".opus" ||
           extension == ".mp3";
}

namespace {

const char USAGE[] =
    "usage: brom-play [OPTIONS] FILE...                  play the files one after the other\n"
    "       brom-play --info [--json] FILE...            describe the files\n"
    "       brom-play --render OUT [OPTIONS] FILE...     write WAV, FLAC, Opus or MP3 files (by\n"
    "                                                    OUT's name or --format): OUT is a file,\n"
    "                                                    - for standard output, or a folder\n"
    "                                                    (a name ending in / or an existing\n"
    "                                                    folder) with one file per input\n"
    "       brom-play --stems DIR [OPTIONS] FILE         one WAV file per channel in DIR (01.wav,\n"
    "                                                    ...), silent channels left out\n"
    "       brom-play --trace FILE [--ticks N]           print the player's state tick by tick\n"
    "\n"
    "options:\n"
    "  --rate HZ             output rate, 8000..192000 (default 44100)\n"
    "  --profile NAME        play as brom (default) or as FastTracker 2 did (ft2)\n"
    "  --float               --render and --stems write 32-bit float samples\n"
    "  --stems-by GROUP      --stems: channel (default) or instrument (01-name.wav, ...)\n"
    "  --format FORMAT       --render writes wav, flac, opus or mp3 (default: by OUT's name)\n"
    "  --quality Q           FLAC's level 0..8 (default 5); Opus and MP3: kbit/s (160, 192)\n"
    "  --repeat N            passes after the first: 0 (default) ends where the song first\n"
    "                        comes round, -1 never ends\n"
    "  --start ORDER[:ROW]   begin at that order position (and row), counted from 0; the song\n"
    "                        ends where a pass from its start would\n"
    "  --subsong N           play subsong N, counted from 1 (--info lists them)\n"
    "  --subsongs all        --render into a folder: each subsong to a file of its own\n"
    "  --end HOW             where the song comes round: stop (default), loop, or\n"
    "                        fade[:SECONDS] (10 s unless given), then stop\n"
    "  --seek TIME           begin at TIME: seconds, or m:ss[.fff]\n"
    "  --seconds N           stop after N seconds\n"
    "  --mute LIST           mute channels, counted from 1, as in 1,3,5-8\n"
    "  --solo LIST           mute every channel but these\n"
    "  --gain DB             gain before the conversion to 16 bits, -60..24 (default 0)\n"
    "  --stereo PERCENT      stereo separation, 0 (mono) to 200 (default 100)\n"
    "  --jobs N              --render: files rendered at once (default: one per processor)\n"
    "  --force               --render, --stems: write over existing files (never an input)\n"
    "  --threads N           threads rendering each song, 1..16 (default: one per processor;\n"
    "                        one when several files render at once); the sound is the same\n"
    "  --ticks N             --trace: ticks to print (default: until the song comes round)\n"
    "  --interpolation MODE  nearest, linear (default), cubic or sinc\n"
    "  --amiga MODEL         MOD files: the Amiga's sound, off (default), a500 or a1200\n"
    "  --help, --version\n";

const char KEYS_USAGE[] =
    "\n"
    "keys while playing:\n"
    "  space                 pause / resume\n"
    "  left, right           previous / next order position (right on the last: next file)\n"
    "  up, down              seek 10 s back / forward\n"
    "  + -                   gain up / down by 1 dB\n"
    "  1-9, 0                mute / unmute channel 1-9, 10\n"
    "  !                     unmute every channel\n"
    "  l                     loop: repeat forever / stop where the song next comes round\n"
    "  v                     show / hide the pattern under the status line\n"
    "  n, p                  next / previous file\n"
    "  >, <                  next / previous subsong (also . and ,)\n"
    "  h, ?                  the keys on the status line for 5 s\n"
    "  q, Esc                quit\n";

constexpr int MAX_CHANNELS = 32;

// Whole numbers only, within [low, high].
bool readInteger(const char* text, int64_t low, int64_t high, int64_t* value) {
    char* end = nullptr;
    const long long read = strtoll(text, &end, 10);
    if (end == text || *end != '\0' || read < low || read > high) return false;
    *value = read;
    return true;
}

bool readInt32(const char* text, int32_t low, int32_t high, int32_t* value) {
    int64_t read = 0;
    if (!readInteger(text, low, high, &read)) return false;
    *value = static_cast<int32_t>(read);
    return true;
}

bool readDecimal(const char* text, double low, double high, double* value) {
    char* end = nullptr;
    const double read = strtod(text, &end);
    if (end == text || *end != '\0' || !std::isfinite(read) || read < low || read > high) {
        return false;
    }
    *value = read;
    return true;
}

// One of `names` (as many as `count`), as its index.
bool readChoice(const char* text, const char* const* names, int32_t count, int32_t* value) {
    for (int32_t k = 0; k < count; ++k) {
        if (strcmp(text, names[k]) == 0) {
            *value = k;
            return true;
        }
    }
    return false;
}

const char* const INTERPOLATION_NAMES[] = {"nearest", "linear", "cubic", "sinc"};
const char* const AMIGA_NAMES[] = {"off", "a500", "a1200"};

// "1,3,5-8": channels counted from 1, as bits counted from 0.
bool readChannelList(const char* text, uint32_t* mask) {
    *mask = 0;
    const char* at = text;
    for (;;) {
        char* end = nullptr;
        const long first = strtol(at, &end, 10);
        long last = first;
        if (end == at) return false;
        if (*end == '-') {
            at = end + 1;
            last = strtol(at, &end, 10);
            if (end == at) return false;
        }
        if (first < 1 || last > MAX_CHANNELS || first > last) return false;
        for (long c = first; c <= last; ++c) *mask |= uint32_t{1} << (c - 1);
        if (*end == '\0') return true;
        if (*end != ',') return false;
        at = end + 1;
    }
}

// Digits only, at most nine of them.
bool readDigits(const char* from, const char* to, int64_t* value) {
    if (from == to || to - from > 9) return false;
    *value = 0;
    for (const char* c = from; c < to; ++c) {
        if (*c < '0' || *c > '9') return false;
        *value = *value * 10 + (*c - '0');
    }
    return true;
}

// "75", "75.25", "1:15" or "1:15.250" as milliseconds; digits beyond the millisecond are dropped.
bool readTimeMs(const char* text, int64_t* ms) {
    const char* colon = strchr(text, ':');
    const char* secondsText = colon ? colon + 1 : text;
    int64_t minutes = 0;
    if (colon && !readDigits(text, colon, &minutes)) return false;
    const char* point = strchr(secondsText, '.');
    const char* secondsEnd = point ? point : secondsText + strlen(secondsText);
    int64_t seconds = 0;
    if (!readDigits(secondsText, secondsEnd, &seconds) || (colon && seconds >= 60)) return false;
    int64_t fraction = 0;
    if (point) {
        const char* digits = point + 1;
        const size_t count = strlen(digits);
        if (count == 0 || strspn(digits, "0123456789") != count) return false;
        for (size_t k = 0; k < 3; ++k) fraction = fraction * 10 + (k < count ? digits[k] - '0' : 0);
    }
    *ms = (minutes * 60 + seconds) * 1000 + fraction;
    return true;
}

// The command line as read so far: the options, and what is settled only at the end.
struct CommandLine {
    Options* options;
    uint32_t solo;  // --solo; --mute adds to what it leaves out
    uint32_t mute;
    bool modeChosen;
    bool modeClash;
    uint32_t given;  // bit k: row k of the option table was given
};

bool readOrderRow(const char* text, Options* options) {
    const char* colon = strchr(text, ':');
    int64_t order = 0, row = 0;
    if (!readDigits(text, colon ? colon : text + strlen(text), &order) || order > 255) return false;
    if (colon && (!readDigits(colon + 1, colon + strlen(colon), &row) || row > 255)) return false;
    options->startOrder = static_cast<int32_t>(order);
    options->startRow = static_cast<int32_t>(row);
    return true;
}

// "stop", "loop", "fade" or "fade:SECONDS" (up to ten minutes, to the millisecond).
bool readEnd(const char* text, Options* options) {
    if (strcmp(text, "stop") == 0 || strcmp(text, "loop") == 0) {
        options->end = text[0] == 's' ? BROM_END_STOP : BROM_END_LOOP;
        return true;
    }
    if (strncmp(text, "fade", 4) != 0 || (text[4] != '\0' && text[4] != ':')) return false;
    int64_t ms = DEFAULT_FADE_MS;
    if (text[4] == ':' && (!readTimeMs(text + 5, &ms) || ms < 1 || ms > BROM_LONGEST_FADE_MS)) {
        return false;
    }
    options->end = BROM_END_FADE;
    options->fadeMs = static_cast<int32_t>(ms);
    return true;
}

// What an option does with its value (null for an option without one); false when the value is
// malformed.
using ApplyOption = bool (*)(CommandLine* line, const char* value);

// The modes an option counts in, as bits of 1 << Mode.
constexpr uint8_t FOR_PLAY = 1, FOR_INFO = 2, FOR_TRACE = 4, FOR_RENDER = 8, FOR_STEMS = 16;
constexpr uint8_t FOR_ALL = FOR_PLAY | FOR_INFO | FOR_TRACE | FOR_RENDER | FOR_STEMS;
constexpr uint8_t FOR_FILES = FOR_RENDER | FOR_STEMS;
constexpr uint8_t FOR_SOUND = FOR_PLAY | FOR_FILES;

struct OptionRow {
    const char* name;
    bool takesValue;
    ApplyOption apply;
    const char* expected;  // what a good value looks like, for the message
    uint8_t modes = FOR_ALL;
};

bool chooseMode(CommandLine* line, Mode mode) {
    if (line->modeChosen && line->options->mode != mode) line->modeClash = true;
    line->options->mode = mode;
    line->modeChosen = true;
    return true;
}

const OptionRow OPTION_TABLE[] = {
    {"--info", false, [](CommandLine* l, const char*) { return chooseMode(l, Mode::INFO); }, ""},
    {"--json", false,
     [](CommandLine* l, const char*) {
         return chooseMode(l, Mode::INFO) && (l->options->json = true);
     },
     ""},
    {"--trace", false, [](CommandLine* l, const char*) { return chooseMode(l, Mode::TRACE); }, ""},
    {"--render", true,
     [](CommandLine* l, const char* v) {
         return chooseMode(l, Mode::RENDER) && (l->options->renderOut = v);
     },
     "an output file, - or a folder"},
    {"--stems", true,
     [](CommandLine* l, const char* v) {
         return chooseMode(l, Mode::STEMS) && (l->options->stemsDir = v);
     },
     "a folder"},
    {"--stems-by", true,
     [](CommandLine* l, const char* v) {
         const bool instrument = strcmp(v, "instrument") == 0;
         l->options->stemsByInstrument = instrument;
         return instrument || strcmp(v, "channel") == 0;
     },
     "channel or instrument", FOR_STEMS},
    {"--rate", true,
     [](CommandLine* l, const char* v) { return readInt32(v, 8000, 192000, &l->options->rate); },
     "a rate from 8000 to 192000 Hz", FOR_SOUND},
    {"--profile", true,
     [](CommandLine* l, const char* v) {
         PlayProfile profile;
         return profileNamed(v, &profile) && (l->options->profile = v);
     },
     "brom (or default) or ft2"},
    {"--float", false, [](CommandLine* l, const char*) { return l->options->floatSamples = true; },
     "", FOR_FILES},
    {"--format", true,
     [](CommandLine* l, const char* v) {
         Encoding encoding;
         return encodingByName(v, &encoding) && (l->options->format = v);
     },
     "wav, flac, opus or mp3", FOR_RENDER},
    {"--quality", true,
     [](CommandLine* l, const char* v) { return readInt32(v, 0, 510, &l->options->quality); },
     "a FLAC level 0..8, or kbit/s for Opus and MP3", FOR_RENDER},
    {"--repeat", true,
     [](CommandLine* l, const char* v) { return readInt32(v, -1, 1000000, &l->options->repeat); },
     "a count of passes, -1 or more", FOR_SOUND},
    {"--start", true, [](CommandLine* l, const char* v) { return readOrderRow(v, l->options); },
     "ORDER or ORDER:ROW, counted from 0", FOR_SOUND},
    {"--seek", true,
     [](CommandLine* l, const char* v) { return readTimeMs(v, &l->options->seekMs); },
     "seconds, or m:ss[.fff]", FOR_SOUND},
    {"--seconds", true,
     [](CommandLine* l, const char* v) { return readDecimal(v, 0, 1e9, &l->options->seconds); },
     "a number of seconds", FOR_SOUND},
    {"--mute", true, [](CommandLine* l, const char* v) { return readChannelList(v, &l->mute); },
     "channels from 1 to 32, as in 1,3,5-8", FOR_SOUND},
    {"--solo", true, [](CommandLine* l, const char* v) { return readChannelList(v, &l->solo); },
     "channels from 1 to 32, as in 1,3,5-8", FOR_SOUND},
    {"--gain", true,
     [](CommandLine* l, const char* v) { return readDecimal(v, -60, 24, &l->options->gainDb); },
     "decibels from -60 to 24", FOR_SOUND},
    {"--stereo", true,
     [](CommandLine* l, const char* v) { return readInt32(v, 0, 200, &l->options->stereo); },
     "a percentage from 0 to 200", FOR_SOUND},
    {"--jobs", true,
     [](CommandLine* l, const char* v) { return readInt32(v, 1, 1024, &l->options->jobs); },
     "a count from 1 to 1024", FOR_RENDER},
    {"--force", false, [](CommandLine* l, const char*) { return l->options->force = true; }, "",
     FOR_FILES},
    {"--threads", true,
     [](CommandLine* l, const char* v) { return readInt32(v, 1, 16, &l->options->threads); },
     "a count from 1 to 16", FOR_SOUND},
    {"--subsong", true,
     [](CommandLine* l, const char* v) {
         int32_t number = 0;
         if (!readInt32(v, 1, 256, &number)) return false;
         l->options->subsong = number - 1;
         return true;
     },
     "a subsong from 1", FOR_SOUND},
    {"--subsongs", true,
     [](CommandLine* l, const char* v) {
         return strcmp(v, "all") == 0 && (l->options->allSubsongs = true);
     },
     "all", FOR_RENDER},
    {"--end", true, [](CommandLine* l, const char* v) { return readEnd(v, l->options); },
     "stop, loop, fade or fade:SECONDS (at most 600)", FOR_SOUND},
    {"--ticks", true,
     [](CommandLine* l, const char* v) {
         return readInteger(v, 0, INT64_C(1) << 40, &l->options->ticks);
     },
     "a count of ticks", FOR_TRACE},
    {"--interpolation", true,
     [](CommandLine* l, const char* v) {
         return readChoice(v, INTERPOLATION_NAMES, 4, &l->options->interpolation);
     },
     "nearest, linear, cubic or sinc", FOR_SOUND | FOR_INFO},
    {"--amiga", true,
     [](CommandLine* l, const char* v) {
         return readChoice(v, AMIGA_NAMES, 3, &l->options->amiga);
     },
     "off, a500 or a1200", FOR_SOUND | FOR_INFO},
};

const OptionRow* findOption(const char* name) {
    for (const OptionRow& row : OPTION_TABLE) {
        if (strcmp(row.name, name) == 0) return &row;
    }
    return nullptr;
}

// One line saying what is wrong, then the usage.
ParseResult usageError(const char* what, const char* arg = "", const char* value = "",
                       const char* expected = "") {
    fprintf(stderr, "brom-play: %s%s%s%s%s%s\n", arg, *value ? " " : "", value, *arg ? ": " : "",
            what, expected);
    fputs(USAGE, stderr);
    return ParseResult::USAGE_ERROR;
}

// Options that do nothing in the chosen mode get one line each, and are left out.
void warnUnused(const CommandLine& line) {
    const uint8_t mode = static_cast<uint8_t>(1u << static_cast<unsigned>(line.options->mode));
    for (size_t k = 0; k < std::size(OPTION_TABLE); ++k) {
        const OptionRow& row = OPTION_TABLE[k];
        if (!((line.given >> k) & 1) || (row.modes & mode)) continue;
        const char* where = row.modes == FOR_RENDER  ? "--render"
                            : row.modes == FOR_STEMS ? "--stems"
                            : row.modes == FOR_FILES ? "--render and --stems"
                            : row.modes == FOR_TRACE ? "--trace"
                                                     : "playing, --render and --stems";
        fprintf(stderr, "brom-play: %s counts only for %s; left out\n", row.name, where);
    }
}

// --render OUT: "-" is standard output; a name ending in a separator, or an existing folder, is a
// folder (made when missing); a name with an audio extension, a device or a pipe is a file, for
// one input only.
ParseResult checkRenderOut(Options* options) {
    const char* out = options->renderOut;
    const size_t inputs = options->files.size();
    if (strcmp(out, "-") == 0) {
        if (inputs > 1) return usageError("--render - takes one file; give a folder for several");
        return ParseResult::RUN;
    }
    const size_t length = strlen(out);
    std::error_code error;
    const bool separator = length > 0 && (out[length - 1] == '/' || out[length - 1] == '\\');
    if (separator || std::filesystem::is_directory(out, error)) {
        options->renderFolder = true;
        return ParseResult::RUN;
    }
    // A device or a pipe (/dev/stdout, /dev/null) takes what it is given.
    const std::filesystem::file_status kind = std::filesystem::status(out, error);
    const bool special = std::filesystem::exists(kind) && !std::filesystem::is_regular_file(kind);
    if (!hasAudioExtension(out) && !special) {
        return usageError(
            "is neither an audio file (.wav, .flac, .opus, .mp3) nor a folder (end a folder's name "
            "with /)",
            "--render", out);
    }
    if (inputs > 1) {
        return usageError("is one file: give a folder (ending in /) for several inputs", "--render",
                          out);
    }
    return ParseResult::RUN;
}

// What the options say together, once all are read.
ParseResult checkTogether(const CommandLine& line) {
    Options* options = line.options;
    options->mutedChannels = (line.solo ? ~line.solo : 0) | line.mute;
    options->soloChannels = line.solo;
    options->muteChannels = line.mute;
    if (line.modeClash) return usageError("choose one of --info, --render, --stems and --trace");
    if (options->files.empty()) return usageError("no input file");
    if (options->mode == Mode::TRACE && options->files.size() > 1) {
        return usageError("--trace takes one file");
    }
    if (options->mode == Mode::STEMS && options->files.size() > 1) {
        return usageError("--stems takes one file");
    }
    if (options->mode == Mode::RENDER && checkRenderOut(options) != ParseResult::RUN) {
        return ParseResult::USAGE_ERROR;
    }
    if (options->startOrder >= 0 && options->seekMs >= 0) {
        return usageError("--start and --seek both say where to begin: give one");
    }
    if ((options->mode == Mode::RENDER || options->mode == Mode::STEMS) && options->repeat < 0 &&
        options->seconds < 0) {
        return usageError("--repeat -1 never ends: --render and --stems need --seconds with it");
    }
    if (options->mode == Mode::RENDER && options->end == BROM_END_LOOP && options->seconds < 0) {
        return usageError("--end loop never ends: --render needs --seconds with it");
    }
    if (options->allSubsongs && options->subsong >= 0) {
        return usageError("--subsong and --subsongs all both say what to play: give one");
    }
    if (options->allSubsongs && options->mode == Mode::RENDER && !options->renderFolder) {
        return usageError("--subsongs all renders a file for each subsong: give a folder");
    }
    warnUnused(line);
    return ParseResult::RUN;
}

}  // namespace

ParseResult parseCommandLine(int argc, char** argv, Options* options) {
    CommandLine line = {options, 0, 0, false, false, 0};
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (optionsEnded || arg[0] != '-' || arg[1] == '\0') {
            options->files.push_back(arg);
            continue;
        }
        if (strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (strcmp(arg, "--help") == 0 || strcmp(arg, "-h") == 0) {
            fputs(USAGE, stdout);
            fputs(KEYS_USAGE, stdout);
            return ParseResult::DONE;
        } else if (strcmp(arg, "--version") == 0) {
            printf("brom-play %s\n", brom_version());
            return ParseResult::DONE;
        } else if (const OptionRow* row = findOption(arg)) {
            if (row->takesValue && i + 1 >= argc) {
                return usageError("needs a value: ", arg, "", row->expected);
            }
            const char* value = row->takesValue ? argv[++i] : "";
            if (!row->apply(&line, value)) {
                return usageError("expected ", arg, value, row->expected);
            }
            line.given |= uint32_t{1} << (row - OPTION_TABLE);
        } else {
            return usageError("unknown option", arg);
        }
    }
    return checkTogether(line);
}
