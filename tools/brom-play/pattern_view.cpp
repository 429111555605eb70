#include "tools/brom-play/pattern_view.h"

#include <cstdio>

namespace {

constexpr int ROW_COLUMNS = 6;  // ">  31 "
constexpr char SEPARATOR[] = " |";

// One row: the marker, the number and the cells of `channels` channels.
std::string rowLine(const brom_module* module, int pattern, int row, int channels, bool playing) {
    char text[32];
    snprintf(text, sizeof text, "%c %3d ", playing ? '>' : ' ', row);
    std::string line = text;
    for (int c = 0; c < channels; ++c) {
        if (c > 0) line += SEPARATOR;
        if (brom_cell_text(module, pattern, row, c, text, sizeof text) > 0) line += text;
    }
    return line;
}

}  // namespace

std::vector<std::string> patternViewLines(const brom_module* module, const brom_position& at,
                                          int rows, int width) {
    std::vector<std::string> lines(rows > 0 ? static_cast<size_t>(rows) : 0);
    const int patternRows = brom_pattern_rows(module, at.pattern);
    char probe[32];
    const int cellColumns = brom_cell_text(module, at.pattern, 0, 0, probe, sizeof probe);
    if (patternRows <= 0 || cellColumns <= 0) return lines;
    const int separator = static_cast<int>(sizeof SEPARATOR) - 1;
    const int room = width - 1 - ROW_COLUMNS + separator;
    int channels = room > 0 ? room / (cellColumns + separator) : 0;
    if (channels > brom_channel_count(module)) channels = brom_channel_count(module);
    for (int k = 0; k < rows; ++k) {
        const int row = at.row - rows / 2 + k;
        if (row < 0 || row >= patternRows) continue;
        lines[static_cast<size_t>(k)] = rowLine(module, at.pattern, row, channels, row == at.row);
    }
    return lines;
}
