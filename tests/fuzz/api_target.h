// Fuzz target of the public library (brom/brom.h), driven as an application drives it: the input
// is a module followed by a script, and the script's steps (renders in s16 and f32 of odd sizes,
// seeks by time and by order and row, rate changes, mutes, repeat counts) run one after another
// on the loaded module. After every step the library must keep what brom.h promises: no more
// frames than asked, none after the end, silence once every channel is muted, refusals exactly
// where the header says. A broken promise aborts with "engine: ...", as the other targets do.
//
// The input's last byte is the number of steps; the 3 bytes of each step come before it, and
// everything before them is the module. withApiScript appends a script to a module. Findings go
// to tests/fuzz/regressions-api/ as they are, script and all.
//
// Only brom.h is used here, so the target links against the library alone (fuzz_api, api_tests).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

int fuzzApiScript(const uint8_t* data, size_t size);

enum class ApiOp : uint8_t {
    RENDER_S16,  // frames: the argument modulo 4097
    RENDER_F32,
    SEEK_MS,  // the argument in ms; 0xFFFF asks for -1 ms
    SEEK_ORDER_ROW,  // order: low byte, row: high byte
    SET_RATE,  // the argument times 4, in Hz
    MUTE,  // channel: low byte (muted when bit 0 of the high byte is set); 0xFF: all
    REPEAT,  // count: the low byte as a signed number
    COUNT
};

struct ApiStep {
    ApiOp op;
    uint16_t argument;
};

// A script that takes every step at least once, some of them refused (the first rate change comes
// after a render, the second after a seek): the API seeds carry it.
inline std::vector<ApiStep> everyStepScript() {
    return {{ApiOp::RENDER_S16, 1001}, {ApiOp::SET_RATE, 22050 / 4},
            {ApiOp::SEEK_MS, 1500},    {ApiOp::SET_RATE, 22050 / 4},
            {ApiOp::RENDER_F32, 333},  {ApiOp::SEEK_ORDER_ROW, 0x0301},
            {ApiOp::RENDER_S16, 4095}, {ApiOp::MUTE, 0x0100},
            {ApiOp::RENDER_F32, 777},  {ApiOp::MUTE, 0x00FF},
            {ApiOp::RENDER_S16, 2048}, {ApiOp::RENDER_F32, 2047},
            {ApiOp::MUTE, 0x0000},     {ApiOp::REPEAT, 1},
            {ApiOp::SEEK_MS, 0xFFFF},  {ApiOp::SEEK_MS, 3000},
            {ApiOp::RENDER_S16, 4096}, {ApiOp::REPEAT, 0xFF},
            {ApiOp::RENDER_F32, 4096}, {ApiOp::REPEAT, 0xFE},
            {ApiOp::SET_RATE, 1000},   {ApiOp::SEEK_ORDER_ROW, 0x00FF},
            {ApiOp::SEEK_MS, 100},     {ApiOp::SET_RATE, 192000 / 4},
            {ApiOp::RENDER_S16, 999},  {ApiOp::MUTE, 0x0140},
            {ApiOp::RENDER_F32, 4096}};
}

// The module's bytes followed by the script and its length (255 steps at most).
inline std::vector<uint8_t> withApiScript(std::vector<uint8_t> module,
                                          const std::vector<ApiStep>& steps) {
    const size_t count = steps.size() < 255 ? steps.size() : 255;
    for (size_t k = 0; k < count; ++k) {
        module.push_back(static_cast<uint8_t>(steps[k].op));
        module.push_back(static_cast<uint8_t>(steps[k].argument & 0xFF));
        module.push_back(static_cast<uint8_t>(steps[k].argument >> 8));
    }
    module.push_back(static_cast<uint8_t>(count));
    return module;
}
