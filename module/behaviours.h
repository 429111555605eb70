// How the trackers differ: each behaviour flag names one place where a format's tracker played
// differently from the engine's plain rules, and is read where that behaviour lives in player/.
// Every format has its row in one table (behaviours.cpp); a playing profile (the way one tracker
// played another tracker's files, say) is another row. The loader records the format; playing
// starts from its row.
//
//     BehaviourSet rules = formatBehaviours(song->format);
//     if (rules & BEHAVIOUR_PAL_CLOCK) ...
#pragma once

#include <cstdint>

enum ModuleFormat : uint8_t { FORMAT_XM, FORMAT_MOD, FORMAT_S3M, FORMAT_IT, FORMAT_COUNT };

using BehaviourSet = uint64_t;

// Amiga periods count the PAL Amiga's clock, a sixth of a semitone below the one XM uses (MOD).
constexpr BehaviourSet BEHAVIOUR_PAL_CLOCK = BehaviourSet{1} << 0;
// Portamentos (1xx, 2xx, E1x, E2x) stop at the ends of ProTracker's three octaves, B-3 and C-1
// (MOD).
constexpr BehaviourSet BEHAVIOUR_AMIGA_PERIOD_LIMITS = BehaviourSet{1} << 1;
// E5x tunes the note that starts on its row, on its channel only, reading the nibble as a signed
// eighth of a semitone; without it E5x retunes the sample for every later note of it (MOD;
// FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_FINETUNE_TUNES_CHANNEL = BehaviourSet{1} << 2;
// Vibrato (4xy, 6xy) starts on the row's second tick instead of its first (MOD).
constexpr BehaviourSet BEHAVIOUR_VIBRATO_WAITS_FOR_TICK_ONE = BehaviourSet{1} << 3;
// Vibrato swings downward in pitch first (MOD, S3M).
constexpr BehaviourSet BEHAVIOUR_VIBRATO_STARTS_DOWNWARD = BehaviourSet{1} << 4;
// When a tremolo ends the volume returns to where it was; without it the last offset stays in the
// volume (MOD, S3M; FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_TREMOLO_VOLUME_RETURNS = BehaviourSet{1} << 5;
// Slide parameters hold their fine forms (IT): a volume, channel volume, global volume or panning
// slide of xF or Fx (x not 0) moves once by x on the row's first tick, and one of x0 or 0x with
// x = F moves on the first tick as well as the others; a portamento of Ex or Fx moves once by x
// (Fx) or a quarter of x (Ex) on the first tick.
constexpr BehaviourSet BEHAVIOUR_FINE_SLIDE_FORMS = BehaviourSet{1} << 6;
// Impulse Tracker's "old effects" (the file's flag): vibrato every tick but the first and twice
// as deep, a sample offset beyond the end plays from the end, and the other differences the
// player names where it reads this flag (IT files that ask for it).
constexpr BehaviourSet BEHAVIOUR_IT_OLD_EFFECTS = BehaviourSet{1} << 7;
// Impulse Tracker's "compatible Gxx" (the file's flag): the tone portamento shares the
// portamentos' memory, and a new instrument on its row restarts the envelopes (IT files that ask
// for it).
constexpr BehaviourSet BEHAVIOUR_IT_LINKED_TONE_PORTA = BehaviourSet{1} << 8;
// Notes sound at their sample's own rate for middle C (IT's C-5) instead of at finetune and
// relative note: linear periods count from it, Amiga periods scale by it (IT).
constexpr BehaviourSet BEHAVIOUR_MIDDLE_C_RATES = BehaviourSet{1} << 9;
// A note's loudness is its volume times its sample's and its instrument's global volumes, its
// channel's volume and the global volume out of 128; the song's pan separation narrows the field
// and surround channels sit in the centre (IT).
constexpr BehaviourSet BEHAVIOUR_LAYERED_VOLUMES = BehaviourSet{1} << 10;
// In instrument mode a note that a channel's next note interrupts goes on sounding in the
// background as its instrument's new-note action says (cut, continue, release, fade), after the
// duplicate check has acted on the channel's past notes; the past-note and NNA commands apply
// (IT).
constexpr BehaviourSet BEHAVIOUR_NEW_NOTE_ACTIONS = BehaviourSet{1} << 11;
// Envelopes run by ticks with loop and sustain-loop ranges, the pitch envelope bends the note
// (or drives the filter), envelopes may carry on from the last note, the note fades once the
// volume envelope ends or a release finds no volume envelope, and fading ends the note (IT).
constexpr BehaviourSet BEHAVIOUR_ENVELOPE_RANGES = BehaviourSet{1} << 12;
// Vibrato moves on every tick including the row's first, a quarter as deep per step as XM's (the
// fine vibrato a quarter of that again); old effects bring back the every-tick-but-the-first
// vibrato at twice the depth (IT).
constexpr BehaviourSet BEHAVIOUR_FINE_VIBRATO = BehaviourSet{1} << 13;
// Each voice passes through a resonant low-pass filter set by the instrument's cutoff and
// resonance, the filter envelope and the MIDI macro command (IT).
constexpr BehaviourSet BEHAVIOUR_RESONANT_FILTER = BehaviourSet{1} << 14;
// The portamentos up and down share one memory, the arpeggio and the tremor keep theirs (a zero
// parameter repeats the last), a note cut stops the note, the volume column's slides keep their
// own memory, a sample offset beyond the end is ignored (the end, with old effects), and the
// global volume runs to 128 (IT).
constexpr BehaviourSet BEHAVIOUR_IMPULSE_EFFECTS = BehaviourSet{1} << 15;
// ProTracker's behaviours for MOD, continued from bit 0 on.
// 9xx beyond the end of the sample plays the sample's loop from its start, or nothing for a
// sample without a loop (MOD).
constexpr BehaviourSet BEHAVIOUR_OFFSET_PAST_END_PLAYS_LOOP = BehaviourSet{1} << 16;
// A sample number without a note swaps samples: the sample playing goes on to the end of its loop
// (or of itself), and the new one plays on from there, from its loop's start (nothing without a
// loop); a channel whose sample has stopped stays silent (MOD).
constexpr BehaviourSet BEHAVIOUR_SAMPLE_SWAP = BehaviourSet{1} << 17;
// A note delay with a sample number sets the sample's volume on the row's first tick; the note
// waits for the delay's tick (and a delay past the row's last tick starts none) (MOD).
constexpr BehaviourSet BEHAVIOUR_DELAYED_NOTE_SETS_VOLUME = BehaviourSet{1} << 18;
// E9x counts the row's ticks from 0 again in every repetition of a pattern delay, and where the
// cell has no note it starts the note again on the first tick too: of the row (unless the row
// delays the pattern) and of each repetition (MOD).
constexpr BehaviourSet BEHAVIOUR_RETRIGGER_EVERY_REPETITION = BehaviourSet{1} << 19;
// Only a new note restarts the vibrato and the tremolo: a sample number without one, or with a
// tone portamento's, leaves them where they are (MOD).
constexpr BehaviourSet BEHAVIOUR_SAMPLE_NUMBER_KEEPS_OSCILLATORS = BehaviourSet{1} << 20;
// A tone portamento's target is set by a note on its row only, at the finetune of the row's
// sample number, whose volume it takes and which plays once the sample playing reaches the end of
// its loop; the target holds across plain notes until the slide reaches it, and then (or when the
// note is the one playing) there is none until the next (MOD).
constexpr BehaviourSet BEHAVIOUR_TONE_PORTA_TARGET_ONCE = BehaviourSet{1} << 21;
// A pattern break or jump on a row that a pattern delay repeats lands on the row after the one it
// names (MOD).
constexpr BehaviourSet BEHAVIOUR_DELAYED_BREAK_SKIPS_ROW = BehaviourSet{1} << 22;
// The notes C-1..B-3 play ProTracker's periods, one table per finetune, instead of equal-tempered
// ones (MOD).
constexpr BehaviourSet BEHAVIOUR_PROTRACKER_PERIODS = BehaviourSet{1} << 23;
// The FastTracker 2 profile's behaviours, continued from bit 48 on.
// Vibrato swings by the waveform's value times the depth over 32, in single period units; without
// it in steps of 4 (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_VIBRATO_FULL_DEPTH = BehaviourSet{1} << 24;
// The tremolo's ramp waveform turns over where the vibrato's phase (not the tremolo's) is in its
// second half (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_TREMOLO_RAMP_FOLLOWS_VIBRATO = BehaviourSet{1} << 25;
// A note that its sample's relative note takes below C-0 plays C-0, and one it takes to B-9 or
// above is no note: the note before goes on (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_NOTE_RANGE_LIMITS = BehaviourSet{1} << 26;
// A portamento up (1xx) stops at period 1; without it at 56 (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_PORTAMENTO_UP_TO_PERIOD_ONE = BehaviourSet{1} << 27;
// Lxx moves the panning envelope as well as the volume envelope where the instrument's volume
// envelope (not its panning envelope) has a sustain point (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_ENVELOPE_POSITION_MOVES_PANNING = BehaviourSet{1} << 28;
// The volume column's panning slides act on the ticks after the first only, and one to the left
// by 0, or by more than the panning, sends the panning hard left (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_COLUMN_PANNING_SLIDES_LATER = BehaviourSet{1} << 29;
// A panning envelope that has held at its sustain point goes on holding there after the key-off;
// one released before it gets there passes it (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_PANNING_SUSTAIN_HOLDS = BehaviourSet{1} << 30;
// Volume slides (D, K, L) act on the row's first tick too (S3M files of Scream Tracker 3.00, or
// with the header's fast-slide flag).
constexpr BehaviourSet BEHAVIOUR_FAST_VOLUME_SLIDES = BehaviourSet{1} << 32;
// Every channel plays in the centre whatever panning it is given (S3M files whose master volume
// says mono).
constexpr BehaviourSet BEHAVIOUR_MONO = BehaviourSet{1} << 33;
// One memory for the parameters of most commands: a zero parameter of the volume slides, the
// portamentos, tremor, arpeggio, retrigger, tremolo and the S commands (S3M's D, E, F, I, J, K,
// L, Q, R, S) takes the last non-zero parameter that any of D..S or U had on the channel (S3M).
constexpr BehaviourSet BEHAVIOUR_SHARED_EFFECT_MEMORY = BehaviourSet{1} << 34;
// A volume slide with both nibbles set slides down; without it the upward slide wins (S3M).
constexpr BehaviourSet BEHAVIOUR_VOLUME_SLIDE_DOWN_WINS = BehaviourSet{1} << 35;
// A sample offset beyond the end of a looping sample lands inside the loop, as if the sample had
// played on to it; without it the note restarts from the first frame (S3M).
constexpr BehaviourSet BEHAVIOUR_OFFSET_WRAPS_INTO_LOOP = BehaviourSet{1} << 36;
// A note delay on a row without a note does nothing; without it the channel's note starts again
// at the delay's tick (S3M).
constexpr BehaviourSet BEHAVIOUR_NOTE_DELAY_NEEDS_NOTE = BehaviourSet{1} << 37;
// Every channel takes the global volume on every tick; without it a channel takes a new global
// volume at its next volume change (S3M).
constexpr BehaviourSet BEHAVIOUR_GLOBAL_VOLUME_EVERY_TICK = BehaviourSet{1} << 38;
// The glissando command makes tone portamentos sound in semitone steps, the nearest to the
// sliding pitch (the lower halfway between two); without it the command does nothing (S3M;
// FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_GLISSANDO = BehaviourSet{1} << 39;
// Tremolo sounds on the row's first tick too, at the phase the next tick plays; without it the
// first tick plays the volume alone (S3M; FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_TREMOLO_ON_FIRST_TICK = BehaviourSet{1} << 40;
// The vibrato's and tremolo's sine is the trackers' 32-step table of 0..255 (ProTracker's too);
// without it the sine of the phase, times 256 (MOD: ProTracker; FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_SINE_TABLE = BehaviourSet{1} << 41;
// The tremolo's waveform 3 is a square, as the vibrato's is; without it a sine (MOD: ProTracker;
// FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_TREMOLO_WAVEFORM_3_SQUARE = BehaviourSet{1} << 42;
// Linear periods go below 100 Hz as low as they name, and the frequency is worked out in 16 bits
// as the tracker did: from period 9984 on it wraps round, to nothing for most periods and to high
// pitches for some; without it anything below 100 Hz plays at 100 Hz (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_LINEAR_FREQUENCY_WRAPS = BehaviourSet{1} << 43;
// K00 with a note is the key-off note: the note does not play (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_K00_REPLACES_NOTE = BehaviourSet{1} << 44;
// A key-off (the key-off note or K00) with an instrument number sets the volume and panning again
// and leaves the envelopes, the fadeout and the release as they are; without it the instrument
// starts its envelopes over (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_KEY_OFF_KEEPS_ENVELOPES = BehaviourSet{1} << 45;
// An instrument number on a row with a note delay (EDx) starts the instrument's envelopes on the
// delay's tick only: a delay beyond the row's ticks leaves them running as they were; without it
// they start on the row's first tick too (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_DELAYED_INSTRUMENT_WAITS = BehaviourSet{1} << 46;
// Every new note (not a tone portamento's) starts the vibrato and the tremolo at the start of
// their waveforms, with or without a sample number; without it only an instrument number does
// (MOD: ProTracker; FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_NOTE_RESTARTS_OSCILLATORS = BehaviourSet{1} << 48;
// An arpeggio plays its intervals by the ticks left in the row: the last tick has the first
// interval, the one before it the second, the one before that the note (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_ARPEGGIO_BY_TICKS_LEFT = BehaviourSet{1} << 49;
// Linear periods tune in sixteenths of a semitone: the finetune rounds down to a multiple of 8
// (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_FINETUNE_SIXTEENTHS = BehaviourSet{1} << 50;
// E5x's nibble counts up from the lowest finetune, x * 16 - 128; with
// BEHAVIOUR_FINETUNE_TUNES_CHANNEL (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_FINETUNE_FROM_LOWEST = BehaviourSet{1} << 51;
// A new global volume reaches every channel on the tick it is set, the channels before the one
// that set it too; with BEHAVIOUR_GLOBAL_VOLUME_EVERY_TICK (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_GLOBAL_VOLUME_AT_ONCE = BehaviourSet{1} << 52;
// Kxx releases the note on tick xx of its row instead of at once (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_KEY_OFF_ON_ITS_TICK = BehaviourSet{1} << 53;
// A key-off in a cell with a note delay releases the note on the delay's tick and starts none
// (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_DELAY_HOLDS_KEY_OFF = BehaviourSet{1} << 54;
// An instrument number without a note sets the volume and panning of the sample that plays, not
// of the instrument it names; that instrument plays from the next note on (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_INSTRUMENT_KEEPS_SAMPLE = BehaviourSet{1} << 55;
// Tremor counts on the ticks after the first only, and a note it silenced stays silent, across
// rows, until a volume command or an instrument sets the volume again (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_TREMOR_SILENCES = BehaviourSet{1} << 56;
// EC0 cuts the note on the row's first tick (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_NOTE_CUT_ON_TICK_ZERO = BehaviourSet{1} << 57;
// E90 on a row without a note starts the note again on the row's first tick (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_RETRIGGER_ZERO_ON_ROW = BehaviourSet{1} << 58;
// 9xx beyond the end of the sample stops the voice; without it the note starts over from the
// sample's first frame (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_OFFSET_PAST_END_STOPS = BehaviourSet{1} << 59;
// A release without a volume envelope sets the volume to 0, which a later volume command or
// instrument number sets again (an instrument number with the key-off does so at once); without
// it the note falls silent for good (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_KEY_OFF_ZEROES_VOLUME = BehaviourSet{1} << 60;
// An arpeggio interval that would go beyond the top of the note range (the note after B-7) plays
// that top note (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_ARPEGGIO_CLAMPS_AT_TOP = BehaviourSet{1} << 61;
// A note delay on a row that a pattern delay repeats starts its note again on the delay's tick of
// every repetition; without it only in the first (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_PATTERN_DELAY_REPEATS_NOTE_DELAY = BehaviourSet{1} << 62;
// Rxy counts its ticks across rows, the first tick of a row too unless the cell's volume column
// has a command, and a volume in the volume column is the volume of every note it starts;
// without it Rxy starts the note on the row's ticks that are multiples of y, after the first
// (FastTracker 2).
constexpr BehaviourSet BEHAVIOUR_RETRIGGER_COUNTS_TICKS = BehaviourSet{1} << 63;

// The ways of playing a module: Brom's own (each format with its row), and another tracker's, as
// one row for every format.
enum PlayProfile : uint8_t { PROFILE_BROM, PROFILE_FT2, PROFILE_COUNT };

// The behaviours a format plays with by default.
BehaviourSet formatBehaviours(ModuleFormat format);
// The behaviours of a module of `format` played under `profile`.
BehaviourSet profileBehaviours(PlayProfile profile, ModuleFormat format);
// "brom", "ft2"; "" for anything else.
const char* profileName(PlayProfile profile);
// The profile of that name ("default" is Brom's own too); false for an unknown name.
bool profileNamed(const char* name, PlayProfile* profile);
// "XM", "MOD", "S3M", "IT"; "" for anything else.
const char* formatName(ModuleFormat format);
