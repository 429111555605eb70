#include "module/cell_text.h"

#include <cstring>

namespace {

const char DIGITS[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";

using CellFormatter = int (*)(const NoteCell& cell, char* text);

// Two hex digits, or two dots for 0.
void number(uint8_t value, char* text) {
    if (value == 0) {
        memcpy(text, "..", 2);
        return;
    }
    text[0] = DIGITS[value >> 4];
    text[1] = DIGITS[value & 15];
}

// An effect letter (0..35 as 0-9, A-Z) and its parameter; dots for none.
void effect(uint8_t command, uint8_t param, char* text) {
    if (command == 0 && param == 0) {
        memcpy(text, "...", 3);
        return;
    }
    text[0] = command < 36 ? DIGITS[command] : '?';
    text[1] = DIGITS[param >> 4];
    text[2] = DIGITS[param & 15];
}

// FastTracker 2's volume column: 10-50 a volume (shown 00-40), then the commands, each a symbol
// and one digit.
void xmVolume(uint8_t byte, char* text) {
    static const char SYMBOLS[] = "-+duSVPLRM";  // 6x..Fx
    if (byte >= 0x10 && byte <= 0x50) {
        const uint8_t volume = byte - 0x10;
        text[0] = DIGITS[volume >> 4];
        text[1] = DIGITS[volume & 15];
    } else if (byte >= 0x60) {
        text[0] = SYMBOLS[(byte >> 4) - 6];
        text[1] = DIGITS[byte & 15];
    } else {
        memcpy(text, "..", 2);
    }
}

// The note and the instrument with a space after each; where the next field goes.
char* noteAndInstrument(const NoteCell& cell, char* text) {
    formatNoteText(cell.shownNote ? cell.shownNote : cell.note, text);
    text[3] = ' ';
    number(cell.instrument, text + 4);
    text[6] = ' ';
    return text + 7;
}

// The effect at `at`, the last field of `text`; the length of the text.
int endWithEffect(const NoteCell& cell, char* at, const char* text) {
    effect(cell.shownEffect, cell.shownParam, at);
    at[3] = '\0';
    return static_cast<int>(at + 3 - text);
}

int xmCell(const NoteCell& cell, char* text) {
    char* at = noteAndInstrument(cell, text);
    xmVolume(cell.shownVolume, at);
    at[2] = ' ';
    return endWithEffect(cell, at + 3, text);
}

int modCell(const NoteCell& cell, char* text) {
    return endWithEffect(cell, noteAndInstrument(cell, text), text);
}

// Two decimal digits, or two dots for none.
void decimal(int value, bool none, char* text) {
    if (none) {
        memcpy(text, "..", 2);
    } else if (value > 99) {
        memcpy(text, "**", 2);
    } else {
        text[0] = DIGITS[value / 10];
        text[1] = DIGITS[value % 10];
    }
}

// Scream Tracker 3 and Impulse Tracker: instruments and volumes in decimal, effects as letters
// (1 is A) with a hex parameter.
char* letterEffect(const NoteCell& cell, char* at) {
    if (cell.shownEffect == 0) {
        memcpy(at, "...", 3);
    } else {
        at[0] = cell.shownEffect <= 26 ? static_cast<char>('A' + cell.shownEffect - 1) : '?';
        at[1] = DIGITS[cell.shownParam >> 4];
        at[2] = DIGITS[cell.shownParam & 15];
    }
    return at + 3;
}

char* noteAndDecimalInstrument(const NoteCell& cell, char* text) {
    formatNoteText(cell.shownNote ? cell.shownNote : cell.note, text);
    text[3] = ' ';
    decimal(cell.instrument, cell.instrument == 0, text + 4);
    text[6] = ' ';
    return text + 7;
}

int s3mCell(const NoteCell& cell, char* text) {
    char* at = noteAndDecimalInstrument(cell, text);
    decimal(cell.shownVolume, cell.shownVolume == 255, at);
    at[2] = ' ';
    at = letterEffect(cell, at + 3);
    *at = '\0';
    return static_cast<int>(at - text);
}

// Impulse Tracker's volume column: v00-v64 a volume, p00-p64 a panning, a-h with a digit the
// slides, portamento and vibrato.
void itVolume(uint8_t byte, char* text) {
    struct Range {
        uint8_t first, last;
        char letter;
    };
    static const Range RANGES[] = {
        {0, 64, 'v'},    {65, 74, 'a'},   {75, 84, 'b'},   {85, 94, 'c'},   {95, 104, 'd'},
        {105, 114, 'e'}, {115, 124, 'f'}, {128, 192, 'p'}, {193, 202, 'g'}, {203, 212, 'h'}};
    memcpy(text, byte == 255 ? "..." : "???", 3);
    for (const Range& range : RANGES) {
        if (byte < range.first || byte > range.last) continue;
        text[0] = range.letter;
        decimal(byte - range.first, false, text + 1);
    }
}

int itCell(const NoteCell& cell, char* text) {
    char* at = noteAndDecimalInstrument(cell, text);
    itVolume(cell.shownVolume, at);
    at[3] = ' ';
    at = letterEffect(cell, at + 4);
    *at = '\0';
    return static_cast<int>(at - text);
}

// Each format's own; those without one are shown as XM.
CellFormatter formatterOf(ModuleFormat format) {
    switch (format) {
        case FORMAT_MOD: return modCell;
        case FORMAT_S3M: return s3mCell;
        case FORMAT_IT: return itCell;
        case FORMAT_XM:
        case FORMAT_COUNT: break;
    }
    return xmCell;
}

}  // namespace

void formatNoteText(uint8_t note, char* text) {
    static const char NAMES[] = "C-C#D-D#E-F-F#G-G#A-A#B-";
    if (note == NOTE_KEY_OFF) {
        memcpy(text, "===", 3);
    } else if (note == NOTE_CUT) {
        memcpy(text, "^^^", 3);
    } else if (note == NOTE_FADE) {
        memcpy(text, "~~~", 3);
    } else if (note == 0) {
        memcpy(text, "...", 3);
    } else if (note >= 1 && note <= NOTE_COUNT) {
        const int index = (note - 1) % 12;
        text[0] = NAMES[2 * index];
        text[1] = NAMES[2 * index + 1];
        text[2] = DIGITS[(note - 1) / 12];
    } else {
        memcpy(text, "???", 3);  // a byte that is no note
    }
}

int formatCellText(ModuleFormat format, const NoteCell& cell, char* text) {
    return formatterOf(format)(cell, text);
}
