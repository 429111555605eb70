// S3M's command letters and volume column in the engine's commands. Scream Tracker keeps one
// memory for most commands, so a zero parameter stays zero here and the player supplies the
// memory; the fine forms of D, E and F are told apart after that (BEHAVIOUR_FINE_SLIDE_FORMS).
#include "module/commands.h"

namespace {

constexpr uint8_t letter(char c) { return static_cast<uint8_t>(c - 'A' + 1); }

// Sxy: one command per x.
CellCommand decodeSpecial(uint8_t param) {
    const uint8_t x = param >> 4;
    const uint8_t y = param & 0x0F;
    switch (x) {
        case 0x0: return {CMD_AMIGA_FILTER, y};
        case 0x1: return {CMD_GLISSANDO, y};
        case 0x2: return {CMD_SET_MIDDLE_C_FINETUNE, y};
        case 0x3: return {CMD_VIBRATO_WAVEFORM, y};
        case 0x4: return {CMD_TREMOLO_WAVEFORM, y};
        case 0x5: return {CMD_PANBRELLO_WAVEFORM, y};
        // Sixteen steps from hard left (0) to hard right (F), as the pan table's.
        case 0x8: return {CMD_SET_PANNING, static_cast<uint8_t>(y * 17)};
        case 0xB: return {CMD_PATTERN_LOOP, y};
        case 0xC: return {CMD_NOTE_CUT, y};
        case 0xD: return {CMD_NOTE_DELAY, y};
        case 0xE: return {CMD_PATTERN_DELAY, y};
        case 0xF: return {CMD_INVERT_LOOP, y};
        // S6x, S7x, S9x and SAx belong to Impulse Tracker's instruments and surround; SAx was
        // an old stereo control Scream Tracker 3 no longer plays.
        default: return {CMD_NONE, 0};
    }
}

}  // namespace

CellCommand decodeS3mEffect(uint8_t command, uint8_t param, bool tempoSlides) {
    switch (command) {
        case letter('A'): return param ? CellCommand{CMD_SET_SPEED, param} : CellCommand{};
        case letter('B'): return {CMD_POSITION_JUMP, param};
        case letter('C'): {
            // Decimal digits as written; rows beyond 63 start the next pattern at its first.
            const int row = (param >> 4) * 10 + (param & 0x0F);
            return {CMD_PATTERN_BREAK, static_cast<uint8_t>(row > 63 ? 0 : row)};
        }
        case letter('D'): return {CMD_VOLUME_SLIDE, param};
        case letter('E'): return {CMD_PORTA_DOWN, param};
        case letter('F'): return {CMD_PORTA_UP, param};
        case letter('G'): return {CMD_TONE_PORTA, param};
        case letter('H'): return {CMD_VIBRATO, param};
        case letter('I'): return {CMD_TREMOR, param};
        case letter('J'): return {CMD_ARPEGGIO, param};  // J00 repeats the memory
        case letter('K'): return {CMD_VIBRATO_VOLUME_SLIDE, param};
        case letter('L'): return {CMD_TONE_PORTA_VOLUME_SLIDE, param};
        case letter('O'): return {CMD_SAMPLE_OFFSET, param};
        case letter('Q'): return {CMD_MULTI_RETRIGGER, param};
        case letter('R'): return {CMD_TREMOLO, param};
        case letter('S'): return decodeSpecial(param);
        case letter('T'):
            if (param >= 0x20) return {CMD_SET_TEMPO, param};
            // Scream Tracker plays no tempo below 32; later trackers slide it with T0x and T1x.
            return tempoSlides ? CellCommand{CMD_TEMPO_SLIDE, param} : CellCommand{};
        case letter('U'): return {CMD_FINE_VIBRATO, param};
        // Values beyond 64 leave the global volume as it is.
        case letter('V'):
            return param <= 64 ? CellCommand{CMD_SET_GLOBAL_VOLUME, param} : CellCommand{};
        case letter('W'): return {CMD_GLOBAL_VOLUME_SLIDE, param};
        // 00..80 from left to right; beyond that (A4: surround) leaves the panning.
        case letter('X'):
            if (param > 0x80) return {};
            return {CMD_SET_PANNING, static_cast<uint8_t>(param >= 0x80 ? 255 : param * 2)};
        case letter('Y'): return {CMD_PANBRELLO, param};
        // M, N, P (channel volume and panning slides), Z (MIDI macros) and anything else are
        // other trackers' and play as nothing.
        default: return {};
    }
}

CellCommand decodeS3mVolumeColumn(uint8_t volume) {
    if (volume <= 64) return {VOL_SET_VOLUME, volume};
    // 128..192: a panning from left to right, as ModPlug Tracker and OpenMPT write it.
    if (volume >= 128 && volume <= 192) {
        const int panning = (volume - 128) * 4;
        return {VOL_SET_PANNING, static_cast<uint8_t>(panning > 255 ? 255 : panning)};
    }
    // 65..127 are louder than Scream Tracker allows: the loudest; 255 is the empty column.
    return volume < 128 ? CellCommand{VOL_SET_VOLUME, 64} : CellCommand{};
}
