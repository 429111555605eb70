// The mixer's inner loops for the vector instruction sets. The piece logic (boundaries, ramps,
// loops) stays in mixer.cpp; a kernel renders the frames of one piece and nothing else.
//
// Frames of a piece are independent once their positions are known: after the first frame the
// position moves by the same amount every frame (bit 0 of the fraction follows the step's), and
// bit 0 never reaches the frame it renders. So frame k lies at base + k x increment, and the
// kernels render several at once with the scalar path's double-precision arithmetic, operation for
// operation, which makes them bit-identical to it.
#pragma once

#include <cstdint>
#include <cstring>

struct FrameRun {
    const int16_t* data;
    float* out;  // 2 x frames floats, left and right
    uint64_t base;  // 32.32 position of frame 0, give or take bit 0
    uint64_t increment;  // added per frame, modulo 2^64
    int32_t frames;
    // Frame k's gains are gain + k x delta. The caller makes sure that sum is exact for every k up
    // to frames, so that it equals the ramp's running sum; the steady kernel ignores the deltas.
    double gainLeft;
    double gainRight;
    double deltaLeft;
    double deltaRight;
};

// The two frames a position interpolates between: data[i] in the low half, data[i + 1] in the
// high half.
inline uint32_t framePair(const int16_t* data, uint64_t position) {
    uint32_t pair;
    memcpy(&pair, data + (position >> 32), 4);
    return pair;
}

// 2^52 as a double: with a 32-bit integer in the low half of its bits it is 2^52 plus that integer.
constexpr long long TWO_TO_52_BITS = 0x4330000000000000LL;
constexpr double TWO_TO_52 = 4503599627370496.0;

// The run's first position with bit 0 cleared: bit 0 is never read, and the increment is even.
inline uint64_t evenBase(const FrameRun& run) { return run.base & ~uint64_t{1}; }

// One frame the scalar way, for the frames a kernel's groups leave over: the value interpolated at
// `position`, times each gain, added to the frame and rounded to single precision.
inline void addFrameAt(const int16_t* data, uint64_t position, float* frame, double gainLeft,
                       double gainRight, double interpolationScale) {
    uint32_t i = static_cast<uint32_t>(position >> 32);
    double t = static_cast<double>(static_cast<uint32_t>(position) >> 1) * interpolationScale;
    int32_t s0 = data[i];
    int32_t s1 = data[i + 1];
    double value = s0 + t * (s1 - s0);
    frame[0] = static_cast<float>(static_cast<double>(frame[0]) + value * gainLeft);
    frame[1] = static_cast<float>(static_cast<double>(frame[1]) + value * gainRight);
}

// The frames from `first` on that a kernel's groups leave over, the scalar way; `position` is
// frame `first`'s.
template <bool RAMP>
inline void renderLeftoverFrames(const FrameRun& run, int32_t first, uint64_t position,
                                 double interpolationScale) {
    float* out = run.out + 2 * first;
    for (int32_t k = first; k < run.frames; ++k, out += 2, position += run.increment) {
        double left = RAMP ? run.gainLeft + k * run.deltaLeft : run.gainLeft;
        double right = RAMP ? run.gainRight + k * run.deltaRight : run.gainRight;
        addFrameAt(run.data, position, out, left, right, interpolationScale);
    }
}

struct MixerKernels {
    void (*steady)(const FrameRun& run);
    void (*ramp)(const FrameRun& run);
    // The sum of coefficient x frame over a tap table's row of `taps` (a multiple of 4): integer
    // sums, exact in any order, so the same as the scalar loop's. Null where it would not pay;
    // the mixer takes it for rows of 8 taps or more (a call costs more than four products).
    int32_t (*tapSum)(const int16_t* row, const int16_t* frames, int32_t taps);
};

#if defined(__SSE2__)
// The tap sum of the SSE2 kernels, which the wider ones take as well.
int32_t sse2TapSum(const int16_t* row, const int16_t* frames, int32_t taps);
#define WIDER_TAP_SUM sse2TapSum
#else
#define WIDER_TAP_SUM nullptr
#endif

// Null where the build has no such kernels (another processor family).
const MixerKernels* sse2MixerKernels();
const MixerKernels* avx2MixerKernels();
const MixerKernels* avx512MixerKernels();
// Whether the processor running this (and its operating system) can execute those kernels.
bool processorHasAvx2();
bool processorHasAvx512();
