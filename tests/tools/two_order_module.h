// The small module the player's tests render: two channels panned apart and two orders of 16
// rows at speed 3, 42,336 frames each at 44100; every note ends within its row, so each order
// starts in silence.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "module/xm_writer.h"

// `title` replaces the writer's usual name when given.
inline std::vector<uint8_t> twoOrderModule(const std::string& title = "") {
    XmSong xm = makeXmSong(2, 2);
    if (!title.empty()) xm.name = title;
    xm.speed = 3;
    xm.orders = {0, 1};
    for (XmPattern& pattern : xm.patterns) pattern = makePattern(16, 2);
    cellAt(xm.patterns[0], 2, 0, 0) = {49, 1, 0, 0x8, 0x20};
    cellAt(xm.patterns[0], 2, 8, 1) = {53, 1, 0, 0x8, 0xE0};
    cellAt(xm.patterns[1], 2, 0, 0) = {56, 1, 0, 0x8, 0x20};
    cellAt(xm.patterns[1], 2, 4, 1) = {61, 1, 0, 0x8, 0xE0};
    xm.instruments.push_back(makeInstrument(makeSample(sineFrames(400, 40, 9000), true)));
    return writeXm(xm);
}
