// The pattern view under brom-play's status line (the v key): the rows around the one playing,
// each cell in the format's own notation (brom_cell_text), as many channels as the width takes,
// the playing row in the middle and marked with '>'. Row numbers are the status line's.
//
//   >  31 C-4 01 40 ... |... .. .. ... |E-4 05 .. A0F
#pragma once

#include <brom/brom.h>

#include <string>
#include <vector>

// `rows` lines of at most `width` - 1 columns for the pattern and row of `at`; lines before the
// pattern's first row or after its last are empty.
std::vector<std::string> patternViewLines(const brom_module* module, const brom_position& at,
                                          int rows, int width);
