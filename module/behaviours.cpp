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
    {"S3M", BEHAVIOUR_FINE_SLIDE_FORMS | BEHAVIOUR_SHARED_EFFECT_MEMORY |
                BEHAVIOUR_VOLUME_SLIDE_DOWN_WINS | BEHAVIOUR_OFFSET_WRAPS_INTO_LOOP |
                BEHAVIOUR_NOTE_DELAY_NEEDS_NOTE | BEHAVIOUR_GLOBAL_VOLUME_EVERY_TICK |
                BEHAVIOUR_GLISSANDO | BEHAVIOUR_VIBRATO_STARTS_DOWNWARD |
                BEHAVIOUR_TREMOLO_ON_FIRST_TICK | BEHAVIOUR_TREMOLO_VOLUME_RETURNS},
    {"IT", 0},
};

}  // namespace

BehaviourSet formatBehaviours(ModuleFormat format) {
    return format < FORMAT_COUNT ? FORMAT_TABLE[format].behaviours : 0;
}

const char* formatName(ModuleFormat format) {
    return format < FORMAT_COUNT ? FORMAT_TABLE[format].name : "";
}
