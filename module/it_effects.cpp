// Impulse Tracker's effect letters and volume-column bytes in the engine's commands.
#include "module/commands.h"

namespace {

// Sxy: one command per x.
CellCommand decodeSpecial(uint8_t param) {
    const uint8_t x = param >> 4;
    const uint8_t y = param & 0x0F;
    switch (x) {
        case 0x1: return {CMD_GLISSANDO, y};
        // S3x, S4x, S5x: 0 sine, 1 ramp down, 2 square, 3 random, as MOD's E4x numbers them. (The
        // tracker's manual lists square second; the tracker plays ramp down there.)
        case 0x3: return {CMD_VIBRATO_WAVEFORM, y};
        case 0x4: return {CMD_TREMOLO_WAVEFORM, y};
        case 0x5: return {CMD_PANBRELLO_WAVEFORM, y};
        case 0x6: return {CMD_FINE_PATTERN_DELAY, y};
        case 0x7:
            if (y <= 2) return {CMD_PAST_NOTES, y};
            if (y <= 6) return {CMD_SET_NEW_NOTE_ACTION, static_cast<uint8_t>(y - 3)};
            if (y <= 0xC) {
                // S77/S78 volume, S79/S7A panning, S7B/S7C pitch: off, on.
                const uint8_t which = static_cast<uint8_t>((y - 7) / 2);
                const uint8_t on = static_cast<uint8_t>((y - 7) % 2);
                return {CMD_ENVELOPE_SWITCH, static_cast<uint8_t>(which | on << 2)};
            }
            return {CMD_NONE, 0};
        // S80 is the far left, S8F the far right.
        case 0x8: return {CMD_SET_PANNING, static_cast<uint8_t>(y * 17)};
        case 0x9:
            if (y <= 1) return {CMD_SURROUND, y};
            return {CMD_NONE, 0};
        case 0xA: return {CMD_HIGH_OFFSET, y};
        case 0xB: return {CMD_PATTERN_LOOP, y};
        case 0xC: return {CMD_NOTE_CUT, y};
        case 0xD: return {CMD_NOTE_DELAY, y};
        case 0xE: return {CMD_PATTERN_DELAY, y};
        case 0xF: return {CMD_SET_MIDI_MACRO, y};
        default: return {CMD_NONE, 0};  // S0x, S2x: nothing in Impulse Tracker 2.14
    }
}

}  // namespace

CellCommand decodeItEffect(uint8_t effect, uint8_t param) {
    switch (effect) {
        case 1: return param ? CellCommand{CMD_SET_SPEED, param} : CellCommand{CMD_NONE, 0};
        case 2: return {CMD_POSITION_JUMP, param};
        case 3: return {CMD_PATTERN_BREAK, param};  // hexadecimal, unlike XM's
        case 4: return {CMD_VOLUME_SLIDE, param};
        case 5: return {CMD_PORTA_DOWN, param};
        case 6: return {CMD_PORTA_UP, param};
        case 7: return {CMD_TONE_PORTA, param};
        case 8: return {CMD_VIBRATO, param};
        case 9: return {CMD_TREMOR, param};
        case 10: return {CMD_ARPEGGIO, param};  // J00 recalls the last arpeggio
        case 11: return {CMD_VIBRATO_VOLUME_SLIDE, param};
        case 12: return {CMD_TONE_PORTA_VOLUME_SLIDE, param};
        case 13:
            return param <= 64 ? CellCommand{CMD_SET_CHANNEL_VOLUME, param}
                               : CellCommand{CMD_NONE, 0};
        case 14: return {CMD_CHANNEL_VOLUME_SLIDE, param};
        case 15: return {CMD_SAMPLE_OFFSET, param};
        case 16:
            // P0x slides right and Px0 left: the engine's order is right in the high nibble.
            return {CMD_PANNING_SLIDE, static_cast<uint8_t>(param << 4 | param >> 4)};
        case 17: return {CMD_MULTI_RETRIGGER, param};
        case 18: return {CMD_TREMOLO, param};
        case 19: return decodeSpecial(param);
        case 20:
            return param >= 0x20 ? CellCommand{CMD_SET_TEMPO, param}
                                 : CellCommand{CMD_TEMPO_SLIDE, param};
        case 21: return {CMD_FINE_VIBRATO, param};
        case 22:
            return param <= 128 ? CellCommand{CMD_SET_GLOBAL_VOLUME, param}
                                : CellCommand{CMD_NONE, 0};
        case 23: return {CMD_GLOBAL_VOLUME_SLIDE, param};
        case 24: return {CMD_SET_PANNING, param};
        case 25: return {CMD_PANBRELLO, param};
        case 26: return {CMD_MIDI_MACRO, param};
        default: return {CMD_NONE, 0};
    }
}

CellCommand decodeItVolumeColumn(uint8_t v) {
    // The tone portamento's speeds for g0..g9 (g0: the memory).
    static const uint8_t portaSpeeds[10] = {0, 1, 4, 8, 16, 32, 64, 96, 128, 255};
    if (v <= 64) return {VOL_SET_VOLUME, v};
    if (v <= 74) return {VOL_FINE_SLIDE_UP, static_cast<uint8_t>(v - 65)};
    if (v <= 84) return {VOL_FINE_SLIDE_DOWN, static_cast<uint8_t>(v - 75)};
    if (v <= 94) return {VOL_SLIDE_UP, static_cast<uint8_t>(v - 85)};
    if (v <= 104) return {VOL_SLIDE_DOWN, static_cast<uint8_t>(v - 95)};
    // e and f slide as the effect column's portamentos of four times their value.
    if (v <= 114) return {VOL_PORTA_DOWN, static_cast<uint8_t>((v - 105) * 4)};
    if (v <= 124) return {VOL_PORTA_UP, static_cast<uint8_t>((v - 115) * 4)};
    if (v >= 128 && v <= 192) {
        const int panning = (v - 128) * 4;  // 0..64 onto 0..255
        return {VOL_SET_PANNING, static_cast<uint8_t>(panning > 255 ? 255 : panning)};
    }
    if (v >= 193 && v <= 202) return {VOL_TONE_PORTA, portaSpeeds[v - 193]};
    if (v >= 203 && v <= 212) return {VOL_VIBRATO, static_cast<uint8_t>(v - 203)};
    return {VOL_NONE, 0};
}
