// The loaded module: one Song record holds what the file says (header, order table, patterns,
// instruments and samples in playback-ready form) and the sequencer's running state.
//
//     Song* song = readSong("brom-boogie.xm", nullptr, &error);   // null on failure
//     ...
//     releaseSong(song);
//
// Every array is allocated zeroed with calloc and released with free; a zeroed record is a valid
// empty value. The Song owns its patterns, cells, instruments, samples and sample data.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr uint8_t NOTE_KEY_OFF = 255;
constexpr int MAX_SONG_CHANNELS = 32;
constexpr int MAX_INSTRUMENT_SAMPLES = 16;
constexpr int MAX_ENVELOPE_POINTS = 12;  // points an instrument loads from the file

constexpr uint8_t LOOP_NONE = 1;
constexpr uint8_t LOOP_FORWARD = 2;
constexpr uint8_t LOOP_PINGPONG = 4;

// A sample panning that leaves the channel's panning as it is (MOD channels keep a fixed panning).
constexpr int32_t SAMPLE_PANNING_NONE = -1;

struct NoteCell {
    uint8_t note;  // 0 none, 1..96 a note, NOTE_KEY_OFF
    uint8_t instrument;  // 0 none, 1..128
    uint8_t volumeColumn;
    uint8_t effect;
    uint8_t param;
};

struct Pattern {
    int32_t rowCount;
    NoteCell* cells;  // rowCount rows of channelCount cells
};

struct EnvelopePoint {
    uint16_t position;  // ticks from the envelope's start
    uint16_t value;
};

// Names as the file stores them, made printable: bytes below 32 become spaces, trailing spaces
// are removed, and the text always ends with a zero.
constexpr int SONG_NAME_SIZE = 21;  // 20 characters
constexpr int INSTRUMENT_NAME_SIZE = 23;  // 22 characters

struct Sample {
    int16_t* data;  // length + 8 frames (guard frames after the end); null when length is 0
    uint32_t length;  // frames
    uint32_t loopStart;  // frames
    uint32_t loopLength;  // frames; never 0 after loading
    uint8_t volume;  // 0..64
    int8_t finetune;
    int32_t panning;  // 0..255, or SAMPLE_PANNING_NONE
    uint8_t bits;  // 16 once the data is converted
    uint8_t fileBits;  // 8 or 16, as the file stores the data
    uint8_t loopMode;  // LOOP_NONE, LOOP_FORWARD or LOOP_PINGPONG
    int8_t relativeNote;
    char name[INSTRUMENT_NAME_SIZE];
};

struct Instrument {
    int32_t sampleCount;
    Sample* samples[MAX_INSTRUMENT_SAMPLES];  // slots at or above sampleCount hold &emptySample
    uint8_t noteSampleMap[96];
    EnvelopePoint volumePoints[20];
    EnvelopePoint panningPoints[20];
    uint8_t volumePointCount;
    uint8_t panningPointCount;
    uint8_t volumeSustainPoint;
    uint8_t volumeLoopStart;
    uint8_t volumeLoopEnd;
    uint8_t panningSustainPoint;
    uint8_t panningLoopStart;
    uint8_t panningLoopEnd;
    uint8_t volumeEnvelopeFlags;  // bit 0 on, bit 1 sustain, bit 2 loop
    uint8_t panningEnvelopeFlags;
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeout;  // twice the file's value
    char name[INSTRUMENT_NAME_SIZE];
};

constexpr uint8_t ENVELOPE_ON = 1;
constexpr uint8_t ENVELOPE_SUSTAIN = 2;
constexpr uint8_t ENVELOPE_LOOP = 4;

struct Song;
struct PlayerState;
struct FileCallbacks;
using SongHandler = void (*)(Song* song);
using SampleDataHook = int (*)(uint8_t* buffer, int byteCount, int bits, int instrumentIndex,
                               int sampleIndex);

// Rows a song can remember having played, for the first-repeat detection: 256 order positions of
// up to 256 rows each, one bit per row.
constexpr int PLAYED_ROW_BYTES = 256 * 256 / 8;

// What the loader repaired in a damaged file or read in an older layout, one short line each
// ("pattern 12 cut short: 17 of 64 rows", "version 1.02 layout"): the first REPAIR_NOTE_SLOTS
// are kept, repairCount counts them all.
constexpr int REPAIR_NOTE_SLOTS = 8;
constexpr int REPAIR_NOTE_SIZE = 64;

struct Song {
    char title[SONG_NAME_SIZE];
    char tracker[SONG_NAME_SIZE];  // the program that wrote the file, as the file names it
    Pattern* patterns;
    Instrument* instruments;
    int32_t tickSamplesLeft;
    int32_t samplesPerTick;
    int16_t songLength;
    int16_t restartPosition;
    int16_t channelCount;
    int32_t usedPatternCount;
    int32_t patternCount;
    int16_t instrumentCount;
    int16_t songFlags;  // bit 0: linear frequency table, as the file says
    // 1 when the song follows ProTracker where it and FastTracker 2 differ (set by the MOD loader
    // for the behaviours MOD files rely on; each use in player/ says which).
    uint8_t protrackerRules;
    // Each channel's panning (0..255) at play start: MOD channels sit hard left or right; an XM
    // leaves them all 0, its instruments set the panning.
    uint8_t channelPanning[MAX_SONG_CHANNELS];
    int16_t defaultSpeed;
    int16_t defaultBpm;
    uint8_t orderTable[256];
    uint8_t initialGlobalVolume;
    int32_t globalVolume;
    uint8_t globalVolumeSlideMemory;
    int32_t tick;
    int32_t speed;
    int32_t bpm;
    int32_t row;
    int32_t orderPosition;
    int32_t patternDelayTicks;
    int32_t nextRow;
    int32_t nextOrderPosition;
    int32_t songTimeMs;
    SongHandler startHandler;
    SongHandler tickHandler;
    SampleDataHook sampleDataHook;

    // First-repeat detection, kept by the sequencer from play start: a bit per (order, row) played,
    // and 1 once a row start has reached a pair already played.
    uint8_t playedRows[PLAYED_ROW_BYTES];
    uint8_t hasRepeated;

    // The player's own state of this song (channels, row bookkeeping, the voices it drives): a
    // plain record the player allocates with calloc when the song is first started; null before.
    // Released with the song.
    PlayerState* player;

    char repairNotes[REPAIR_NOTE_SLOTS][REPAIR_NOTE_SIZE];
    int32_t repairCount;
};

// Why a load failed: the kind of fault and one short line of text ("" after a success).
enum class LoadFailure : uint8_t {
    NONE,
    CANNOT_OPEN,
    NOT_A_MODULE,
    DAMAGED,
    TRUNCATED,
    OUT_OF_MEMORY
};
struct LoadError {
    LoadFailure kind;
    const char* reason;
};

// Copies `count` name bytes of a file into `out` (`size` bytes) made printable, as the names above.
void copyName(char* out, size_t size, const uint8_t* bytes, int count);

extern Instrument emptyInstrument;
extern Sample emptySample;

// Opens `path` through the registered file callbacks and reads the module into a new Song; null
// on any failure, with the reason in *error (error may be null). The song has no tick handler
// yet: the player gives it one (loadPlayableSong).
Song* readSong(const char* path, SampleDataHook hook, LoadError* error);
// The same through the given set of file callbacks, whatever is registered (null: readSong).
Song* readSongWith(const FileCallbacks* files, const char* path, SampleDataHook hook,
                   LoadError* error);
// Releases the song and everything it owns. Nothing may play it any more: freeSong, of the audio
// engine, makes sure of that first.
void releaseSong(Song* song);
