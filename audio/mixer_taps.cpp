#include "audio/mixer_taps.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// ---- Arithmetic that rounds the same everywhere: +, -, x, / and square roots only, each
// rounded once (the build never fuses a multiply and an add), in a fixed order.

constexpr double PI = 3.141592653589793;
constexpr double TWO_PI_HIGH = 6.283185307179586;
constexpr double TWO_PI_LOW = 2.4492935982947064e-16;

double exactSin(double x) {
    // Into [-pi, pi], then [-pi/2, pi/2], then the Taylor series to x^25.
    const double turns = std::floor(x / TWO_PI_HIGH + 0.5);
    double r = (x - turns * TWO_PI_HIGH) - turns * TWO_PI_LOW;
    if (r > PI / 2) r = PI - r;
    if (r < -PI / 2) r = -PI - r;
    const double r2 = r * r;
    double term = r;
    double sum = r;
    for (int k = 1; k <= 12; ++k) {
        term = -term * r2 / static_cast<double>((2 * k) * (2 * k + 1));
        sum += term;
    }
    return sum;
}

double exactCos(double x) { return exactSin(x + PI / 2); }

double exactExp(double x) {
    int halvings = 0;
    while (std::fabs(x) > 0.125 && halvings < 64) {
        x *= 0.5;
        ++halvings;
    }
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k <= 16; ++k) {
        term = term * x / static_cast<double>(k);
        sum += term;
    }
    for (int k = 0; k < halvings; ++k) sum *= sum;
    return sum;
}

// The modified Bessel function of the first kind, order 0, for the Kaiser window.
double besselI0(double x) {
    const double half = x * 0.5;
    double term = 1.0;
    double sum = 1.0;
    for (int k = 1; k <= 32; ++k) {
        term = term * half / static_cast<double>(k);
        sum += term * term;
    }
    return sum;
}

double kaiser(double z, double beta) {
    if (z <= -1.0 || z >= 1.0) return 0.0;
    return besselI0(beta * std::sqrt(1.0 - z * z)) / besselI0(beta);
}

double sincOf(double y) { return y == 0.0 ? 1.0 : exactSin(PI * y) / (PI * y); }

// A row of real weights as 16-bit coefficients that sum to TAP_UNIT exactly: each rounded to the
// nearest, what is left over added to the largest.
void quantiseRow(const double* weights, int32_t taps, int16_t* row) {
    double total = 0.0;
    for (int32_t j = 0; j < taps; ++j) total += weights[j];
    int32_t sum = 0;
    int32_t largest = 0;
    for (int32_t j = 0; j < taps; ++j) {
        const double scaled = weights[j] / total * TAP_UNIT;
        row[j] = static_cast<int16_t>(std::floor(scaled + 0.5));
        sum += row[j];
        if (std::fabs(weights[j]) > std::fabs(weights[largest])) largest = j;
    }
    row[largest] = static_cast<int16_t>(row[largest] + (TAP_UNIT - sum));
}

// ---- The tables.

int16_t* newRows(int32_t taps, int32_t phases) {
    auto* rows = static_cast<int16_t*>(calloc(static_cast<size_t>(phases + 1) * taps, 2));
    if (!rows) abort();  // a few hundred kilobytes, once: nothing sensible is left to do
    return rows;
}

TapTable makeNearest() {
    // Two taps, one phase: fractions below one half take the frame the position stands in.
    int16_t* rows = newRows(2, 1);
    rows[0] = TAP_UNIT;
    rows[3] = TAP_UNIT;
    return {2, 0, 1, rows};
}

TapTable makeCubic() {
    constexpr int32_t PHASES = 1024;
    int16_t* rows = newRows(4, PHASES);
    for (int32_t p = 0; p <= PHASES; ++p) {
        const double t = static_cast<double>(p) / PHASES;
        const double t2 = t * t;
        const double t3 = t2 * t;
        const double weights[4] = {
            (-t3 + 2.0 * t2 - t) * 0.5,
            (3.0 * t3 - 5.0 * t2 + 2.0) * 0.5,
            (-3.0 * t3 + 4.0 * t2 + t) * 0.5,
            (t3 - t2) * 0.5,
        };
        quantiseRow(weights, 4, rows + 4 * p);
    }
    return {4, 1, PHASES, rows};
}

