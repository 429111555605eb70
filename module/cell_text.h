// A pattern cell as the format's own tracker shows it, for pattern views: fixed-width fields
// separated by single spaces, a dot for every character of an empty field. One function per
// format, chosen by cellTextFormat; a format without one of its own is shown as XM.
//
//     XM   "C#4 01 40 A0F"    note, instrument (hex), volume column, effect and parameter
//     MOD  "C-4 01 A0F"       note, sample (hex), effect and parameter
//     S3M  "C-4 01 64 A06"    note, instrument and volume in decimal, effect letter, parameter
//     IT   "C-4 01 v64 A06"   the volume column as v (volume), p (panning) or a-h and a value
//     empty "... .. .. ..."   and "===" key off, "^^^" note cut, "~~~" note fade
//
//     char text[CELL_TEXT_SIZE];
//     formatCellText(song->format, cell, text);
#pragma once

#include <cstdint>

#include "module/behaviours.h"
#include "module/song.h"

// Room for any format's cell text with its terminating zero.
constexpr int CELL_TEXT_SIZE = 24;

// Writes the cell's text into `text` (CELL_TEXT_SIZE bytes); its length in characters, the same
// for every cell of the format.
int formatCellText(ModuleFormat format, const NoteCell& cell, char* text);

// The note as three characters: "C-4", "C#4", "===" key off, "^^^" cut, "~~~" fade, "..." none.
void formatNoteText(uint8_t note, char* text);
