// The engine's own command set. Loaders decode every cell of every format into these at load
// time: a volume-column command and an effect command, each with its parameter already taken
// apart where the format packs several things into one byte (XM's Exy, Fxx split into speed and
// tempo, a pattern break's decimal row). The player switches on these and nothing else; a
// format's own effect numbers survive only in the cell's display bytes.
//
//     cell.effect = {CMD_SET_SPEED, 6};
//     cell.volume = {VOL_SET_VOLUME, 48};
//
// Adding a format adds only the commands the engine lacks, never a second meaning for one.
#pragma once

#include <cstdint>

enum Command : uint8_t {
    CMD_NONE = 0,
    CMD_ARPEGGIO,  // xy: semitones above the note on the second and third tick
    CMD_PORTA_UP,  // slide speed (0: the memory)
    CMD_PORTA_DOWN,
    CMD_TONE_PORTA,  // slide speed toward the cell's note (0: the memory)
    CMD_VIBRATO,  // xy: speed, depth (0: the memory)
    CMD_TONE_PORTA_VOLUME_SLIDE,  // volume slide xy with the tone portamento going on
    CMD_VIBRATO_VOLUME_SLIDE,  // volume slide xy with the vibrato going on
    CMD_TREMOLO,  // xy: speed, depth
    CMD_SET_PANNING,  // 0..255
    CMD_SAMPLE_OFFSET,  // in 256-frame steps (0: the memory)
    CMD_VOLUME_SLIDE,  // xy: up, down (0: the memory)
    CMD_POSITION_JUMP,  // order position
    CMD_SET_VOLUME,  // the byte as written; slides bring it back into 0..64
    CMD_PATTERN_BREAK,  // the row to start the next pattern at, already decoded
    CMD_SET_SPEED,  // ticks per row
    CMD_SET_TEMPO,  // beats per minute
    CMD_SET_GLOBAL_VOLUME,
    CMD_GLOBAL_VOLUME_SLIDE,  // xy: up, down (0: the memory)
    CMD_KEY_OFF,  // releases the note
    CMD_ENVELOPE_POSITION,  // volume envelope position in ticks
    CMD_PANNING_SLIDE,  // xy: right, left (0: the memory)
    CMD_MULTI_RETRIGGER,  // xy: volume change, interval (0: the memory)
    CMD_TREMOR,  // xy: on ticks - 1, off ticks - 1
    CMD_EXTRA_FINE_PORTA_UP,  // y (0: the memory)
    CMD_EXTRA_FINE_PORTA_DOWN,
    CMD_AMIGA_FILTER,  // the Amiga's LED filter: 0 on, 1 off
    CMD_FINE_PORTA_UP,  // y (0: the memory)
    CMD_FINE_PORTA_DOWN,
    CMD_GLISSANDO,  // 1: tone portamento in semitone steps
    CMD_VIBRATO_WAVEFORM,  // waveform control nibble
    CMD_SET_FINETUNE,  // the nibble as written
    CMD_PATTERN_LOOP,  // 0: loop start; n: play the loop n more times
    CMD_TREMOLO_WAVEFORM,
    CMD_RETRIGGER,  // every y ticks
    CMD_FINE_VOLUME_UP,  // y (0: the memory)
    CMD_FINE_VOLUME_DOWN,
    CMD_NOTE_CUT,  // on tick y
    CMD_NOTE_DELAY,  // to tick y
    CMD_PATTERN_DELAY,  // y rows
    CMD_INVERT_LOOP,  // speed (played as nothing)
    // Impulse Tracker's additions.
    CMD_FINE_VIBRATO,  // xy: speed, depth a quarter of the vibrato's (0: the memory)
    CMD_SET_CHANNEL_VOLUME,  // 0..64: the channel's own volume, beneath every note's
    CMD_CHANNEL_VOLUME_SLIDE,  // xy: as the volume slide, on the channel volume (0: the memory)
    CMD_HIGH_OFFSET,  // y: the sample offset's 65536-frame part for the offsets that follow
    CMD_TEMPO_SLIDE,  // 0y: down y, 1y: up y, on every tick after the first (0: the memory)
    CMD_PANBRELLO,  // xy: speed, depth of a panning oscillation (0: the memory)
    CMD_PANBRELLO_WAVEFORM,
    CMD_FINE_PATTERN_DELAY,  // y: the row lasts y ticks longer
    CMD_PAST_NOTES,  // the channel's past notes are cut, released or faded (NNA_* less one)
    CMD_SET_NEW_NOTE_ACTION,  // NNA_*: for the note playing, instead of its instrument's
    CMD_ENVELOPE_SWITCH,  // bits 0-1: volume, panning, pitch envelope; bit 2: on
    CMD_SURROUND,  // 1: the channel plays in surround, 0: back to its panning
    CMD_SET_MIDI_MACRO,  // y: the parametered macro (SFy) that the MIDI macro command plays
    CMD_MIDI_MACRO,  // 00..7F: the chosen parametered macro with this value; 80..FF fixed macros
    CMD_SET_MIDDLE_C_FINETUNE,  // x: the middle-C rate of Scream Tracker's 16 finetunes
    COMMAND_COUNT
};

// The volume column's commands. The parameter is the decoded value: a volume of 0..64, a slide
// amount, a panning of 0..255, a vibrato speed or depth, a portamento speed.
enum VolumeCommand : uint8_t {
    VOL_NONE = 0,
    VOL_SET_VOLUME,
    VOL_SLIDE_DOWN,  // on every tick of the row
    VOL_SLIDE_UP,
    VOL_FINE_SLIDE_DOWN,  // once, on the row's first tick
    VOL_FINE_SLIDE_UP,
    VOL_VIBRATO_SPEED,
    VOL_VIBRATO,  // sets the depth and vibrates
    VOL_SET_PANNING,
    VOL_PANNING_SLIDE_LEFT,
    VOL_PANNING_SLIDE_RIGHT,
    VOL_TONE_PORTA,  // speed as the effect column's (0: the memory)
    VOL_PORTA_DOWN,  // speed as the effect column's portamento (0: the memory)
    VOL_PORTA_UP,
    VOLUME_COMMAND_COUNT
};

struct CellCommand {
    uint8_t command;  // Command or VolumeCommand
    uint8_t param;
};

// S3M command letters (1..26 for A..Z) and volume-column bytes in the engine's commands. Slide
// parameters keep their fine forms (DxF, DFy, EFx, EEx, ...), which the player reads under
// BEHAVIOUR_FINE_SLIDE_FORMS. `tempoSlides`: T0x and T1x slide the tempo (trackers after Scream
// Tracker), else they do nothing.
CellCommand decodeS3mEffect(uint8_t letter, uint8_t param, bool tempoSlides);
CellCommand decodeS3mVolumeColumn(uint8_t volume);
// XM and MOD effect numbers (0..0x21 with XM's letters, and Exy) and XM volume-column bytes in
// the engine's commands. MOD's parameters are already in their ProTracker meaning.
CellCommand decodeXmEffect(uint8_t effect, uint8_t param);
CellCommand decodeXmVolumeColumn(uint8_t volumeColumn);
// Impulse Tracker's effects (1..26 for A..Z) and volume-column bytes in the engine's commands.
// Slide parameters keep IT's packing (xF and Fx fine forms, EFx/EEx), which the player reads under
// BEHAVIOUR_FINE_SLIDE_FORMS; the panning slide's nibbles are swapped into the engine's order
// (right, left).
CellCommand decodeItEffect(uint8_t effect, uint8_t param);
CellCommand decodeItVolumeColumn(uint8_t volumeColumn);
