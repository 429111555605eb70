// Playing profiles: each left/right behaviour module renders with its two sides alike under the
// profile it was written for, and not under Brom's own (so that each one tests something); the
// profile is chosen under the sample rate's rules.
#include <gtest/gtest.h>

#include <brom/brom.h>

#include <string>
#include <vector>

#include "tests/support/profile_cases.h"

namespace {

constexpr double AGREES = 0.03;  // left minus right, against the total: ramps leave a little
constexpr double DIFFERS = 0.05;

// The left/right measure of a module rendered whole under `profile`; -1 when it will not load or
// take the profile.
double renderedDifference(const ProfileCase& c, const char* profile) {
    brom_module* module = brom_load_memory(c.bytes.data(), c.bytes.size(), nullptr);
    if (!module) return -1;
    if (!brom_set_profile(module, profile)) {
        brom_free(module);
        return -1;
    }
    std::vector<float> all;
    std::vector<float> buffer(2 * 4096);
    size_t got;
    while ((got = brom_render_f32(module, buffer.data(), 4096)) > 0)
        all.insert(all.end(), buffer.begin(), buffer.begin() + 2 * got);
    brom_free(module);
    return sideDifference(all.data(), all.size() / 2);
}

struct ProfileRun {
    ProfileCase module;
    const char* profile;  // whose behaviour the module is written for
};

class BehaviourModule : public testing::TestWithParam<ProfileRun> {};

TEST_P(BehaviourModule, SidesAgreeUnderItsProfileOnly) {
    const ProfileRun& run = GetParam();
    const double own = renderedDifference(run.module, run.profile);
    EXPECT_GE(own, 0);
    EXPECT_LT(own, AGREES) << run.module.name << " under " << run.profile;
    if (std::string(run.profile) != "brom") {
        EXPECT_GT(renderedDifference(run.module, "brom"), DIFFERS) << run.module.name;
    }
}

std::vector<ProfileRun> allRuns() {
    std::vector<ProfileRun> runs;
    for (ProfileCase& c : ft2Cases()) runs.push_back({c, "ft2"});
    for (ProfileCase& c : protrackerCases()) runs.push_back({c, "brom"});
    return runs;
}

INSTANTIATE_TEST_SUITE_P(Profiles, BehaviourModule, testing::ValuesIn(allRuns()),
                         [](const testing::TestParamInfo<ProfileRun>& info) {
                             std::string name = info.param.module.name;
                             for (char& ch : name) {
                                 if (ch == '-') ch = '_';
                             }
                             return name;
                         });

TEST(Profile, ChosenBeforeRenderingOrAfterASeek) {
    const ProfileCase c = ft2Cases().front();
    brom_module* module = brom_load_memory(c.bytes.data(), c.bytes.size(), nullptr);
    ASSERT_NE(module, nullptr);
    EXPECT_STREQ(brom_profile(module), "brom");
    EXPECT_EQ(brom_set_profile(module, "ft3"), 0);
    EXPECT_EQ(brom_set_profile(module, nullptr), 0);
    EXPECT_EQ(brom_set_profile(module, "ft2"), 1);
    EXPECT_STREQ(brom_profile(module), "ft2");
    float frames[2 * 64];
    ASSERT_EQ(brom_render_f32(module, frames, 64), 64u);
    EXPECT_EQ(brom_set_profile(module, "default"), 0);
    EXPECT_STREQ(brom_profile(module), "ft2");
    ASSERT_EQ(brom_seek_ms(module, 100), 1);
    EXPECT_EQ(brom_set_profile(module, "default"), 1);
    EXPECT_STREQ(brom_profile(module), "brom");
    // The seek holds: the render goes on from 100 ms, as a seek under the new profile would.
    std::vector<float> after(2 * 512), sought(2 * 512);
    brom_render_f32(module, after.data(), 512);
    brom_seek_ms(module, 100);
    brom_render_f32(module, sought.data(), 512);
    EXPECT_EQ(after, sought);
    EXPECT_EQ(brom_profile(nullptr), std::string());
    brom_free(module);
}

}  // namespace