// The sinc kernels: one for each cut-off ratio r = 1 + t/8 up to 8 (the step the kernel serves at
// most). The kernel spans 8 ceil(r) frames, that is at least 8 output frames; its cut-off (in
// cycles per output frame) lies far enough below one half that the Kaiser window's transition has
// ended at the output's Nyquist frequency.
constexpr int32_t SINC_RATIOS = 57;
constexpr double SINC_BETA = 3.0;
constexpr double SINC_TRANSITION = 0.9;  // half the transition band, x the window in output frames
constexpr int32_t SINC_PHASES = 1024;  // for 8 taps; wider kernels have fewer, finer in time

TapTable makeSinc(int32_t t) {
    const double r = 1.0 + t / 8.0;
    const int32_t width = (t + 7) / 8 + 1;  // ceil(r)
    const int32_t taps = 8 * width;
    const int32_t before = taps / 2 - 1;
    const int32_t phases = SINC_PHASES / width;
    const double window = taps / r;  // in output frames
    const double cutoff = (0.5 - SINC_TRANSITION / window) / r;  // cycles per sample frame
    int16_t* rows = newRows(taps, phases);
    double weights[MOST_TAPS];
    for (int32_t p = 0; p <= phases; ++p) {
        const double phase = static_cast<double>(p) / phases;
        for (int32_t j = 0; j < taps; ++j) {
            const double x = static_cast<double>(j - before) - phase;
            weights[j] =
                2.0 * cutoff * sincOf(2.0 * cutoff * x) * kaiser(x / (taps / 2), SINC_BETA);
        }
        quantiseRow(weights, taps, rows + static_cast<int64_t>(p) * taps);
    }
    return {taps, before, phases, rows};
}

struct SincTables {
    TapTable tables[SINC_RATIOS];
    SincTables() {
        for (int32_t t = 0; t < SINC_RATIOS; ++t) tables[t] = makeSinc(t);
    }
};

const SincTables& sincTables() {
    static const SincTables tables;
    return tables;
}

// The Amiga mode's step: the running integral of a Kaiser-windowed sinc with its cut-off a little
// below the output's Nyquist frequency, STEP_SPAN output frames wide.
constexpr double STEP_BETA = 5.0;
constexpr double STEP_CUTOFF = 0.45;

struct StepTable {
    int32_t values[STEP_SPAN * STEP_RESOLUTION + 1];
    StepTable() {
        constexpr int32_t COUNT = STEP_SPAN * STEP_RESOLUTION + 1;
        static double integral[COUNT];
        double previous = 0.0;
        double sum = 0.0;
        for (int32_t n = 0; n < COUNT; ++n) {
            const double u = static_cast<double>(n - COUNT / 2) / STEP_RESOLUTION;
            const double g = 2.0 * STEP_CUTOFF * sincOf(2.0 * STEP_CUTOFF * u) *
                             kaiser(u / (STEP_SPAN / 2), STEP_BETA);
            if (n > 0) sum += (previous + g) * 0.5;
            integral[n] = sum;
            previous = g;
        }
        for (int32_t n = 0; n < COUNT; ++n) {
            values[n] = static_cast<int32_t>(std::floor(integral[n] / sum * STEP_UNIT + 0.5));
        }
        values[COUNT - 1] = STEP_UNIT;
    }
};

const StepTable& stepTable() {
    static const StepTable table;
    return table;
}

uint64_t hashBytes(uint64_t hash, const void* bytes, size_t count) {
    const auto* b = static_cast<const uint8_t*>(bytes);
    for (size_t k = 0; k < count; ++k) hash = (hash ^ b[k]) * 0x100000001B3ull;
    return hash;
}

uint64_t hashTable(uint64_t hash, const TapTable& table) {
    const int32_t head[3] = {table.taps, table.before, table.phases};
    hash = hashBytes(hash, head, sizeof head);
    return hashBytes(hash, table.rows, static_cast<size_t>(table.phases + 1) * table.taps * 2);
}

}  // namespace

const char* interpolationName(Interpolation mode) {
    switch (mode) {
        case Interpolation::NEAREST: return "nearest";
        case Interpolation::LINEAR: return "linear";
        case Interpolation::CUBIC: return "cubic";
        case Interpolation::SINC: return "sinc";
        case Interpolation::AMIGA: return "amiga";
    }
    return "unknown";
}

