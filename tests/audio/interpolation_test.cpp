// The interpolations beyond the linear one: tables made the same everywhere, unity gain for a
// steady signal in every mode, positions that move as the linear mixer moves them, the sinc
// kernel's aliasing on the sweep, and the Amiga's filters.
#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "audio/mixer.h"
#include "audio/scheduler.h"
#include "tests/support/sweep_quality.h"

namespace {

const Interpolation MODES[] = {Interpolation::NEAREST, Interpolation::LINEAR, Interpolation::CUBIC,
                               Interpolation::SINC, Interpolation::AMIGA};

// Made from sums and products that round alike on every platform: any other bits show up here
// (and in the golden renders of each mode).
TEST(Interpolation, TablesAreMadeTheSameEverywhere) {
    EXPECT_EQ(mixerTablesHash(), 0xC299A0EEF0C50EB1ull) << std::hex << mixerTablesHash();
}

// Every row sums to one, so a steady value comes out exactly, at any step and in any mode, also
// across the ends of a loop; and the voice moves exactly as with linear interpolation.
TEST(Interpolation, ASteadyValueStaysExactAndPositionsMoveAsLinear) {
    prepareMixSettings(44100);
    std::vector<int16_t> frames(64 + 8, 1000);
    Sample sample{};
    sample.data = frames.data();
    sample.length = 64;
    sample.loopStart = 0;
    sample.loopLength = 64;
    sample.loopMode = LOOP_FORWARD;
    for (int32_t step : {0, 1, 3, 11}) {
        Voice start{};
        start.sample = &sample;
        start.step = step;
        start.stepFraction = 0x6A09E667u;
        start.position = 60;
        start.direction = DIRECTION_FORWARD;
        start.volumeLeft = start.volumeRight = 255;
        start.levelLeft = start.levelRight = 255 * 256;
        start.rampTargetLeft = start.rampTargetRight = 255;
        Voice linear = start;
        std::vector<float> expected(2 * 301, 0.0f);
        mixVoice(&linear, defaultAudioEngine()->settings, expected.data(), 301);
        for (Interpolation mode : MODES) {
            Voice voice = start;
            std::vector<float> out(2 * 301, 0.0f);
            mixVoice(&voice, defaultAudioEngine()->settings, out.data(), 301, mode);
            EXPECT_EQ(voice.position, linear.position) << interpolationName(mode);
            EXPECT_EQ(voice.positionFraction, linear.positionFraction) << interpolationName(mode);
            EXPECT_EQ(out, expected) << interpolationName(mode) << ", step " << step;
        }
    }
}

// The figures of bench/ (brom-bench --only quality): sinc leaves the images of a tone sliding
// past the Nyquist frequency 37 dB below it; the check allows 3 dB of that. Linear leaves them
// at the tone's level. At 8 to 11 kHz the tone loses at most 1.5 dB against linear.
TEST(Interpolation, SincKeepsTheImagesOfASlidingToneLow) {
    const SweepRender linear = renderSweep(Interpolation::LINEAR);
    const SweepRender sinc = renderSweep(Interpolation::SINC);
    ASSERT_GT(sinc.left.size(), static_cast<size_t>(15 * SWEEP_RATE));
    const SweepFigures linearFigures = analyseSweep(linear.left, linear);
    const SweepFigures sincFigures = analyseSweep(sinc.left, sinc);
    EXPECT_GT(linearFigures.imageAboveDb, -6.0);  // the measure sees aliasing where there is
    EXPECT_LT(sincFigures.worstImageDb, -34.0);
    EXPECT_LT(sincFigures.imageAboveDb, -34.0);
    EXPECT_GT(sincFigures.toneAt8To11Db, linearFigures.toneAt8To11Db - 1.5);
}

// The LED filter takes a 10 kHz tone down by far more than the A500's fixed filter alone; the
// A1200's fixed filter leaves it nearly whole; a steady level passes none (the output's
// coupling capacitor).
TEST(Interpolation, TheAmigaFiltersShapeTheMix) {
    auto levelAfter = [](AmigaModel model, bool led, double hz) {
        AmigaFilterState state;
        resetAmigaFilter(&state);
        std::vector<float> frames(2 * 44100);
        for (size_t k = 0; k < frames.size() / 2; ++k) {
            frames[2 * k] = frames[2 * k + 1] =
                hz > 0
                    ? static_cast<float>(10000 * std::sin(2 * 3.141592653589793 * hz * k / 44100))
                    : 10000.0f;
        }
        amigaFilterBlock(&state, frames.data(), 44100, 44100, model, led);
        double peak = 0;
        for (size_t k = frames.size() / 2; k < frames.size(); ++k) {
            peak = std::max(peak, std::fabs(static_cast<double>(frames[k])));
        }
        return 20 * std::log10(peak / 10000);
    };
    const double a500 = levelAfter(AmigaModel::A500, false, 10000);
    const double a500Led = levelAfter(AmigaModel::A500, true, 10000);
    const double a1200 = levelAfter(AmigaModel::A1200, false, 10000);
    EXPECT_LT(a500, -6.0);
    EXPECT_GT(a500, -10.0);
    EXPECT_LT(a500Led, a500 - 12.0);
    EXPECT_GT(a1200, -1.0);
    EXPECT_LT(levelAfter(AmigaModel::A1200, false, 0), -40.0);
    EXPECT_GT(levelAfter(AmigaModel::A500, true, 100), -0.5);
}

}  // namespace
