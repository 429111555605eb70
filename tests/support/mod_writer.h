// A small MOD writer: describe an Amiga module as plain records and get the file's bytes. The
// tests and the fuzz corpus build their MOD files with it.
//
//     ModSong mod = makeModSong(4, 1);               // M.K., 4 channels, one pattern
//     modCellAt(mod, 0, 0, 0) = {modPeriod(2, 0), 1, 0xC, 0x20};   // C-2, sample 1, C20
//     mod.samples[0] = makeModSample(squareWave(64, 16, 60), 0, 32);  // looped from 0, 32 words
//     std::vector<uint8_t> bytes = writeMod(mod);
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ModCell {
    uint16_t period;  // the Amiga period, 0 for none (12 bits are written)
    uint8_t sample;  // 0 none, 1..31
    uint8_t effect;  // 0..F
    uint8_t param;
};

struct ModSample {
    std::string name;
    std::vector<int8_t> data;  // written as it is; its length is rounded down to whole words
    uint8_t finetune = 0;  // the nibble as stored: 0..7 up, 8..15 down
    uint8_t volume = 64;
    uint16_t loopStartWords = 0;
    uint16_t loopLengthWords = 1;  // 1: no loop
    int lengthWordsOverride = -1;  // written instead of the data's length when >= 0
};

struct ModSong {
    std::string title = "test";
    // The four letters at offset 1080; empty writes the 15-sample Soundtracker layout. "FLT8"
    // stores each pattern as two 4-channel halves, as that format does.
    std::string signature = "M.K.";
    int channels = 4;
    std::vector<ModSample> samples = std::vector<ModSample>(31);  // 31 (or 15) headers written
    std::vector<uint8_t> orders{0};  // the order table's first entries; the rest are 0
    int songLengthOverride = -1;  // written instead of orders.size() when >= 0
    uint8_t restart = 127;
    std::vector<std::vector<ModCell>> patterns;  // 64 rows x channels cells each, row by row
};

// A song with `channels` channels and `patternCount` empty patterns played in order, under the
// usual signature for that channel count (M.K., 6CHN, 8CHN, 12CH, ...).
ModSong makeModSong(int channels, int patternCount);
ModCell& modCellAt(ModSong& song, int pattern, int row, int channel);
// ProTracker's period (finetune 0) of `semitone` (0 = C) in `octave` 1..3: C-1 is 856, C-2 428.
uint16_t modPeriod(int octave, int semitone);
// A sample of `data` looped over `loopLengthWords` words from `loopStartWords` (0: no loop).
ModSample makeModSample(std::vector<int8_t> data, uint16_t loopStartWords,
                        uint16_t loopLengthWords);
// `count` bytes of a square wave of `period` bytes at +-`amplitude`.
std::vector<int8_t> squareWave(int count, int period, int amplitude);

std::vector<uint8_t> writeMod(const ModSong& song);
