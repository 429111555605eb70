// The loaded module: one Song record holds what the file says (header, order table, patterns,
// instruments and samples in playback-ready form) and the sequencer's running state.
//
//     Song* song = readSong("brom-boogie.xm", nullptr, &error);   // null on failure
//     ...
//     releaseSong(song);
//
// Every array is allocated zeroed with calloc and released with free; a zeroed record is a valid
// empty value. The Song owns its patterns, cells, instruments, samples and sample data.
// The loaded module: what the file says, in the engine's own terms, and nothing that changes while
// it plays. A Song is read-only once loaded: any number of players may play one at once, each
// with a playing state of its own (player/player_state.h).
//
//     Song* song = readSong("brom-boogie.xm", nullptr, &error);   // null on failure
//     ...
//     releaseSong(song);
//
// The parts: patterns of cells (notes and the engine's commands, commands.h); a pool of samples
// shared by all instruments; instruments, each with a keyboard mapping its 120 notes to a sample
// of the pool and the note to play, and its envelopes; the order list with its markers; the
// channels' initial volume and panning; the format, whose behaviours (behaviours.h) the player
// follows.
//
// Every array is allocated zeroed with calloc and released with free; a zeroed record is a valid
// empty value. The Song owns its patterns, cells, instruments, samples and sample data.
#pragma once

#include <cstddef>
#include <cstdint>

#include "module/behaviours.h"
#include "module/commands.h"

constexpr uint8_t NOTE_KEY_OFF = 255;
// The note-column events beyond key-off: the note stops at once (S3M's ^^, IT's ^^^), or starts
// fading out (IT).
constexpr uint8_t NOTE_CUT = 254;
constexpr uint8_t NOTE_FADE = 253;
// Notes 1..120 (C-0 to B-9); XM's run to 96.
constexpr int NOTE_COUNT = 120;
constexpr int MAX_SONG_CHANNELS = 64;
constexpr int MAX_INSTRUMENT_SAMPLES = 16;  // the samples one XM instrument holds
constexpr int MAX_SONG_SAMPLES = 4000;  // the pool
constexpr int MAX_ENVELOPE_POINTS = 25;

constexpr uint8_t LOOP_NONE = 1;
constexpr uint8_t LOOP_FORWARD = 2;
constexpr uint8_t LOOP_PINGPONG = 4;

// A sample panning that leaves the channel's panning as it is (MOD channels keep a fixed panning).
constexpr int32_t SAMPLE_PANNING_NONE = -1;

struct NoteCell {
    uint8_t note;  // 0 none, 1..120 a note, NOTE_CUT, NOTE_KEY_OFF
    uint8_t instrument;  // 0 none, else the instrument (or, without instruments, sample) number
    CellCommand volume;  // VolumeCommand
    CellCommand effect;  // Command
    // The cell's note, volume column and effect as the format writes them, for showing the
    // pattern (traces, pattern views, brom_get_cell); the player never reads them. A shownNote of
    // 0 shows `note`.
    uint8_t shownNote;
    uint8_t shownVolume;
    uint8_t shownEffect;
    uint8_t shownParam;
};

struct Pattern {
    int32_t rowCount;
    NoteCell* cells;  // rowCount rows of channelCount cells
};

struct EnvelopePoint {
    uint16_t position;  // ticks from the envelope's start
    int16_t value;  // volume 0..64, panning and pitch -32..32 around their centre
};

constexpr uint8_t ENVELOPE_ON = 1;
constexpr uint8_t ENVELOPE_SUSTAIN = 2;
constexpr uint8_t ENVELOPE_LOOP = 4;
constexpr uint8_t ENVELOPE_CARRY = 8;  // a new note picks the envelope up where the last left it
constexpr uint8_t ENVELOPE_FILTER = 16;  // the pitch envelope drives the filter instead

struct Envelope {
    EnvelopePoint points[MAX_ENVELOPE_POINTS];
    uint8_t pointCount;
    uint8_t flags;  // ENVELOPE_*
    uint8_t loopStart;  // point indices
    uint8_t loopEnd;
    uint8_t sustainStart;  // a sustain point has start = end
    uint8_t sustainEnd;
};

// Names as the file stores them, made printable: bytes below 32 become spaces, trailing spaces
// are removed, and the text always ends with a zero.
constexpr int SONG_NAME_SIZE = 29;  // 28 characters
constexpr int INSTRUMENT_NAME_SIZE = 29;  // 28 characters
constexpr int FILE_NAME_SIZE = 13;  // 12 characters

