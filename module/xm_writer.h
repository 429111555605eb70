// A small XM writer: describe a module as plain records and get the file's bytes. The tests build
// the modules they load with it, and the song composer writes the demo's music with it.
//
//     XmSong song = makeXmSong(4, 1);             // 4 channels, one 64-row pattern
//     cellAt(song.patterns[0], 4, 0, 0) = {49, 1, 0, 0, 0};
//     song.instruments.push_back(makeInstrument(makeSample(sineFrames(64), true)));
//     std::vector<uint8_t> bytes = writeXm(song);
//
// Version 1.04 is written by default; a version before it (`version = 0x0102`, `0x0103`) writes the
// older layout (every instrument's headers first, then the patterns, then all the sample data; in
// 1.02 an 8-byte pattern header with the row count less one in one byte). The override fields write
// headers that disagree with the data, for the tests of damaged files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct XmCell {
    uint8_t note;  // 1..96, 97 key-off
    uint8_t instrument;
    uint8_t volumeColumn;
    uint8_t effect;
    uint8_t param;
};

enum class XmPacking {
    Mixed,  // a mask byte before each cell, plain 5 bytes when all fields are set (as trackers do)
    Mask,  // a mask byte before every cell
    Plain,  // 5 plain bytes for every cell
    Empty,  // packed size 0 and no data
};

struct XmPattern {
    int rows = 64;
    std::vector<XmCell> cells;  // rows x channels, row by row
    XmPacking packing = XmPacking::Mixed;
    int storedRows = -1;  // rows whose cells are written; -1: all
    uint32_t headerLength = 0;  // 0: the fields' own 9 bytes (8 in 1.02); zeros pad a longer one
    int64_t packedSizeOverride = -1;  // written instead of the data's size when >= 0
};

struct XmEnvelopePoint {
    uint16_t position;
    uint16_t value;
};

struct XmSample {
    std::vector<int16_t> frames;  // plain values; 8-bit samples keep -128..127
    bool sixteenBit = false;
    uint8_t loopType = 0;  // type byte bits 0-1: 0 none, 1 forward, 2 ping-pong
    uint32_t loopStart = 0;  // frames
    uint32_t loopLength = 0;  // frames
    uint8_t volume = 64;
    int8_t finetune = 0;
    uint8_t panning = 128;
    int8_t relativeNote = 0;
    std::string name;
    // When set, written as the header's length field (in bytes) instead of the real data size.
    int64_t lengthBytesOverride = -1;
};

struct XmInstrument {
    std::string name;
    std::vector<XmSample> samples;
    uint8_t noteSampleMap[96] = {};
    std::vector<XmEnvelopePoint> volumeEnvelope;  // up to 12 points are written
    std::vector<XmEnvelopePoint> panningEnvelope;
    uint8_t volumePointCountOverride = 0xFF;  // 0xFF: the number of points given
    uint8_t panningPointCountOverride = 0xFF;
    uint8_t volumeSustain = 0, volumeLoopStart = 0, volumeLoopEnd = 0;
    uint8_t panningSustain = 0, panningLoopStart = 0, panningLoopEnd = 0;
    uint8_t volumeFlags = 0;  // bit 0 on, bit 1 sustain, bit 2 loop
    uint8_t panningFlags = 0;
    uint8_t vibratoType = 0, vibratoSweep = 0, vibratoDepth = 0, vibratoRate = 0;
    uint16_t fadeout = 0;  // the file's value (the loader doubles it)
    uint32_t headerSize = 0;  // 0: 263 with samples, 29 without
    int64_t headerSizeOverride = -1;  // written instead of headerSize when >= 0
    int sampleCountOverride = -1;  // written instead of samples.size() when >= 0
};

struct XmSong {
    uint16_t version = 0x0104;
    std::string name = "test";
    int channels = 4;
    int songLength = -1;  // -1: orders.size()
    int restartPosition = 0;
    uint16_t flags = 1;  // bit 0: linear frequency table
    int speed = 6;
    int bpm = 125;
    std::vector<uint8_t> orders{0};
    std::vector<XmPattern> patterns;
    std::vector<XmInstrument> instruments;
    uint32_t headerSize = 276;
    int patternCountOverride = -1;  // written instead of patterns.size() when >= 0
    int instrumentCountOverride = -1;
    int channelCountOverride = -1;
};

// A song with `channels` channels and `patternCount` empty 64-row patterns played in order.
XmSong makeXmSong(int channels, int patternCount);
// An empty pattern of `rows` rows for `channels` channels.
XmPattern makePattern(int rows, int channels);
XmCell& cellAt(XmPattern& pattern, int channels, int row, int channel);
// A sample and an instrument that plays it on every note.
XmSample makeSample(std::vector<int16_t> frames, bool sixteenBit);
XmInstrument makeInstrument(XmSample sample);
// `count` frames of a sine of `period` frames at `amplitude`.
std::vector<int16_t> sineFrames(int count, int period, int amplitude);

// Where writeXm put each structure, for tests that cut or alter a file at its boundaries.
struct XmLayout {
    std::vector<size_t> patterns;  // each pattern header
    std::vector<size_t> instruments;  // each instrument header
    std::vector<size_t> sampleData;  // each instrument's first sample data byte
    size_t end = 0;
};

std::vector<uint8_t> writeXm(const XmSong& song, XmLayout* layout = nullptr);
