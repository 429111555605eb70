#include "module/behaviours.h"

#include <cstring>

namespace {

struct FormatRow {
    const char* name;
    BehaviourSet behaviours;
};

// One row per format, in ModuleFormat's order.
const FormatRow FORMAT_TABLE[FORMAT_COUNT] = {
    {"XM", 0},
    {"MOD", BEHAVIOUR_PAL_CLOCK | BEHAVIOUR_AMIGA_PERIOD_LIMITS | BEHAVIOUR_FINETUNE_TUNES_CHANNEL |
                BEHAVIOUR_VIBRATO_WAITS_FOR_TICK_ONE | BEHAVIOUR_VIBRATO_STARTS_DOWNWARD |
                BEHAVIOUR_TREMOLO_VOLUME_RETURNS | BEHAVIOUR_NOTE_RESTARTS_OSCILLATORS},
    {"S3M", BEHAVIOUR_FINE_SLIDE_FORMS | BEHAVIOUR_SHARED_EFFECT_MEMORY |
                BEHAVIOUR_VOLUME_SLIDE_DOWN_WINS | BEHAVIOUR_OFFSET_WRAPS_INTO_LOOP |
                BEHAVIOUR_NOTE_DELAY_NEEDS_NOTE | BEHAVIOUR_GLOBAL_VOLUME_EVERY_TICK |
                BEHAVIOUR_GLISSANDO | BEHAVIOUR_VIBRATO_STARTS_DOWNWARD |
                BEHAVIOUR_TREMOLO_ON_FIRST_TICK | BEHAVIOUR_TREMOLO_VOLUME_RETURNS},
    {"IT", BEHAVIOUR_FINE_SLIDE_FORMS | BEHAVIOUR_MIDDLE_C_RATES | BEHAVIOUR_LAYERED_VOLUMES |
               BEHAVIOUR_NEW_NOTE_ACTIONS | BEHAVIOUR_ENVELOPE_RANGES | BEHAVIOUR_FINE_VIBRATO |
               BEHAVIOUR_RESONANT_FILTER | BEHAVIOUR_IMPULSE_EFFECTS},
};

// FastTracker 2's way, whatever the format.
constexpr BehaviourSet FT2_BEHAVIOURS =
    BEHAVIOUR_FINETUNE_TUNES_CHANNEL | BEHAVIOUR_ARPEGGIO_BY_TICKS_LEFT |
    BEHAVIOUR_FINETUNE_SIXTEENTHS | BEHAVIOUR_FINETUNE_FROM_LOWEST |
    BEHAVIOUR_GLOBAL_VOLUME_EVERY_TICK | BEHAVIOUR_GLOBAL_VOLUME_AT_ONCE |
    BEHAVIOUR_KEY_OFF_ON_ITS_TICK | BEHAVIOUR_DELAY_HOLDS_KEY_OFF |
    BEHAVIOUR_INSTRUMENT_KEEPS_SAMPLE | BEHAVIOUR_TREMOR_SILENCES |
    BEHAVIOUR_NOTE_CUT_ON_TICK_ZERO | BEHAVIOUR_RETRIGGER_ZERO_ON_ROW |
    BEHAVIOUR_OFFSET_PAST_END_STOPS | BEHAVIOUR_KEY_OFF_ZEROES_VOLUME |
    BEHAVIOUR_NOTE_RESTARTS_OSCILLATORS | BEHAVIOUR_GLISSANDO | BEHAVIOUR_ARPEGGIO_CLAMPS_AT_TOP |
    BEHAVIOUR_PATTERN_DELAY_REPEATS_NOTE_DELAY | BEHAVIOUR_RETRIGGER_COUNTS_TICKS |
    BEHAVIOUR_VIBRATO_FULL_DEPTH | BEHAVIOUR_TREMOLO_RAMP_FOLLOWS_VIBRATO |
    BEHAVIOUR_TREMOLO_ON_FIRST_TICK | BEHAVIOUR_TREMOLO_VOLUME_RETURNS |
    BEHAVIOUR_NOTE_RANGE_LIMITS | BEHAVIOUR_PORTAMENTO_UP_TO_PERIOD_ONE |
    BEHAVIOUR_ENVELOPE_POSITION_MOVES_PANNING;

const char* const PROFILE_NAMES[PROFILE_COUNT] = {"brom", "ft2"};

}  // namespace

BehaviourSet profileBehaviours(PlayProfile profile, ModuleFormat format) {
    return profile == PROFILE_FT2 ? FT2_BEHAVIOURS : formatBehaviours(format);
}

const char* profileName(PlayProfile profile) {
    return profile < PROFILE_COUNT ? PROFILE_NAMES[profile] : "";
}

bool profileNamed(const char* name, PlayProfile* profile) {
    if (!name) return false;
    if (strcmp(name, "default") == 0) {
        *profile = PROFILE_BROM;
        return true;
    }
    for (int p = 0; p < PROFILE_COUNT; ++p) {
        if (strcmp(name, PROFILE_NAMES[p]) == 0) {
            *profile = static_cast<PlayProfile>(p);
            return true;
        }
    }
    return false;
}

BehaviourSet formatBehaviours(ModuleFormat format) {
    return format < FORMAT_COUNT ? FORMAT_TABLE[format].behaviours : 0;
}

const char* formatName(ModuleFormat format) {
    return format < FORMAT_COUNT ? FORMAT_TABLE[format].name : "";
}
