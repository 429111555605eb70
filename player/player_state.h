// The playing state: everything that changes while a song plays, apart from the song itself,
// which stays read-only. One PlayState per playback; a snapshot of a playback (for seeking,
// measuring, rewinding the parallel renderer) is a plain copy of it and of the voices it drives.
//
//     PlayState* state = createPlayState(song);    // zeroed, bound to the read-only song
//     startSongPosition(state, voices, 44100);     // play start
//     playerTick(state);                           // one tick; samplesPerTick frames apart
//     destroyPlayState(state);
//
// The parts: the position (order, row, tick, what comes next), tempo and global volume, the
// first-repeat record, the per-sample finetunes that the set-finetune command changes, the
// channels (one per song channel) and the background channels (notes that go on sounding after
// their channel started another; voice_pool.h), and the voices they all drive.
#pragma once

#include <cstdint>

#include "module/behaviours.h"
#include "module/song.h"
#include "player/voice.h"

constexpr int MAX_PLAYER_CHANNELS = MAX_SONG_CHANNELS;
constexpr int BACKGROUND_CHANNELS = 64;

constexpr uint8_t UPDATE_PITCH = 1;
constexpr uint8_t UPDATE_VOLUME = 2;
constexpr uint8_t UPDATE_PANNING = 4;
constexpr uint8_t UPDATE_TRIGGER = 8;
constexpr uint8_t UPDATE_REWIND = 32;
// What a tick may change of the sound: a delayed note holds all of it back until its tick.
constexpr uint8_t UPDATE_SOUND = UPDATE_PITCH | UPDATE_VOLUME | UPDATE_PANNING | UPDATE_TRIGGER;

struct EnvelopeState {
    int32_t tick;  // ticks since the envelope started
    int32_t point;  // next point to reach
    int32_t value;  // 16.16
    int32_t output;  // integer part of value
    int32_t slope;  // 16.16 change per tick
    uint8_t done;
    uint8_t held;  // has held at the sustain point
};

// One channel's state: the note it plays, its pitch, volume and panning with the tick's offsets,
// envelopes, and the memories of its commands.
struct ChannelState {
    uint8_t noteIndex;
    uint8_t updateFlags;
    Voice* voice;
    int32_t period;
    int32_t volume;
    int32_t panning;
    int32_t volumeDelta;
    int32_t periodDelta;
    EnvelopeState volumeEnvelope;
    EnvelopeState panningEnvelope;
    EnvelopeState pitchEnvelope;
    int32_t fadeoutVolume;
    int32_t autoVibratoPosition;
    int32_t autoVibratoSweepTicks;
    uint8_t keyOff;
    uint8_t instrumentIndex;
    uint8_t realNote;
    int32_t notePeriod;
    uint8_t lastEffect;  // the Command of the last row
    int32_t sampleOffsetMemory;
    uint8_t portaDownMemory;
    uint8_t portaUpMemory;
    uint8_t extraFineDownMemory;
    uint8_t extraFineUpMemory;
    uint8_t volumeSlideMemory;
    uint8_t panningSlideMemory;
    uint8_t retrigVolumeChange;
    uint8_t retrigInterval;
    uint8_t
        retrigCounter;  // ticks since Rxy last started the note (BEHAVIOUR_RETRIGGER_COUNTS_TICKS)
    int32_t portaTarget;
    uint8_t portaSpeed;
    int8_t vibratoPosition;
    uint8_t vibratoSpeed;
    uint8_t vibratoDepth;
    int8_t tremoloPosition;
    uint8_t tremoloSpeed;
    uint8_t tremoloDepth;
    uint8_t tremorCounter;
    uint8_t tremorOnTicks;
    uint8_t tremorOffTicks;
    uint8_t tremorSilenced;  // a tremor has silenced the note until the volume is next set
    int32_t patternLoopRow;
    int32_t patternLoopCount;
    uint8_t waveControl;
    uint8_t fineVolumeSlideMemory;
    uint8_t finePortaUpMemory;
    uint8_t finePortaDownMemory;
    uint8_t sharedMemory;  // the one memory of BEHAVIOUR_SHARED_EFFECT_MEMORY
    uint8_t glissando;  // 1: tone portamentos sound in semitones (BEHAVIOUR_GLISSANDO)
    int32_t channelVolume;  // 0..64, the song's initial channel volume
    // Impulse Tracker's part of a channel. The note's rate for middle C (0: finetune and relative
    // note tune it) and its sample's times its instrument's global volume (0..8192).
    int32_t middleCRate;
    int32_t noteGlobalVolume;
    int32_t swingVolume;  // the note's random volume offset
    int32_t swingPanning;
    uint8_t newNoteAction;  // NNA_* of the note playing
    uint8_t fading;  // the note fades out (released or not)
    uint8_t envelopesOff;  // bits 0-2: volume, panning, pitch envelope switched off by command
    uint8_t envelopesOn;  // and switched on
    uint8_t surround;
    uint8_t filterCutoff;  // 0..127; 127 with resonance 0 is no filter
    uint8_t filterResonance;
    uint8_t midiMacro;  // the parametered macro the MIDI macro command plays
    uint8_t channelVolumeSlideMemory;
    uint8_t volumeColumnSlideMemory;
    uint8_t arpeggioMemory;
    uint8_t tremorMemory;
    uint8_t tempoSlideMemory;
    uint8_t highOffset;
    int8_t panbrelloPosition;
    uint8_t panbrelloSpeed;
    uint8_t panbrelloDepth;
    uint8_t panbrelloWaveform;
    int32_t panningDelta;  // the panbrello's offset this tick
    // The song channel whose note this is: its own number for a channel, the channel that started
    // the note for a background channel. Mutes and stems go by it.
    int32_t owner;
    uint8_t active;  // a background channel holding a note
};