struct Sample {
    int16_t* data;  // length + 8 frames (guard frames after the end); null when length is 0
    uint32_t length;  // frames
    uint32_t loopStart;  // frames
    uint32_t loopLength;  // frames; never 0 after loading
    uint32_t sustainStart;  // the loop played while the key is held, when sustainMode says so
    uint32_t sustainLength;
    uint32_t middleCRate;  // frames per second of the middle C; 0 where finetune and the
                           // relative note tune the sample (XM, MOD)
    uint8_t volume;  // 0..64
    uint8_t globalVolume;  // 0..64
    int8_t finetune;
    int32_t panning;  // 0..255, or SAMPLE_PANNING_NONE
    uint8_t bits;  // 16 once the data is converted
    uint8_t fileBits;  // 8 or 16, as the file stores the data
    uint8_t loopMode;  // LOOP_NONE, LOOP_FORWARD or LOOP_PINGPONG
    uint8_t sustainMode;  // LOOP_NONE, LOOP_FORWARD or LOOP_PINGPONG
    uint8_t stereo;  // the file stored two channels (the data holds their mix)
    int8_t relativeNote;
    // The sample's own automatic vibrato, where the format has one. Types as XM numbers them
    // (0 sine, 1 square, 2 ramp down, 3 ramp up) and VIBRATO_RANDOM.
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    char name[INSTRUMENT_NAME_SIZE];
    char fileName[FILE_NAME_SIZE];
};

constexpr uint8_t VIBRATO_RANDOM = 4;

// No sample: the keyboard's entry for a note that plays nothing.
constexpr int16_t NO_SAMPLE = -1;

struct KeyboardEntry {
    int16_t sample;  // index in the song's pool, or NO_SAMPLE
    uint8_t note;  // 0-based note to play
};

struct Instrument {
    // The samples the file stores with this instrument: pool indices firstSample and on.
    int32_t firstSample;
    int32_t sampleCount;
    KeyboardEntry keyboard[NOTE_COUNT];
    Envelope volumeEnvelope;
    Envelope panningEnvelope;
    Envelope pitchEnvelope;  // ENVELOPE_FILTER: a filter cutoff envelope
    uint8_t vibratoType;
    uint8_t vibratoSweep;
    uint8_t vibratoDepth;
    uint8_t vibratoRate;
    uint16_t fadeout;  // per tick, out of 65536 (XM: twice the file's value)
    uint8_t globalVolume;  // 0..128
    int16_t defaultPanning;  // 0..255, or -1 for none
    uint8_t newNoteAction;  // NNA_*: what becomes of a note when the channel starts the next
    uint8_t duplicateCheck;  // DUPLICATE_*: which past notes count as the same as a new one
    uint8_t duplicateAction;  // DUPLICATE_ACTION_*: what becomes of them
    int8_t pitchPanSeparation;  // -32..32: panning moves by (note - centre) * this / 8
    uint8_t pitchPanCentre;  // 0-based note 0..119
    uint8_t randomVolume;  // 0..100: the volume varies by up to this percentage
    uint8_t randomPanning;  // 0..64: the panning varies by up to this much (of 64)
    uint8_t filterCutoff;  // bit 7: set; 0..127 below
    uint8_t filterResonance;  // bit 7: set; 0..127 below
    char name[INSTRUMENT_NAME_SIZE];
    char fileName[FILE_NAME_SIZE];
};

// New-note actions: what a note still sounding becomes when its channel starts another.
constexpr uint8_t NNA_CUT = 0;
constexpr uint8_t NNA_CONTINUE = 1;
constexpr uint8_t NNA_NOTE_OFF = 2;
constexpr uint8_t NNA_NOTE_FADE = 3;
// Duplicate checks: past notes of the same channel that match the new one in this...
constexpr uint8_t DUPLICATE_OFF = 0;
constexpr uint8_t DUPLICATE_NOTE = 1;
constexpr uint8_t DUPLICATE_SAMPLE = 2;
constexpr uint8_t DUPLICATE_INSTRUMENT = 3;
// ...are cut, released or faded.
constexpr uint8_t DUPLICATE_ACTION_CUT = 0;
constexpr uint8_t DUPLICATE_ACTION_NOTE_OFF = 1;
constexpr uint8_t DUPLICATE_ACTION_NOTE_FADE = 2;

// The MIDI macros an Impulse Tracker module plays its Z commands through: text such as
// "F0F000z" (hex bytes, 'z' the Z command's value), zero-terminated. Null in the Song: the
// tracker's default set (defaultMidiMacros).
constexpr int MIDI_MACRO_SIZE = 32;
struct MidiMacros {
    char global[9][MIDI_MACRO_SIZE];  // start, stop, tick, note on, note off, volume, pan, ...
    char parametered[16][MIDI_MACRO_SIZE];  // SF0..SFF, played by Z00..Z7F
    char fixed[128][MIDI_MACRO_SIZE];  // Z80..ZFF
};
// Impulse Tracker's own configuration: SF0 sets the filter cutoff, Z80..Z8F the resonance in
// sixteen steps, nothing else.
const MidiMacros* defaultMidiMacros();

