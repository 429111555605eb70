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
                BEHAVIOUR_TREMOLO_VOLUME_RETURNS},
    {"S3M", 0},
    {"IT", 0},
};

// FastTracker 2's way, whatever the format.
constexpr BehaviourSet FT2_BEHAVIOURS = 0;

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
