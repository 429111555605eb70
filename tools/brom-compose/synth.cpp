#include "tools/brom-compose/synth.h"

#include <cmath>

namespace {

constexpr double PI = 3.14159265358979323846;
constexpr double LN2 = 0.69314718055994530942;

// sin(x) for |x| <= pi / 2 by its Taylor series; the terms beyond x^19 are below 1e-15.
double sineSeries(double x) {
    double x2 = x * x;
    double term = x;
    double sum = x;
    for (int n = 1; n <= 9; ++n) {
        term = -term * x2 / ((2 * n) * (2 * n + 1));
        sum += term;
    }
    return sum;
}

}  // namespace

uint32_t nextRandom(Random& random) {
    uint32_t x = random.state;
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    random.state = x;
    return x;
}

double randomSigned(Random& random) {
    return static_cast<double>(nextRandom(random)) / 2147483648.0 - 1.0;
}

double sineTurns(double turns) {
    // Fold into one turn, then into the half wave -1/4 .. 1/4 where the series is accurate.
    double t = turns - std::floor(turns);  // 0 .. 1
    if (t >= 0.5) return -sineTurns(t - 0.5);
    if (t > 0.25) t = 0.5 - t;  // sin(pi - x) = sin x
    return sineSeries(2 * PI * t);
}

double expNatural(double x) {
    if (x < -700) return 0;
    // x = k ln 2 + r with |r| <= ln 2 / 2; e^r by its series, then k doublings or halvings.
    double k = std::floor(x / LN2 + 0.5);
    double r = x - k * LN2;
    double term = 1;
    double sum = 1;
    for (int n = 1; n <= 18; ++n) {
        term = term * r / n;
        sum += term;
    }
    for (int i = 0; i < k; ++i) sum *= 2;
    for (int i = 0; i > k; --i) sum *= 0.5;
    return sum;
}

double decayPerFrame(double frames) { return expNatural(-1.0 / frames); }

StateVariableFilter makeFilter(double cutoff, double damping) {
    StateVariableFilter filter;
    filter.frequency = 2 * sineTurns(cutoff / 2);
    filter.damping = damping;
    return filter;
}

FilterOutputs runFilter(StateVariableFilter& filter, double input) {
    filter.low += filter.frequency * filter.band;
    double high = input - filter.low - filter.damping * filter.band;
    filter.band += filter.frequency * high;
    return {filter.low, filter.band, high};
}

std::vector<int16_t> toFrames(const std::vector<double>& wave, int peak) {
    double largest = 0;
    for (double v : wave) largest = std::fmax(largest, std::fabs(v));
    std::vector<int16_t> frames(wave.size());
    if (largest == 0) return frames;
    double scale = peak / largest;
    for (size_t i = 0; i < wave.size(); ++i) {
        double v = wave[i] * scale;
        frames[i] = static_cast<int16_t>(v < 0 ? -std::floor(-v + 0.5) : std::floor(v + 0.5));
    }
    return frames;
}
