// Impulse Tracker seeds: one small module per IT feature (every new-note action, the duplicate
// checks, the past-note commands, every envelope with carry, the filter through default and
// embedded macros, compressed, stereo and unsigned samples with sustain loops, the effect column,
// the old instrument layout, the song's own layout). The fuzz corpus and the tests share them.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/it_writer.h"

struct ItSeed {
    std::string name;  // without the ".it"
    std::vector<uint8_t> bytes;
};

std::vector<ItSeed> itSeeds();
