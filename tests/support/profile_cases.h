// Left/right modules, one per playing behaviour: the behaviour on the left channel, what it
// should sound like written out plainly on the right (as plain notes and volumes, or as a sample
// that holds the expected sound), so that a player that plays the behaviour as the tracker did
// renders both sides alike. The FastTracker 2 set is XM, the ProTracker set MOD.
//
//     for (const ProfileCase& c : ft2Cases()) { ... brom_load_memory(c.bytes.data(), ...) ... }
//     double difference = sideDifference(stereo, frames);   // 0: the sides agree
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

struct ProfileCase {
    std::string name;  // also the file name, with the extension
    std::string extension;  // "xm" or "mod"
    std::vector<uint8_t> bytes;
};

std::vector<ProfileCase> ft2Cases();
std::vector<ProfileCase> protrackerCases();

// The energy of left minus right against the energy of both sides, over interleaved stereo
// frames: 0 when the sides agree, about 1 when they have nothing in common, 2 when one is the
// other's negative; 0 for silence.
double sideDifference(const float* stereo, size_t frames);
