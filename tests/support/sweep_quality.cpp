#include "tests/support/sweep_quality.h"

#include "player/voice_pool.h"

#include <algorithm>
#include <cmath>
#include <complex>

#include "audio/scheduler.h"
#include "module/xm_writer.h"
#include "tests/support/load_bytes.h"

namespace {

constexpr int PATTERNS = 7;
constexpr int FFT_SIZE = 2048;
constexpr double PI = 3.141592653589793;

void fft(std::vector<std::complex<double>>& x) {
    const size_t n = x.size();
    for (size_t i = 1, j = 0; i < n; ++i) {
        size_t bit = n >> 1;
        for (; j & bit; bit >>= 1) j ^= bit;
        j ^= bit;
        if (i < j) std::swap(x[i], x[j]);
    }
    for (size_t length = 2; length <= n; length <<= 1) {
        const double angle = -2.0 * PI / static_cast<double>(length);
        const std::complex<double> unit(std::cos(angle), std::sin(angle));
        for (size_t i = 0; i < n; i += length) {
            std::complex<double> w(1.0, 0.0);
            for (size_t k = 0; k < length / 2; ++k) {
                const std::complex<double> a = x[i + k];
                const std::complex<double> b = x[i + k + length / 2] * w;
                x[i + k] = a + b;
                x[i + k + length / 2] = a - b;
                w *= unit;
            }
        }
    }
}

double decibels(double powerRatio) { return 10.0 * std::log10(std::max(powerRatio, 1e-30)); }

}  // namespace

std::vector<uint8_t> sweepModule() {
    XmSong song = makeXmSong(2, PATTERNS);
    song.speed = 2;
    song.bpm = 125;
    song.orders.clear();
    for (int p = 0; p < PATTERNS; ++p) {
        song.orders.push_back(static_cast<uint8_t>(p));
        for (int row = 0; row < 64; ++row) cellAt(song.patterns[p], 2, row, 0) = {0, 0, 0, 1, 3};
    }
    cellAt(song.patterns[0], 2, 0, 0) = {25, 1, 0, 1, 3};  // C-2: the tone at 261 Hz
    XmSample sample = makeSample(sineFrames(4096, SWEEP_TONE_PERIOD, 16000), true);
    sample.loopType = 1;
    sample.loopStart = 0;
    sample.loopLength = 4096;
    song.instruments.push_back(makeInstrument(sample));
    return writeXm(song);
}

SweepRender renderSweep(Interpolation mode) {
    SweepRender render;
    SongPtr song = loadOwnedSong(sweepModule());
    if (!song) return render;
    prepareMixSettings(SWEEP_RATE);
    AudioEngine* engine = defaultAudioEngine();
    engine->controls.interpolation = mode;
    startSongOffline(song.get());
    const int32_t blockFrames = engine->settings.blockFrames;
    const PlayState* state = engine->state;
    render.tickFrames = state->samplesPerTick;
    for (int block = 0; block < PATTERNS * 64 * 2; ++block) {
        const int16_t* pcm = renderNextBlock();
        if (!pcm) break;
        for (int32_t k = 0; k < blockFrames; ++k) render.left.push_back(pcm[2 * k]);
        double step = 0.0;
        for (const Voice* voice : {&engine->voices[0], &engine->voices[twinOf(0)]}) {
            if (voice->sample && voice->volumeLeft > 0) {
                step = voice->step + voice->stepFraction / 4294967296.0;
            }
        }
        // The voices stand as the last tick begun in the block left them.
        render.tickFrame.push_back(engine->framesMixed - state->samplesPerTick +
                                   state->tickSamplesLeft);
        render.toneHz.push_back(step * SWEEP_RATE / SWEEP_TONE_PERIOD);
    }
    stopSong(song.get());
    engine->controls.interpolation = Interpolation::LINEAR;
    return render;
}

