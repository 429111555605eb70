// A small Impulse Tracker writer: describe a module as plain records and get the file's bytes,
// with the tracker's sample compressor so that compressed samples round-trip. The tests and the
// fuzz corpus build their IT files with it.
//
//     ItSong song = makeItSong(4, 1);                    // 4 channels, one 64-row pattern
//     itCellAt(song, 0, 0, 0) = {60, 1, 64, 0, 0};       // C-5, instrument 1, volume 64
//     song.samples.push_back(makeItSample(sineFrames(64, 16, 100), true));
//     song.instruments.push_back(makeItInstrument(1));   // every note on sample 1
//     std::vector<uint8_t> bytes = writeIt(song);
//
// `compatibleWith` below 0x200 writes the instruments in the old layout (what of them it holds:
// the volume envelope as node pairs, the NNA, a duplicate-note switch, the fadeout).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

// Notes as the file numbers them: 0..119 (C-0..B-9), 255 off, 254 cut; -1 none.
struct ItCell {
    int16_t note = -1;
    uint8_t instrument = 0;  // 0 none
    int16_t volume = -1;  // the volume-column byte, -1 none
    uint8_t effect = 0;  // 1..26 for A..Z, 0 none
    uint8_t param = 0;
};

struct ItPattern {
    int rows = 64;
    std::vector<ItCell> cells;  // rows x the song's channels, row by row
    // Write repeated values with the "as last time" mask bits and masks with the "same mask"
    // marker, as the tracker does; false writes every value.
    bool repeatForms = true;
    bool empty = false;  // offset 0: the tracker's empty 64 rows
};

struct ItEnvelopePoint {
    int8_t value;
    uint16_t tick;
};

struct ItEnvelope {
    uint8_t flags = 0;  // 1 on, 2 loop, 4 sustain loop, 8 carry, 128 filter (pitch)
    std::vector<ItEnvelopePoint> points;
    uint8_t loopStart = 0, loopEnd = 0, sustainStart = 0, sustainEnd = 0;
    int countOverride = -1;  // written instead of points.size() when >= 0
};

struct ItSample {
    std::vector<int16_t> frames;  // plain values: 8-bit samples keep -128..127
    std::vector<int16_t> right;  // a stereo sample's second channel, as long as frames
    bool sixteenBit = false;
    bool compressed = false;
    bool doubleDelta = false;  // compressed: the 2.15 form
    bool signedData = true;  // false: stored unsigned, as before 2.02
    bool deltaData = false;  // plain data stored as differences
    bool bigEndian = false;
    bool loop = false, pingPong = false;
    uint32_t loopStart = 0, loopEnd = 0;
    bool sustain = false, sustainPingPong = false;
    uint32_t sustainStart = 0, sustainEnd = 0;
    uint32_t middleCRate = 8363;
    uint8_t volume = 64;
    uint8_t globalVolume = 64;
    int panning = -1;  // 0..64, -1 none
    uint8_t vibratoSpeed = 0, vibratoDepth = 0, vibratoRate = 0, vibratoType = 0;
    std::string name;
    int64_t lengthOverride = -1;  // written instead of the frame count when >= 0
    int64_t dataOffsetOverride = -1;
};

struct ItInstrument {
    std::string name;
    uint8_t newNoteAction = 0;
    uint8_t duplicateCheck = 0;
    uint8_t duplicateAction = 0;
    uint16_t fadeout = 0;
    int8_t pitchPanSeparation = 0;
    uint8_t pitchPanCentre = 60;
    uint8_t globalVolume = 128;
    int panning = -1;  // 0..64, -1 none
    uint8_t randomVolume = 0, randomPanning = 0;
    int filterCutoff = -1, filterResonance = -1;  // 0..127, -1 none
    uint8_t keyboard[120][2] = {};  // note to play, sample (1-based, 0 none)
    ItEnvelope volumeEnvelope, panningEnvelope, pitchEnvelope;
};

struct ItSong {
    std::string title = "test";
    uint16_t createdWith = 0x0214, compatibleWith = 0x0214;
    uint16_t flags = 1 | 4 | 8;  // stereo, instruments, linear slides
    uint8_t globalVolume = 128, mixVolume = 48, speed = 6, tempo = 125, separation = 128;
    int channels = 4;  // the cells' width; the file itself has 64 channel settings
    uint8_t channelPanning[64];
    uint8_t channelVolume[64];
    std::vector<uint8_t> orders{0, 255};
    std::string message;  // '\n' written as '\r'
    std::vector<uint8_t> midiConfig;  // 4896 bytes embedded when not empty
    bool editHistory = false;  // writes an edit history of two entries before the macros
    std::vector<ItInstrument> instruments;
    std::vector<ItSample> samples;
    std::vector<ItPattern> patterns;
    int orderCountOverride = -1, instrumentCountOverride = -1, sampleCountOverride = -1,
        patternCountOverride = -1;
};

// `channels` channels, `patternCount` empty 64-row patterns played in order, instrument mode.
ItSong makeItSong(int channels, int patternCount);
ItCell& itCellAt(ItSong& song, int pattern, int row, int channel);
ItSample makeItSample(std::vector<int16_t> frames, bool looped);
// An instrument playing every note as it is on sample `sample` (1-based).
ItInstrument makeItInstrument(int sample);

std::vector<uint8_t> writeIt(const ItSong& song);
// Where sample `sample`'s (0-based) data starts in what writeIt(song) writes.
size_t itSampleDataOffset(const ItSong& song, int sample);

// The tracker's compressed form of `frames` (8-bit values -128..127 or 16-bit), in blocks.
std::vector<uint8_t> compressItSample(const std::vector<int16_t>& frames, int bits,
                                      bool doubleDelta);
