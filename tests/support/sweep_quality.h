// The resampling quality figures: a module whose one sample, a pure tone of 8 frames a period,
// slides from 261 Hz up past the Nyquist frequency of 44100 Hz (to 33 kHz) in 18 s, rendered in
// each interpolation, and the level of everything but the tone (the images) against the tone.
//
//     SweepRender render = renderSweep(Interpolation::SINC);
//     SweepFigures figures = analyseSweep(render.left, render);
//     figures.worstImageDb  // at most -30 for a clean resampler
#pragma once

#include <cstdint>
#include <vector>

#include "audio/mixer_taps.h"

constexpr int32_t SWEEP_RATE = 44100;
constexpr int32_t SWEEP_TONE_PERIOD = 8;  // sample frames

// The sweep module (XM, linear frequencies, speed 2, a portamento step every row).
std::vector<uint8_t> sweepModule();

struct SweepRender {
    std::vector<float> left;  // the left channel of the 16-bit output, as read (-32768..32767)
    // Ticks whose pitch is known: the frame each starts at and the tone's frequency during it.
    std::vector<int64_t> tickFrame;
    std::vector<double> toneHz;
    int32_t tickFrames;
};

// The sweep as the engine renders it at SWEEP_RATE with `mode`.
SweepRender renderSweep(Interpolation mode);

struct SweepFigures {
    // The loudest images in any window, against the tone's level while below 5 kHz, in dB:
    // overall (leaving out the windows whose tone lies within 200 Hz of the Nyquist frequency),
    // while the tone is below 0.45 x the rate, and while it is above 0.55 x the rate.
    double worstImageDb;
    double imageBelowDb;
    double imageAboveDb;
    // The tone's level while at 8 to 11 kHz (the lowest), against the same reference.
    double toneAt8To11Db;
    // The tone's level while at 15.5 to 16.5 kHz.
    double toneAt16Db;
};

// Figures of `left` (a render of the sweep module, the tone's frequencies as `timing` has them).
SweepFigures analyseSweep(const std::vector<float>& left, const SweepRender& timing);
