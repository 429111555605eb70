#include "display/frame_pacer.h"

#include <gtest/gtest.h>

namespace {

constexpr int64_t MS = 1000000;

// Runs `flips` frames whose drawing takes `workNs`, sleeping as told; returns the flip times.
std::vector<int64_t> runFrames(FramePacer* pacer, int flips, int64_t workNs, int64_t flipNs) {
    std::vector<int64_t> times;
    int64_t now = 1000 * MS;
    for (int i = 0; i < flips; ++i) {
        now += workNs + flipNs;
        times.push_back(now);
        now += pacerAfterFlip(pacer, now);
    }
    return times;
}

TEST(FramePacer, LeavesAFlipThatWaitsForTheRefreshAlone) {
    FramePacer pacer;
    pacerStart(&pacer, 60, 1);
    // Drawing takes 2 ms, the flip waits out the rest of the 16.67 ms period.
    std::vector<int64_t> times = runFrames(&pacer, 100, 2 * MS, 16666667 - 2 * MS);
    EXPECT_EQ(pacer.pacing, 0);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 16666667);
}

TEST(FramePacer, KeepsTheRefreshRateWhenTheFlipDoesNotWait) {
    FramePacer pacer;
    pacerStart(&pacer, 50, 0);
    std::vector<int64_t> times = runFrames(&pacer, 40, 3 * MS, 0);
    // The first flip starts the schedule; every later one comes a period after the one before.
    for (size_t i = 2; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 20 * MS);
}

TEST(FramePacer, Uses60HzWhenTheRateIsUnknown) {
    FramePacer pacer;
    pacerStart(&pacer, 0, 0);
    std::vector<int64_t> times = runFrames(&pacer, 10, 1 * MS, 0);
    for (size_t i = 2; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 16666666);
}

TEST(FramePacer, TakesOverWhenAClaimedWaitProvesFalse) {
    FramePacer pacer;
    pacerStart(&pacer, 60, 1);
    std::vector<int64_t> times = runFrames(&pacer, 100, 1 * MS, 0);
    EXPECT_EQ(pacer.pacing, 1);
    // The first 30 intervals are measured unpaced; from then on one flip per period.
    EXPECT_EQ(times[10] - times[9], 1 * MS);
    for (size_t i = 40; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 16666666);
}

TEST(FramePacer, ALateFrameStartsANewScheduleInsteadOfABurst) {
    FramePacer pacer;
    pacerStart(&pacer, 100, 0);
    int64_t now = 1000 * MS;
    EXPECT_EQ(pacerAfterFlip(&pacer, now), 0);  // the schedule starts here
    now += 2 * MS;
    EXPECT_EQ(pacerAfterFlip(&pacer, now), 8 * MS);
    now += 8 * MS + 50 * MS;  // a stall of five periods
    EXPECT_EQ(pacerAfterFlip(&pacer, now), 0);  // go on at once, from a new start
    now += 2 * MS;
    EXPECT_EQ(pacerAfterFlip(&pacer, now), 8 * MS);  // and a period apart again, no burst
}

TEST(FramePacer, ALoopSlowerThanTheDisplayIsNotSlowedFurther) {
    FramePacer pacer;
    pacerStart(&pacer, 100, 0);
    std::vector<int64_t> times = runFrames(&pacer, 20, 25 * MS, 0);
    for (size_t i = 1; i < times.size(); ++i) EXPECT_EQ(times[i] - times[i - 1], 25 * MS);
}

}  // namespace
