#include "module/behaviours.h"

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
    {"IT", BEHAVIOUR_FINE_SLIDE_FORMS | BEHAVIOUR_MIDDLE_C_RATES | BEHAVIOUR_LAYERED_VOLUMES |
               BEHAVIOUR_NEW_NOTE_ACTIONS | BEHAVIOUR_ENVELOPE_RANGES | BEHAVIOUR_FINE_VIBRATO |
               BEHAVIOUR_RESONANT_FILTER | BEHAVIOUR_IMPULSE_EFFECTS},
};

}  // namespace

BehaviourSet formatBehaviours(ModuleFormat format) {
    return format < FORMAT_COUNT ? FORMAT_TABLE[format].behaviours : 0;
}

const char* formatName(ModuleFormat format) {
    return format < FORMAT_COUNT ? FORMAT_TABLE[format].name : "";
}