const char* amigaModelName(AmigaModel model) {
    switch (model) {
        case AmigaModel::OFF: return "off";
        case AmigaModel::A500: return "a500";
        case AmigaModel::A1200: return "a1200";
    }
    return "unknown";
}

const TapTable* nearestTable() {
    static const TapTable table = makeNearest();
    return &table;
}

const TapTable* cubicTable() {
    static const TapTable table = makeCubic();
    return &table;
}

const TapTable* sincTable(uint64_t step) {
    constexpr uint64_t ONE = uint64_t{1} << 32;
    int64_t t = 0;
    if (step > ONE) {
        const uint64_t above = step - ONE;
        t = above >= 8 * ONE ? SINC_RATIOS - 1
                             : static_cast<int64_t>((above * 8 + ONE - 1) >> 32);  // ceil
        if (t > SINC_RATIOS - 1) t = SINC_RATIOS - 1;
    }
    return &sincTables().tables[t];
}

const int32_t* bandLimitedStep() { return stepTable().values; }

uint64_t mixerTablesHash() {
    uint64_t hash = 0xCBF29CE484222325ull;
    hash = hashTable(hash, *nearestTable());
    hash = hashTable(hash, *cubicTable());
    for (const TapTable& table : sincTables().tables) hash = hashTable(hash, table);
    return hashBytes(hash, stepTable().values, sizeof stepTable().values);
}

// ---- The Amiga's output filters.

namespace {

constexpr double A500_LOWPASS_HZ = 4421.0;  // 360 ohms and 0.1 uF
constexpr double A1200_LOWPASS_HZ = 34400.0;  // 680 ohms and 6.8 nF
constexpr double LED_HZ = 3091.0;  // Sallen-Key: 10 k, 10 k, 6800 pF, 3900 pF
constexpr double LED_Q = 0.660;
constexpr double HIGHPASS_HZ = 5.2;  // 1390 ohms and 22 uF

void setCoefficients(AmigaFilterState* s, int32_t rate, AmigaModel model) {
    const double fs = rate;
    const double lowHz = model == AmigaModel::A500 ? A500_LOWPASS_HZ : A1200_LOWPASS_HZ;
    s->lowpass = 1.0 - exactExp(-2.0 * PI * lowHz / fs);
    s->highpass = exactExp(-2.0 * PI * HIGHPASS_HZ / fs);
    const double angle = PI * LED_HZ / fs;
    const double k = exactSin(angle) / exactCos(angle);
    const double k2 = k * k;
    const double norm = 1.0 / (1.0 + k / LED_Q + k2);
    s->ledB0 = k2 * norm;
    s->ledB1 = 2.0 * s->ledB0;
    s->ledB2 = s->ledB0;
    s->ledA1 = 2.0 * (k2 - 1.0) * norm;
    s->ledA2 = (1.0 - k / LED_Q + k2) * norm;
    s->rate = rate;
    s->model = model;
}

}  // namespace

void resetAmigaFilter(AmigaFilterState* state) { memset(state, 0, sizeof *state); }

void amigaFilterBlock(AmigaFilterState* s, float* frames, int32_t count, int32_t rate,
                      AmigaModel model, bool led) {
    if (model == AmigaModel::OFF || rate <= 0) return;
    if (s->rate != rate || s->model != model) setCoefficients(s, rate, model);
    for (int32_t k = 0; k < count; ++k) {
        for (int c = 0; c < 2; ++c) {
            const double x = frames[2 * k + c];
            double y = s->fixed[c] + s->lowpass * (x - s->fixed[c]);
            s->fixed[c] = y;
            // The LED filter runs while off as well, so that switching it makes no click.
            const double filtered = s->ledB0 * y + s->ledB1 * s->ledIn[c][0] +
                                    s->ledB2 * s->ledIn[c][1] - s->ledA1 * s->ledOut[c][0] -
                                    s->ledA2 * s->ledOut[c][1];
            s->ledIn[c][1] = s->ledIn[c][0];
            s->ledIn[c][0] = y;
            s->ledOut[c][1] = s->ledOut[c][0];
            s->ledOut[c][0] = filtered;
            if (led) y = filtered;
            const double high = s->highpass * (s->highOut[c] + y - s->highIn[c]);
            s->highIn[c] = y;
            s->highOut[c] = high;
            frames[2 * k + c] = static_cast<float>(high);
        }
    }
}