struct FileCallbacks;
using SampleDataHook = int (*)(uint8_t* buffer, int byteCount, int bits, int instrumentIndex,
                               int sampleIndex);

// Order list markers: a position to pass over, and the end of the song.
constexpr uint16_t ORDER_SKIP = 0xFFFE;
constexpr uint16_t ORDER_END = 0xFFFF;
constexpr int MAX_ORDERS = 256;

// What the loader repaired in a damaged file or read in an older layout, one short line each
// ("pattern 12 cut short: 17 of 64 rows", "version 1.02 layout"): the first REPAIR_NOTE_SLOTS
// are kept, repairCount counts them all.
constexpr int REPAIR_NOTE_SLOTS = 8;
constexpr int REPAIR_NOTE_SIZE = 64;

// A channel the file switches off: it reads no cells.
constexpr uint8_t CHANNEL_DISABLED = 1;
constexpr uint8_t CHANNEL_SURROUND = 2;

struct Song {
    char title[SONG_NAME_SIZE];
    char tracker[SONG_NAME_SIZE];  // the program that wrote the file, as the file names it
    ModuleFormat format;
    Pattern* patterns;
    Instrument* instruments;
    Sample* samples;  // the pool
    int32_t sampleCount;
    int16_t songLength;
    int16_t restartPosition;
    int16_t channelCount;
    int32_t usedPatternCount;
    int32_t patternCount;
    int16_t instrumentCount;
    int16_t songFlags;  // bit 0: linear frequency table, as the file says
    // Each channel's panning (0..255) at play start: MOD channels sit hard left or right; an XM
    // leaves them all 0, its instruments set the panning.
    uint8_t channelPanning[MAX_SONG_CHANNELS];
    uint8_t channelVolume[MAX_SONG_CHANNELS];  // 0..64
    uint8_t channelFlags[MAX_SONG_CHANNELS];  // CHANNEL_*
    int16_t defaultSpeed;
    int16_t defaultBpm;
    // Pattern numbers, ORDER_SKIP or ORDER_END; entries from songLength on are what the file
    // stores beyond the song.
    uint16_t orderTable[MAX_ORDERS];
    uint8_t initialGlobalVolume;  // 0..64 (0..128 where globalVolumeRange is 128)
    uint8_t globalVolumeRange;  // what full global volume is: 64, or 128 (IT); 0 reads as 64
    // How loud the file asks to be mixed, 16..127 with 48 as the usual value (S3M's master
    // volume); 0 where the format has no such setting.
    uint8_t masterVolume;
    // Behaviours the file asks for beyond its format's row (S3M's header flags and the tracker
    // that saved it; IT's old effects, linked Gxx memory).
    BehaviourSet fileBehaviours;

    // What Impulse Tracker modules add. The message is zero-terminated text with '\n' line
    // ends, or null; the macros are null for the tracker's defaults.
    char* message;
    MidiMacros* midiMacros;
    uint16_t createdWith;  // the tracker version bytes as the file writes them (IT: 0x0214)
    uint16_t compatibleWith;
    uint8_t mixVolume;  // 0..128
    uint8_t panSeparation;  // 0..128: 128 plays the channels' pannings as they are
    uint8_t pitchWheelDepth;
    bool instrumentMode;  // false: the cells name samples (each played through a plain instrument)

    SampleDataHook sampleDataHook;  // used while loading only

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

// What a note plays when its instrument or keyboard names nothing: silence, read-only.
extern const Instrument emptyInstrument;
extern const Sample emptySample;

// Calls `visit(sample, index)` for every sample in the song's pool, in file order.
template <typename Visit>
void forEachSample(const Song* song, Visit visit) {
    for (int32_t i = 0; song->samples && i < song->sampleCount; ++i) visit(&song->samples[i], i);
}

// Grows the pool by `count` zeroed samples; the index of the first, or -1 when memory is short
// or the pool would pass MAX_SONG_SAMPLES. Loaders only: pointers into the pool move.
int32_t addSamples(Song* song, int32_t count);
// The sample instrument `instrument` holds as its `slot`th (0-based), or null.
const Sample* instrumentSample(const Song* song, int instrument, int slot);
// Pattern of order position `order`, or null for a marker, a pattern the song lacks, or a
// position outside the list.
const Pattern* patternAtOrder(const Song* song, int32_t order);

// Opens `path` through the registered file callbacks and reads the module into a new Song; null
// on any failure, with the reason in *error (error may be null).
Song* readSong(const char* path, SampleDataHook hook, LoadError* error);
// The same through the given set of file callbacks, whatever is registered (null: readSong).
Song* readSongWith(const FileCallbacks* files, const char* path, SampleDataHook hook,
                   LoadError* error);
// Releases the song and everything it owns. Nothing may play it any more: freeSong, of the audio
// engine, makes sure of that first.
void releaseSong(Song* song);
