// Sound synthesis for the song's instruments. Everything here is built from +, -, *, / and floor
// only, so the same program writes the same sample data bit for bit on every machine: the sine and
// the exponential are our own series, the noise is our own generator, and no library maths is used.
//
//     Random noise{12345};
//     double n = randomSigned(noise);              // -1 .. 1
//     double s = sineTurns(0.25);                  // sin(2 pi x 0.25) = 1
//     std::vector<int16_t> frames = toFrames(wave, 32000);
#pragma once

#include <cstdint>
#include <vector>

// xorshift32: a small deterministic noise source. The state must not be 0.
struct Random {
    uint32_t state;
};
uint32_t nextRandom(Random& random);
// A value in -1 .. 1 from the next 32 random bits.
double randomSigned(Random& random);

// sin(2 pi x), for x in turns (any value).
double sineTurns(double turns);
// e to the x.
double expNatural(double x);
// The factor by which a level falls per frame so that it reaches 1/e after `frames` frames.
double decayPerFrame(double frames);

// A two-pole state-variable filter; `cutoff` is a fraction of the sampling rate (below 1/6),
// `damping` 2 for a gentle slope down to about 0.2 for a ringing peak.
struct StateVariableFilter {
    double frequency;
    double damping;
    double low = 0;
    double band = 0;
};
StateVariableFilter makeFilter(double cutoff, double damping);
struct FilterOutputs {
    double low, band, high;
};
FilterOutputs runFilter(StateVariableFilter& filter, double input);

// Scales `wave` so that its largest magnitude becomes `peak` and rounds it to frames (half away
// from zero). A silent wave stays silent.
std::vector<int16_t> toFrames(const std::vector<double>& wave, int peak);
