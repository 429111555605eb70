// One channel's row start and sound. At a row start each channel reads its cell (note,
// instrument, volume column, effect), resolves its sample through the instrument's keyboard,
// computes the note's period and triggers; at the end of every tick updateVoice pushes pitch,
// volume, panning and note starts into the Voice the channel drives.
#pragma once

#include <cstdint>

#include "module/song.h"
#include "player/player_state.h"

// What a channel plays on this tick. A channel keeps no sample of its own: every tick resolves it
// again from instrumentIndex and noteIndex.
struct ChannelSound {
    const Instrument* instrument;  // emptyInstrument when the number names no instrument
    const Sample* sample;  // emptySample when the keyboard names no sample
    uint8_t note;  // 0-based note the keyboard plays for the channel's note
};
ChannelSound resolveSound(const PlayState* state, const ChannelState* channel);

// The finetune a sample plays with now (the set-finetune command may have changed it).
int sampleFinetune(const PlayState* state, const Sample* sample);

// The row start of one channel (tick 0): note, instrument, volume column, envelopes, the effect,
// and the voice update. `jumpSeen` carries a position jump of an earlier channel of the same row
// to a pattern break of a later one.
void startChannelRow(PlayState* state, ChannelState* channel, const NoteCell& cell, bool* jumpSeen);

// Bit 0 of songFlags: linear periods (64 units per semitone, 4608 = 8363 Hz) instead of Amiga ones.
inline bool usesLinearPeriods(const Song* song) { return (song->songFlags & 1) != 0; }
// Amiga period of a 0-based note at a signed finetune; note 48 at finetune 0 is 1712.
int amigaPeriod(int note, int finetune);
// ProTracker's period (four times the file's units) of a real note of C-1..B-3 at a MOD finetune
// (-128..112); 0 for a note outside those octaves.
int32_t protrackerPeriod(int realNote, int finetune);
// The period ProTracker's arpeggio plays `offset` semitones above `period` (four times the file's
// units): from the first period of the finetune's table at or below it; 0 where it reads the end
// of the table.
int32_t protrackerArpeggioPeriod(int32_t period, int finetune, int offset);
// Period of a 0-based note (relative note already added) in the song's period system.
int32_t notePeriodOf(const Song* song, int realNote, int finetune);
// Scream Tracker's period of a 0-based note for a sample whose middle C (note 48) plays at
// `middleCRate` frames per second: 1712 for that note at 8363, in the Amiga's units times four.
int32_t ratePeriod(int note, uint32_t middleCRate);
// Period of a 0-based note (relative note already added) played on `sample`: from its middle-C
// rate where it has one, else in the song's period system with its finetune.
int32_t samplePeriod(const PlayState* state, int realNote, const Sample* sample);
// Period of a note at a finetune, with the finetune as the playing profile hears it.
int32_t channelNotePeriod(const PlayState* state, int realNote, int finetune);
// The cell with a zero parameter replaced by the channel's shared memory, for the commands that
// share it (BEHAVIOUR_SHARED_EFFECT_MEMORY), which a non-zero parameter sets; else the cell.
NoteCell withSharedMemory(const PlayState* state, ChannelState* channel, const NoteCell& cell);
void resetChannelInstrument(ChannelState* channel, const Sample* sample);
// Drops the tick's pitch, volume, panning and trigger updates (a note delay before its tick).
inline void holdSoundUpdates(ChannelState* channel) {
    channel->updateFlags &= static_cast<uint8_t>(~UPDATE_SOUND);
}
// With BEHAVIOUR_GLOBAL_VOLUME_AT_ONCE, gives every channel's voice its volume again now (after
// a change of the global volume, so that the channels before the one that changed it hear it on
// the same tick).
void refreshVolumes(PlayState* state);
// Pushes the tick's changes (updateFlags) into the channel's voice: note start with the twin voice
// switch, volume and panning gains, pitch step, rewind.
void updateVoice(const PlayState* state, ChannelState* channel, const Sample* sample);

// Adds `change` to `value`, staying inside the 32-bit range: the unlimited slides (portamento down,
// volume-column panning) would otherwise wrap round after long enough.
inline int32_t addSaturated(int32_t value, int64_t change) {
    int64_t sum = static_cast<int64_t>(value) + change;
    if (sum > INT32_MAX) return INT32_MAX;
    if (sum < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(sum);
}