SweepFigures analyseSweep(const std::vector<float>& left, const SweepRender& timing) {
    const int32_t span = 2 * timing.tickFrames;  // two ticks at one pitch
    const double binHz = static_cast<double>(SWEEP_RATE) / FFT_SIZE;
    const double nyquist = SWEEP_RATE / 2.0;
    std::vector<double> window(span);
    for (int32_t k = 0; k < span; ++k) {  // Blackman-Harris: side lobes 92 dB down
        const double x = 2.0 * PI * k / (span - 1);
        window[k] =
            0.35875 - 0.48829 * std::cos(x) + 0.14128 * std::cos(2 * x) - 0.01168 * std::cos(3 * x);
    }
    struct Measure {
        double tone, wanted, images;
    };
    std::vector<Measure> measures;
    std::vector<std::complex<double>> bins(FFT_SIZE);
    // From the second second on: the note's start is no part of the figures.
    for (size_t b = 50; b + 1 < timing.toneHz.size(); ++b) {
        const double tone = timing.toneHz[b];
        if (tone <= 0.0 || timing.toneHz[b + 1] != tone) continue;
        if (timing.tickFrame[b + 1] != timing.tickFrame[b] + timing.tickFrames) continue;
        const size_t first = static_cast<size_t>(timing.tickFrame[b]);
        if (first + span > left.size()) break;
        std::fill(bins.begin(), bins.end(), std::complex<double>(0.0, 0.0));
        for (int32_t k = 0; k < span; ++k) bins[k] = left[first + k] * window[k];
        fft(bins);
        // The tone: the strongest bin within 3 % (two bins at least) of the frequency expected
        // (another player's pitches may differ a little), below the Nyquist frequency.
        int peak = -1;
        for (int k = 4; k <= FFT_SIZE / 2; ++k) {
            const double tolerance = std::max(0.03 * tone, 2 * binHz);
            if (std::fabs(k * binHz - tone) > tolerance || tone >= nyquist) continue;
            if (peak < 0 || std::norm(bins[k]) > std::norm(bins[peak])) peak = k;
        }
        double wanted = 0.0, images = 0.0;
        for (int k = 4; k <= FFT_SIZE / 2; ++k) {  // leave out the lowest bins (DC)
            const double power = std::norm(bins[k]);
            const bool isTone = peak >= 0 && std::abs(k - peak) <= 8;
            (isTone ? wanted : images) += power;
        }
        measures.push_back({tone, wanted, images});
    }
    std::vector<double> low;
    for (const Measure& m : measures) {
        if (m.tone < 5000.0) low.push_back(m.wanted);
    }
    SweepFigures figures = {-300, -300, -300, 300, 300};
    if (low.empty()) return figures;
    std::sort(low.begin(), low.end());
    const double reference = low[low.size() / 2];
    bool any8To11 = false, any16 = false;
    for (const Measure& m : measures) {
        const double image = decibels(m.images / reference);
        if (std::fabs(m.tone - nyquist) > 200.0) {
            figures.worstImageDb = std::max(figures.worstImageDb, image);
        }
        if (m.tone < 0.45 * SWEEP_RATE)
            figures.imageBelowDb = std::max(figures.imageBelowDb, image);
        if (m.tone > 0.55 * SWEEP_RATE)
            figures.imageAboveDb = std::max(figures.imageAboveDb, image);
        const double level = decibels(m.wanted / reference);
        if (m.tone >= 8000.0 && m.tone <= 11000.0) {
            figures.toneAt8To11Db = std::min(figures.toneAt8To11Db, level);
            any8To11 = true;
        }
        if (m.tone >= 15500.0 && m.tone <= 16500.0) {
            figures.toneAt16Db = std::min(figures.toneAt16Db, level);
            any16 = true;
        }
    }
    if (!any8To11) figures.toneAt8To11Db = -300;
    if (!any16) figures.toneAt16Db = -300;
    return figures;
}