// Rows replayed by a pattern loop are not a repeat of the song. After a loop jump, the rows of the
// same order position up to the row that jumped are replays, until the song leaves them.
struct LoopReplay {
    bool active;
    int32_t order;
    int32_t lastRow;
};

// Rows a playback can remember having played, for the first-repeat detection: 256 order positions
// of up to 256 rows each, one bit per row.
constexpr int PLAYED_ROW_BYTES = 256 * 256 / 8;

struct PlayState {
    const Song* song;
    PlayProfile profile;  // chosen before play start; PROFILE_BROM plays the format's own row
    BehaviourSet behaviours;  // the profile's row of the behaviour table for the song's format
    int32_t sampleRate;  // the output rate that pitch steps and tick lengths are made for

    // The position: the row that plays, its tick, and what the row start takes next (-1: the row
    // after this one).
    int32_t orderPosition;
    int32_t row;
    int32_t tick;
    int32_t speed;
    int32_t bpm;
    int32_t patternDelayTicks;
    int32_t nextOrderPosition;
    int32_t nextRow;
    int32_t startedRow;  // row that the last row start read; -1 before the first
    int32_t songTimeMs;
    // Output frames per tick at this tempo, and those left of the current tick.
    int32_t samplesPerTick;
    int32_t tickSamplesLeft;

    int32_t globalVolume;
    uint8_t globalVolumeSlideMemory;
    uint8_t
        amigaLedFilter;  // 1 while the Amiga's LED filter is on (the mixer's Amiga mode hears it)
    uint32_t randomSeed;  // the volume and panning swings' generator

    // First-repeat detection, kept from play start: a bit per (order, row) played, and 1 once a
    // row start has reached a pair already played.
    LoopReplay loopReplay;
    uint8_t hasRepeated;
    uint8_t playedRows[PLAYED_ROW_BYTES];
    // When one subsong of several plays (player/subsongs.h): the rows of the subsongs found before
    // it, a bit per (order, row) as in playedRows (null: none), and its start. A row start that
    // would play one of those rows comes round instead: it goes back to the start.
    const uint8_t* otherSongRows;
    // Order positions from 0 to orderEnd - 1 are played: the song's length, or for a subsong
    // after the end marker that ends the song, up to the next end marker.
    int32_t orderEnd;
    int32_t songStartOrder;
    int32_t songStartRow;

    // Each pool sample's finetune as playing has left it (the set-finetune command changes it for
    // every later note of the sample).
    int8_t sampleFinetune[MAX_SONG_SAMPLES];

    ChannelState channels[MAX_PLAYER_CHANNELS];
    ChannelState background[BACKGROUND_CHANNELS];
    Voice* voices;  // VOICE_COUNT of them, owned by whoever mixes them
};

// A zeroed playing state for `song` (null when memory is short), and its release (null is fine).
PlayState* createPlayState(const Song* song);
void destroyPlayState(PlayState* state);
