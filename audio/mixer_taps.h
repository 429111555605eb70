// The mixer's interpolations beyond the linear one, and the Amiga's sound for MOD files.
//
// Nearest, cubic and windowed-sinc interpolation weigh the frames around a position with a row of
// 16-bit integer coefficients that sum to 2^14: the value is the integer sum of coefficient x
// frame, times 2^-14. Integer sums are exact in any order, so every path and every platform gets
// the same bits. The tables are made in code the first time they are wanted, from arithmetic
// that rounds the same everywhere (basic IEEE operations, no library sine or exponential).
//
// Amiga mode holds each sample value until the next, as Paula does, and band-limits the steps to
// the output rate: the value at a position is the sum of the frames held around it, each weighed
// by how much of a band-limited step its start and end contribute. The output filters of the A500
// and the A1200 and the LED filter then shape the mix (amigaFilterBlock).
#pragma once

#include <cstdint>

// How the mixer reads a sample between its frames.
enum class Interpolation : uint8_t {
    NEAREST,  // the frame nearest the position
    LINEAR,  // between the two frames around it (the default; exact to the bit as it always was)
    CUBIC,  // Catmull-Rom spline through four frames
    SINC,  // Kaiser-windowed sinc, 8 taps, or more when the sample plays faster than the output
    AMIGA,  // held frames with band-limited steps (the Amiga mode of MOD files)
};
constexpr int INTERPOLATION_COUNT = 5;
const char* interpolationName(Interpolation mode);  // "nearest", "linear", ...

// Which Amiga the Amiga mode sounds like: its fixed output filters (and the LED filter of both).
enum class AmigaModel : uint8_t { OFF, A500, A1200 };
const char* amigaModelName(AmigaModel model);  // "off", "a500", "a1200"

// Coefficients of a table row sum to this.
constexpr int32_t TAP_UNIT = 1 << 14;

// A kernel as rows of `taps` coefficients: row p serves the positions whose fraction is nearest
// p / phases (p from 0 to phases). The first tap weighs frame i - before, i the frame the position
// stands in.
struct TapTable {
    int32_t taps;
    int32_t before;
    int32_t phases;
    const int16_t* rows;
};

const TapTable* nearestTable();
const TapTable* cubicTable();
// The sinc kernel for a voice moving `step` (32.32) frames per output frame: cut-off below the
// sample's own Nyquist frequency up to a step of 1, below the output's beyond (the kernel then
// spans 8 output frames, so more taps). Steps beyond 8 take the kernel of 8.
const TapTable* sincTable(uint64_t step);
// The widest table sincTable hands out: the frames a sinc row reaches at most.
constexpr int32_t MOST_TAPS = 64;

inline int32_t phaseOf(const TapTable& table, uint64_t position) {
    // Bit 0 of the fraction is never read, as in the linear mixer.
    const uint64_t fraction = static_cast<uint32_t>(position) & ~uint32_t{1};
    return static_cast<int32_t>(
        (fraction * static_cast<uint64_t>(table.phases) + (uint64_t{1} << 31)) >> 32);
}

inline const int16_t* rowOf(const TapTable& table, uint64_t position) {
    return table.rows + static_cast<int64_t>(phaseOf(table, position)) * table.taps;
}

// The band-limited step of the Amiga mode: rises from 0 to STEP_UNIT over STEP_SPAN output frames
// around the moment of the step, sampled STEP_RESOLUTION times per output frame.
constexpr int32_t STEP_UNIT = 1 << 20;
constexpr int32_t STEP_SPAN = 16;
constexpr int32_t STEP_RESOLUTION = 512;
// STEP_SPAN x STEP_RESOLUTION + 1 values, the first 0 and the last STEP_UNIT.
const int32_t* bandLimitedStep();

// A hash of every table (FNV-1a over their bits), the same on every platform.
uint64_t mixerTablesHash();

// The state of the Amiga's output filters on both sides of the mix: a one-pole low-pass (A500
// 4.4 kHz, A1200 34 kHz), the LED filter (a two-pole low-pass at 3.1 kHz) when it is on, and the
// one-pole high-pass of the output's coupling capacitor (about 5 Hz).
struct AmigaFilterState {
    int32_t rate;  // the coefficients below are for this rate and model (0: none yet)
    AmigaModel model;
    double lowpass;
    double ledB0, ledB1, ledB2, ledA1, ledA2;
    double highpass;
    double fixed[2];  // the one-pole low-pass's output
    double ledIn[2][2];  // the LED filter's last two inputs and outputs
    double ledOut[2][2];
    double highIn[2];
    double highOut[2];
};

// Back to rest: no sound has gone through.
void resetAmigaFilter(AmigaFilterState* state);
// Filters `count` stereo frames in place as `model` at `rate`, the LED filter on when `led`.
void amigaFilterBlock(AmigaFilterState* state, float* frames, int32_t count, int32_t rate,
                      AmigaModel model, bool led);
