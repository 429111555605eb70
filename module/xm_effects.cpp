// XM's effect numbers and volume-column bytes in the engine's commands. MOD cells use the same
// numbers (0..F), so the MOD loader decodes through here too once ProTracker's parameter rules
// are applied.
#include "module/commands.h"

namespace {

// Exy: one command per x.
CellCommand decodeExtended(uint8_t param) {
    static const uint8_t byX[16] = {
        CMD_AMIGA_FILTER,     CMD_FINE_PORTA_UP, CMD_FINE_PORTA_DOWN, CMD_GLISSANDO,
        CMD_VIBRATO_WAVEFORM, CMD_SET_FINETUNE,  CMD_PATTERN_LOOP,    CMD_TREMOLO_WAVEFORM,
        CMD_SET_PANNING,      CMD_RETRIGGER,     CMD_FINE_VOLUME_UP,  CMD_FINE_VOLUME_DOWN,
        CMD_NOTE_CUT,         CMD_NOTE_DELAY,    CMD_PATTERN_DELAY,   CMD_INVERT_LOOP,
    };
    const uint8_t x = param >> 4;
    const uint8_t y = param & 0x0F;
    // E8x is a coarse panning: sixteen steps across the field.
    if (x == 0x8) return {CMD_SET_PANNING, static_cast<uint8_t>(y * 16)};
    return {byX[x], y};
}

}  // namespace

CellCommand decodeXmEffect(uint8_t effect, uint8_t param) {
    const uint8_t x = param >> 4;
    switch (effect) {
        case 0x00: return param ? CellCommand{CMD_ARPEGGIO, param} : CellCommand{CMD_NONE, 0};
        case 0x01: return {CMD_PORTA_UP, param};
        case 0x02: return {CMD_PORTA_DOWN, param};
        case 0x03: return {CMD_TONE_PORTA, param};
        case 0x04: return {CMD_VIBRATO, param};
        case 0x05: return {CMD_TONE_PORTA_VOLUME_SLIDE, param};
        case 0x06: return {CMD_VIBRATO_VOLUME_SLIDE, param};
        case 0x07: return {CMD_TREMOLO, param};
        case 0x08: return {CMD_SET_PANNING, param};
        case 0x09: return {CMD_SAMPLE_OFFSET, param};
        case 0x0A: return {CMD_VOLUME_SLIDE, param};
        case 0x0B: return {CMD_POSITION_JUMP, param};
        case 0x0C: return {CMD_SET_VOLUME, param};
        case 0x0D: {
            // Decimal digits as written; each nibble may be up to 15, so D1F is row 25. Rows
            // beyond 63 start the next pattern at its first row.
            const int row = x * 10 + (param & 0x0F);
            return {CMD_PATTERN_BREAK, static_cast<uint8_t>(row > 63 ? 0 : row)};
        }
        case 0x0E: return decodeExtended(param);
        case 0x0F: return {param <= 0x1F ? CMD_SET_SPEED : CMD_SET_TEMPO, param};
        case 0x10: return {CMD_SET_GLOBAL_VOLUME, param > 64 ? uint8_t{64} : param};
        case 0x11: return {CMD_GLOBAL_VOLUME_SLIDE, param};
        case 0x14: return {CMD_KEY_OFF, param};
        case 0x15: return {CMD_ENVELOPE_POSITION, param};
        case 0x19: return {CMD_PANNING_SLIDE, param};
        case 0x1B: return {CMD_MULTI_RETRIGGER, param};
        case 0x1D: return {CMD_TREMOR, param};
        case 0x21:
            if (x == 1) return {CMD_EXTRA_FINE_PORTA_UP, static_cast<uint8_t>(param & 0x0F)};
            if (x == 2) return {CMD_EXTRA_FINE_PORTA_DOWN, static_cast<uint8_t>(param & 0x0F)};
            return {CMD_NONE, 0};
        default: return {CMD_NONE, 0};  // the numbers XM leaves unused
    }
}

CellCommand decodeXmVolumeColumn(uint8_t v) {
    const uint8_t x = v & 0x0F;
    if (v >= 0x10 && v <= 0x50) return {VOL_SET_VOLUME, static_cast<uint8_t>(v - 0x10)};
    switch (v >> 4) {
        case 0x6: return {VOL_SLIDE_DOWN, x};
        case 0x7: return {VOL_SLIDE_UP, x};
        case 0x8: return {VOL_FINE_SLIDE_DOWN, x};
        case 0x9: return {VOL_FINE_SLIDE_UP, x};
        case 0xA: return {VOL_VIBRATO_SPEED, x};
        case 0xB: return {VOL_VIBRATO, x};
        case 0xC: return {VOL_SET_PANNING, static_cast<uint8_t>(x * 16)};
        case 0xD: return {VOL_PANNING_SLIDE_LEFT, x};
        case 0xE: return {VOL_PANNING_SLIDE_RIGHT, x};
        case 0xF: return {VOL_TONE_PORTA, static_cast<uint8_t>(x * 16)};
        default: return {VOL_NONE, 0};  // 0x01..0x0F and 0x51..0x5F
    }
}
