// Channel state: one ChannelState per song channel in the ChannelTable. At a row start each
// channel reads its cell (note, instrument, volume column, effect), resolves its sample, computes
// the note's period and triggers; at the end of every tick updateVoice pushes pitch, volume,
// panning and note starts into the Voice the channel drives.
#pragma once

#include <cstdint>

#include "module/song.h"
#include "player/voice.h"

constexpr int MAX_PLAYER_CHANNELS = 32;

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
};

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
    int32_t fadeoutVolume;
    int32_t autoVibratoPosition;
    int32_t autoVibratoSweepTicks;
    uint8_t keyOff;
    uint8_t instrumentIndex;
    uint8_t realNote;
    int32_t notePeriod;
    uint8_t lastEffect;
    int32_t sampleOffsetMemory;
    uint8_t portaDownMemory;
    uint8_t portaUpMemory;
    uint8_t extraFineDownMemory;
    uint8_t extraFineUpMemory;
    uint8_t volumeSlideMemory;
    uint8_t panningSlideMemory;
    uint8_t retrigVolumeChange;
    uint8_t retrigInterval;
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
    int32_t patternLoopRow;
    int32_t patternLoopCount;
    uint8_t waveControl;
    uint8_t fineVolumeSlideMemory;
    uint8_t finePortaUpMemory;
    uint8_t finePortaDownMemory;
};

// What a channel plays on this tick. A channel keeps no sample of its own: every tick resolves it
// again from instrumentIndex and noteIndex.
struct ChannelSound {
    Instrument* instrument;  // emptyInstrument when the number names no instrument
    Sample* sample;  // emptySample when the slot is empty or the map entry is beyond 15
};
ChannelSound resolveSound(Song* song, const ChannelState* channel);

// The row start of one channel (tick 0): note, instrument, volume column, envelopes, the effect,
// and the voice update. `jumpSeen` carries a position jump of an earlier channel of the same row
// to a pattern break of a later one.
void startChannelRow(Song* song, ChannelState* channel, const NoteCell& cell, bool* jumpSeen);

// Bit 0 of songFlags: linear periods (64 units per semitone, 4608 = 8363 Hz) instead of Amiga ones.
inline bool usesLinearPeriods(const Song* song) { return (song->songFlags & 1) != 0; }
// Amiga period of a 0-based note at a signed finetune; note 48 at finetune 0 is 1712.
int amigaPeriod(int note, int finetune);
// Period of a 0-based note (relative note already added) in the song's period system.
int32_t notePeriodOf(const Song* song, int realNote, int finetune);
void resetChannelInstrument(ChannelState* channel, const Sample* sample);
// Drops the tick's pitch, volume, panning and trigger updates (a note delay before its tick).
inline void holdSoundUpdates(ChannelState* channel) {
    channel->updateFlags &= static_cast<uint8_t>(~UPDATE_SOUND);
}
// Pushes the tick's changes (updateFlags) into the channel's voice: note start with the twin voice
// switch, volume and panning gains, pitch step, rewind.
void updateVoice(ChannelState* channel, const Sample* sample, const Song* song);

// Adds `change` to `value`, staying inside the 32-bit range: the unlimited slides (portamento down,
// volume-column panning) would otherwise wrap round after long enough.
inline int32_t addSaturated(int32_t value, int64_t change) {
    int64_t sum = static_cast<int64_t>(value) + change;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}
