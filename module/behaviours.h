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
// eighth of a semitone; without it E5x retunes the sample for every later note of it (MOD).
constexpr BehaviourSet BEHAVIOUR_FINETUNE_TUNES_CHANNEL = BehaviourSet{1} << 2;
// Vibrato (4xy, 6xy) starts on the row's second tick instead of its first (MOD).
constexpr BehaviourSet BEHAVIOUR_VIBRATO_WAITS_FOR_TICK_ONE = BehaviourSet{1} << 3;
// Vibrato swings downward in pitch first (MOD).
constexpr BehaviourSet BEHAVIOUR_VIBRATO_STARTS_DOWNWARD = BehaviourSet{1} << 4;
// When a tremolo ends the volume returns to where it was; without it the last offset stays in the
// volume (MOD).
constexpr BehaviourSet BEHAVIOUR_TREMOLO_VOLUME_RETURNS = BehaviourSet{1} << 5;

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
