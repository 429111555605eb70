// A small S3M writer: describe a Scream Tracker 3 module as plain records and get the file's
// bytes. The tests and the fuzz corpus build their S3M files with it.
//
//     S3mSong s3m = makeS3mSong(4, 1);                     // 4 channels, one pattern
//     s3mCellAt(s3m, 0, 0, 0) = {s3mNote(4, 0), 1, 32, 'D' - 64, 0x04};   // C-4, D04
//     s3m.samples.push_back(makeS3mSample(s3mSquare(64, 16, 60), 0, 64)); // looped 0..64
//     std::vector<uint8_t> bytes = writeS3m(s3m);
//
// The layout is the one Scream Tracker writes: header, orders, pointer tables, pan table, then
// the instrument headers, the packed patterns and the sample data, each on a 16-byte paragraph.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

constexpr int S3M_ROWS = 64;

struct S3mCell {
    uint8_t note = 255;  // octave << 4 | semitone, 254 cuts, 255 none
    uint8_t instrument = 0;
    uint8_t volume = 255;  // 0..64, 255 none
    uint8_t command = 0;  // 1..26 for A..Z, 0 none
    uint8_t param = 0;
};

struct S3mSample {
    uint8_t type = 1;  // 0 empty, 1 sample, 2..7 AdLib
    std::string name;
    std::string fileName;
    // Signed frames in the sample's width (-128..127, or -32768..32767 when sixteenBit); the
    // writer stores them signed or unsigned as the song's sampleFormat says.
    std::vector<int16_t> data;
    std::vector<int16_t> right;  // a stereo sample's right channel (as long as data)
    bool sixteenBit = false;
    bool loop = false;
    uint32_t loopStart = 0;
    uint32_t loopEnd = 0;  // one past the loop's last frame
    uint8_t volume = 64;
    uint32_t middleC = 8363;
    uint8_t pack = 0;
    int64_t lengthOverride = -1;  // written instead of the data's length when >= 0
};

struct S3mSong {
    std::string title = "test";
    uint16_t trackerVersion = 0x1320;  // Scream Tracker 3.20
    uint16_t sampleFormat = 2;  // 1 signed, 2 unsigned
    uint16_t flags = 0;
    uint8_t type = 16;
    uint8_t globalVolume = 64;
    uint8_t speed = 6;
    uint8_t tempo = 125;
    uint8_t masterVolume = 0x80 | 48;  // stereo
    uint8_t channelSettings[32];  // makeS3mSong fills them: left, right, left, ... then 255
    bool panTable = false;  // written with 252 at byte 53 when true
    uint8_t pans[32] = {};
    std::vector<uint8_t> orders{0};
    std::vector<S3mSample> samples;
    std::vector<std::vector<S3mCell>> patterns;  // 64 rows x 32 channels each, row by row
    // Counts written instead of the real ones when >= 0 (the tables keep their real sizes).
    int orderCountOverride = -1;
    int instrumentCountOverride = -1;
    int patternCountOverride = -1;
    uint32_t paddingBeforeData = 0;  // zero bytes before the sample data (for 24-bit pointers)
};

// A song with `channels` channels (left, right, left, ...) and `patternCount` empty patterns
// played in order.
S3mSong makeS3mSong(int channels, int patternCount);
S3mCell& s3mCellAt(S3mSong& song, int pattern, int row, int channel);
constexpr uint8_t s3mNote(int octave, int semitone) {
    return static_cast<uint8_t>(octave << 4 | semitone);
}
// A command letter's number: s3mCommand('D') is 4.
constexpr uint8_t s3mCommand(char letter) { return static_cast<uint8_t>(letter - 'A' + 1); }
// An 8-bit sample of `data` looped over loopStart..loopEnd (loopEnd 0: no loop).
S3mSample makeS3mSample(std::vector<int16_t> data, uint32_t loopStart, uint32_t loopEnd);
// `count` frames of a square wave of `period` frames at +-`amplitude`.
std::vector<int16_t> s3mSquare(int count, int period, int amplitude);

std::vector<uint8_t> writeS3m(const S3mSong& song);
