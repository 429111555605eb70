// Subsongs and the end of a song through the public library: the default untouched, a subsong
// selected plays alone and acts within itself, a jump into a song ends where its pass would,
// and the fade's frames are exactly the looping song's frames scaled.
#include <gtest/gtest.h>

#include <brom/brom.h>

#include <cmath>
#include <memory>
#include <vector>

#include "tests/support/subsong_modules.h"

namespace {

struct ModuleDeleter {
    void operator()(brom_module* module) const { brom_free(module); }
};
using ModulePtr = std::unique_ptr<brom_module, ModuleDeleter>;

ModulePtr load(const std::vector<uint8_t>& bytes) {
    return ModulePtr(brom_load_memory(bytes.data(), bytes.size(), nullptr));
}

template <typename Sample, typename Render>
std::vector<Sample> renderWith(brom_module* module, size_t most, Render render) {
    std::vector<Sample> out(2 * most);
    size_t done = 0, got;
    while (done < most && (got = render(module, out.data() + 2 * done, most - done)) > 0) {
        done += got;
    }
    out.resize(2 * done);
    return out;
}

std::vector<int16_t> pcm(brom_module* module, size_t most = 2000000) {
    return renderWith<int16_t>(module, most, brom_render_s16);
}

std::vector<float> floats(brom_module* module, size_t most = 2000000) {
    return renderWith<float>(module, most, brom_render_f32);
}

const std::vector<int> THREE_SONGS = {-1, 0, 2, -1, 3};  // orders 0-1, 2, 3-4

TEST(ApiSubsongs, TheDefaultIsTheWholeListAndSubsongZeroTheSameFrames) {
    ModulePtr plain = load(subsongXm(THREE_SONGS));
    ASSERT_TRUE(plain);
    const std::vector<int16_t> whole = pcm(plain.get());
    EXPECT_EQ(whole.size(), 2u * 2 * PATTERN_FRAMES);

    ModulePtr asked = load(subsongXm(THREE_SONGS));
    EXPECT_EQ(brom_selected_subsong(asked.get()), -1);
    ASSERT_EQ(brom_subsong_count(asked.get()), 3);
    EXPECT_EQ(pcm(asked.get()), whole);
    ASSERT_EQ(brom_select_subsong(asked.get(), 0), 1);
    EXPECT_EQ(pcm(asked.get()), whole);
    EXPECT_EQ(brom_select_subsong(asked.get(), 3), 0);
    EXPECT_EQ(brom_select_subsong(asked.get(), -2), 0);
    ASSERT_EQ(brom_select_subsong(asked.get(), -1), 1);
    EXPECT_EQ(pcm(asked.get()), whole);
    EXPECT_EQ(brom_order_subsong(asked.get(), 1), 0);
    EXPECT_EQ(brom_order_subsong(asked.get(), 4), 2);
    EXPECT_EQ(brom_order_subsong(asked.get(), 5), -1);
}

TEST(ApiSubsongs, ASelectedSubsongPlaysAloneAndActsWithinItself) {
    for (const bool mod : {false, true}) {
        const std::vector<uint8_t> bytes = mod ? subsongMod(THREE_SONGS) : subsongXm(THREE_SONGS);
        ModulePtr module = load(bytes);
        ASSERT_TRUE(module);
        brom_subsong third = {};
        ASSERT_EQ(brom_get_subsong(module.get(), 2, &third), 1);
        EXPECT_EQ(third.order, 3);
        EXPECT_EQ(third.frames, 2 * PATTERN_FRAMES);
        EXPECT_EQ(third.duration_ms, 2 * PATTERN_FRAMES * 1000 / 44100);
        EXPECT_STREQ(third.name, "");
        ASSERT_EQ(brom_select_subsong(module.get(), 2), 1);
        EXPECT_EQ(brom_duration_ms(module.get()), third.duration_ms);
        EXPECT_EQ(brom_order_time_ms(module.get(), 4), (PATTERN_FRAMES * 1000 + 44099) / 44100);
        EXPECT_EQ(brom_order_time_ms(module.get(), 0), -1);
        std::vector<int16_t> alone = pcm(module.get(), PATTERN_FRAMES + 100);
        brom_position at = {};
        ASSERT_EQ(brom_get_position(module.get(), &at), 1);
        EXPECT_EQ(at.order, 4);
        const std::vector<int16_t> end = pcm(module.get());
        alone.insert(alone.end(), end.begin(), end.end());
        EXPECT_EQ(alone.size(), 2u * third.frames) << mod;

        // A seek by time lands in the subsong's own frames; by order only within it.
        ASSERT_EQ(brom_seek_ms(module.get(), 1000), 1);
        const std::vector<int16_t> rest = pcm(module.get());
        EXPECT_TRUE(std::equal(rest.begin(), rest.end(), alone.begin() + 2 * 44100));
        EXPECT_EQ(brom_seek_order_row(module.get(), 1, 0), 0);
        ASSERT_EQ(brom_seek_order_row(module.get(), 4, 0), 1);
        EXPECT_EQ(pcm(module.get()).size(), 2u * PATTERN_FRAMES);
    }
}

// A jump into the middle ends where the pass from the start ends (here the end of the order
// list), and further passes count from there.
TEST(ApiSubsongs, AJumpIntoTheMiddleEndsWhereThePassFromTheStartWould) {
    const std::vector<uint8_t> bytes = subsongXm({-1, -1, -1});
    ModulePtr module = load(bytes);
    ASSERT_EQ(brom_seek_order_row(module.get(), 1, 0), 1);
    EXPECT_EQ(pcm(module.get()).size(), 2u * 2 * PATTERN_FRAMES);
    ModulePtr twice = load(bytes);
    ASSERT_EQ(brom_set_repeat_count(twice.get(), 1), 1);
    ASSERT_EQ(brom_seek_order_row(twice.get(), 1, 0), 1);
    EXPECT_EQ(pcm(twice.get()).size(), 2u * 5 * PATTERN_FRAMES);
    // Into a song that loops back into another: it ends where it reaches the other.
    ModulePtr into = load(subsongXm({-1, 0, -1, 0}));
    ASSERT_EQ(brom_seek_order_row(into.get(), 3, 0), 1);
    EXPECT_EQ(pcm(into.get()).size(), 2u * PATTERN_FRAMES);
}

// A subsong that loops back into another goes back to its own start when it loops.
TEST(ApiSubsongs, LoopingASubsongGoesBackToItsStart) {
    ModulePtr module = load(subsongXm({-1, 0, -1, 0}));
    ASSERT_EQ(brom_select_subsong(module.get(), 1), 1);
    ASSERT_EQ(brom_set_end(module.get(), BROM_END_LOOP, 0), 1);
    EXPECT_EQ(pcm(module.get(), 2 * PATTERN_FRAMES + 1000).size(),
              2u * (2 * PATTERN_FRAMES + 1000));
    brom_position at = {};
    ASSERT_EQ(brom_get_position(module.get(), &at), 1);
    EXPECT_EQ(at.order, 2);
    EXPECT_EQ(brom_set_end(module.get(), BROM_END_FADE, 0), 0);
    EXPECT_EQ(brom_set_end(module.get(), BROM_END_FADE, BROM_LONGEST_FADE_MS + 1), 0);
    EXPECT_EQ(brom_set_end(module.get(), static_cast<brom_end>(3), 0), 0);
}

// The fade's frames are the looping song's frames times (N - k) / N, both as floats and as
// 16-bit samples, on one thread and on several.
TEST(ApiSubsongs, TheFadeScalesTheLoopingSongExactly) {
    const std::vector<uint8_t> bytes = subsongXm({-1, 0});
    constexpr int FADE_MS = 500;
    constexpr int64_t N = 44100 * FADE_MS / 1000;
    constexpr int64_t PASS = 2 * PATTERN_FRAMES;
    ModulePtr looped = load(bytes);
    ASSERT_EQ(brom_set_end(looped.get(), BROM_END_LOOP, 0), 1);
    const std::vector<float> loop = floats(looped.get(), PASS + N + 100);
    for (const int threads : {1, 3}) {
        ModulePtr faded = load(bytes);
        ModulePtr fadedPcm = load(bytes);
        for (brom_module* m : {faded.get(), fadedPcm.get()}) {
            ASSERT_EQ(brom_set_end(m, BROM_END_FADE, FADE_MS), 1);
            ASSERT_EQ(brom_set_render_threads(m, threads), 1);
        }
        const std::vector<float> f = floats(faded.get());
        const std::vector<int16_t> s = pcm(fadedPcm.get());
        ASSERT_EQ(f.size(), 2u * (PASS + N));
        ASSERT_EQ(s.size(), f.size());
        int64_t differ = 0;
        for (size_t k = 0; k < f.size(); ++k) {
            const int64_t frame = static_cast<int64_t>(k / 2);
            const double gain = frame < PASS ? 1.0 : static_cast<double>(PASS + N - frame) / N;
            const float mix = static_cast<float>(loop[k] * 32768.0f * gain);
            const double rounded = std::nearbyint(static_cast<double>(mix));
            const int16_t expected =
                static_cast<int16_t>(std::fmax(-32768, std::fmin(32767, rounded)));
            differ += f[k] != mix / 32768.0f || s[k] != expected;
        }
        EXPECT_EQ(differ, 0) << threads;
        EXPECT_NE(loop[2 * (PASS + N / 2)], 0.0f);
    }
}

}  // namespace
