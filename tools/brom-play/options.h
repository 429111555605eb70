// brom-play's command line: one mode, the input files and the options that shape the sound, read
// into an Options record that every mode takes.
//
//     Options options;
//     switch (parseCommandLine(argc, argv, &options)) {
//         case ParseResult::RUN: ...              // options.mode says what to do
//         case ParseResult::DONE: return 0;       // --help or --version printed
//         case ParseResult::USAGE_ERROR: return 2;  // one line and the usage printed on stderr
//     }
#pragma once

#include <brom/brom.h>

#include <cstdint>
#include <vector>

enum class Mode : uint8_t { PLAY, INFO, TRACE, RENDER, STEMS };

constexpr int32_t DEFAULT_FADE_MS = 10000;  // --end fade

struct Options {
    Mode mode = Mode::PLAY;
    bool json = false;  // --info --json
    const char* renderOut = nullptr;  // --render OUT: a file, "-" or a folder
    bool renderFolder = false;  // OUT is a folder: each input renders to a file of its own there
    const char* stemsDir = nullptr;  // --stems DIR
    bool stemsByInstrument = false;  // --stems-by instrument
    bool force = false;  // --force: --render may write over existing files (never the inputs)
    std::vector<const char*> files;

    int32_t rate = 44100;
    const char* profile = nullptr;  // --profile brom|default|ft2; null: Brom's own
    bool floatSamples = false;  // --float
    const char* format = nullptr;  // --format wav|flac|opus|mp3; null: by the output's name
    int32_t quality = -1;  // --quality; -1: the format's default
    int32_t repeat = 0;  // passes after the first; -1 without end
    int32_t startOrder = -1;  // --start ORDER[:ROW]; -1 without
    int32_t startRow = 0;
    int64_t seekMs = -1;  // --seek; -1 without
    double seconds = -1;  // --seconds; -1 without
    uint32_t mutedChannels = 0;  // bit c: channel c (from 0) is muted, after --solo and --mute
    uint32_t soloChannels = 0;  // --solo and --mute as given, to check them against each song
    uint32_t muteChannels = 0;
    double gainDb = 0;
    int32_t stereo = 100;
    int32_t jobs = 0;  // --render files at once; 0: one per processor
    int32_t threads = 0;  // threads rendering each module; 0: one per processor (at most 8), or
                          // one each when several files render at once
    int64_t ticks = -1;  // --trace; -1: until the song comes round
    int32_t interpolation = 1;  // --interpolation: a brom_interpolation (1: linear)
    int32_t amiga = 0;  // --amiga: a brom_amiga (0: off)
    int32_t subsong = -1;  // --subsong N, from 0 here (from 1 on the command line); -1: the whole
                           // order list
    bool allSubsongs = false;  // --subsongs all: --render each subsong into a file of its own
    brom_end end = BROM_END_STOP;  // --end
    int32_t fadeMs = DEFAULT_FADE_MS;
};

enum class ParseResult : uint8_t { RUN, DONE, USAGE_ERROR };

ParseResult parseCommandLine(int argc, char** argv, Options* options);

// The keys while playing, as one line (the player's h key shows it).
extern const char KEY_HELP[];

// Whether `path` names an audio file by its extension (".wav"), as --render OUT must to be a file.
bool hasAudioExtension(const char* path);
