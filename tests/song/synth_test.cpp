// The synthesis helpers: our own noise, sine and exponential, checked against values worked out by
// hand and against the library's functions (which the composer itself never calls).
#include <gtest/gtest.h>

#include <cmath>

#include "tools/brom-compose/synth.h"

namespace {

TEST(SynthRandom, IsXorshift32) {
    Random r{1};
    // 1 ^ 1 << 13 = 8193; 8193 >> 17 = 0; 8193 ^ 8193 << 5 = 8193 ^ 262176 = 270369.
    EXPECT_EQ(nextRandom(r), 270369u);
    EXPECT_EQ(r.state, 270369u);
}

TEST(SynthRandom, SignedValuesStayInRangeAndAverageNearZero) {
    Random r{0x1234u};
    double sum = 0;
    for (int i = 0; i < 100000; ++i) {
        double v = randomSigned(r);
        ASSERT_GE(v, -1.0);
        ASSERT_LT(v, 1.0);
        sum += v;
    }
    EXPECT_LT(std::fabs(sum / 100000), 0.01);
}

TEST(SynthSine, HitsTheQuadrantsAndFollowsTheCircle) {
    EXPECT_EQ(sineTurns(0.0), 0.0);
    EXPECT_NEAR(sineTurns(0.25), 1.0, 1e-15);
    EXPECT_NEAR(sineTurns(0.5), 0.0, 1e-15);
    EXPECT_NEAR(sineTurns(0.75), -1.0, 1e-15);
    EXPECT_NEAR(sineTurns(1.0 / 12), 0.5, 1e-15);  // sin 30 degrees
    EXPECT_NEAR(sineTurns(-1.0 / 12), -0.5, 1e-15);
    EXPECT_NEAR(sineTurns(3.25), 1.0, 1e-15);  // whole turns fall away
    for (int i = 0; i <= 1000; ++i) {
        double t = i / 997.0 - 0.3;
        EXPECT_NEAR(sineTurns(t), std::sin(2 * M_PI * t), 1e-14) << t;
    }
}

TEST(SynthExp, MatchesEAndDecaysPerFrame) {
    EXPECT_EQ(expNatural(0), 1.0);
    EXPECT_NEAR(expNatural(1), 2.718281828459045, 1e-15 * 2.72);
    EXPECT_NEAR(expNatural(-2.5), 0.0820849986238988, 1e-17);
    EXPECT_NEAR(expNatural(10), 22026.465794806718, 1e-10);
    EXPECT_EQ(expNatural(-1000), 0.0);
    // Ten frames of the per-frame factor for a 1/e time of ten frames make 1/e.
    double level = 1;
    for (int i = 0; i < 10; ++i) level *= decayPerFrame(10);
    EXPECT_NEAR(level, 0.36787944117144233, 1e-15);
}

TEST(SynthFilter, LowPassKeepsASteadyLevelAndHighPassRemovesIt) {
    StateVariableFilter f = makeFilter(0.05, 1.0);
    FilterOutputs out{};
    for (int i = 0; i < 5000; ++i) out = runFilter(f, 1.0);
    EXPECT_NEAR(out.low, 1.0, 1e-9);
    EXPECT_NEAR(out.high, 0.0, 1e-9);
    EXPECT_NEAR(out.band, 0.0, 1e-9);
}

TEST(SynthFrames, ScaleToThePeakAndRoundHalfAwayFromZero) {
    EXPECT_EQ(toFrames({1.0, 0.125, -0.125, -0.5}, 4), (std::vector<int16_t>{4, 1, -1, -2}));
    EXPECT_EQ(toFrames({0.5, -2.0, 0.3}, 30000), (std::vector<int16_t>{7500, -30000, 4500}));
    EXPECT_EQ(toFrames({0.0, 0.0}, 120), (std::vector<int16_t>{0, 0}));
}

}  // namespace
