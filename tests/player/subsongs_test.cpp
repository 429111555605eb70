// The subsong search on modules of several songs, XM and MOD alike, and on order lists with
// markers: where each song starts and how long one pass of it lasts.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "player/subsongs.h"
#include "tests/support/load_bytes.h"
#include "tests/support/subsong_modules.h"

namespace {

struct SubsongCase {
    const char* name;
    std::vector<int> jumps;
    std::vector<std::pair<int, uint16_t>> markers;  // order positions made markers after loading
    std::vector<int> starts;
    std::vector<int> patterns;  // each subsong's length in patterns
};

const SubsongCase CASES[] = {
    {"OneSongWrapsRound", {-1, -1}, {}, {0}, {2}},
    {"EachSongLoopsOnItself", {-1, 0, 2, -1, 3}, {}, {0, 2, 3}, {2, 1, 2}},
    {"AnOrderOnlyJumpedOver", {2, -1, 0}, {}, {0, 1}, {2, 1}},
    {"ASongLoopsBackIntoAnother", {-1, 0, -1, 0}, {}, {0, 2}, {2, 2}},
    {"EndMarkersSeparate",
     {-1, -1, -1, -1, -1, -1, -1},
     {{2, ORDER_END}, {5, ORDER_END}},
     {0, 3, 6},
     {2, 2, 1}},
    {"SkipMarkersArePassedOver",
     {-1, -1, -1, -1, -1},
     {{1, ORDER_SKIP}, {3, ORDER_END}},
     {0, 4},
     {2, 1}},
};

enum class Written { XM, MOD, S3M };

class Subsongs : public ::testing::TestWithParam<std::tuple<SubsongCase, Written>> {};

// XM and MOD order lists hold no markers: they go in after loading. An S3M file has its own.
TEST_P(Subsongs, StartAndLengthOfEach) {
    const auto& [c, format] = GetParam();
    SongPtr song = loadOwnedSong(format == Written::XM    ? subsongXm(c.jumps)
                                 : format == Written::MOD ? subsongMod(c.jumps)
                                                          : subsongS3m(c.jumps, c.markers));
    ASSERT_TRUE(song);
    for (const auto& [order, marker] : c.markers) {
        if (format == Written::S3M) {
            EXPECT_EQ(song->orderTable[order], marker);
        }
        song->orderTable[order] = marker;
    }
    SubsongList list;
    ASSERT_TRUE(findSubsongs(song.get(), 44100, 3600 * 44100, &list));
    ASSERT_EQ(list.count, static_cast<int>(c.starts.size()));
    EXPECT_FALSE(list.cut);
    int32_t visits = 0;
    for (int k = 0; k < list.count; ++k) {
        EXPECT_EQ(list.songs[k].order, c.starts[k]) << k;
        EXPECT_EQ(list.songs[k].row, 0);
        EXPECT_EQ(list.songs[k].frames, c.patterns[k] * PATTERN_FRAMES) << k;
        EXPECT_TRUE(list.songs[k].cameRound);
        EXPECT_EQ(list.songs[k].firstVisit, visits);
        EXPECT_EQ(list.songs[k].visitCount, c.patterns[k] * SUBSONG_ROWS);
        visits += list.songs[k].visitCount;
        EXPECT_EQ(subsongOfVisit(&list, firstVisitOfOrder(&list, c.starts[k])), k);
    }
    releaseSubsongs(&list);
}

std::string caseName(const ::testing::TestParamInfo<std::tuple<SubsongCase, Written>>& info) {
    static const char* const FORMATS[] = {"Xm", "Mod", "S3m"};
    return std::string(std::get<0>(info.param).name) +
           FORMATS[static_cast<int>(std::get<1>(info.param))];
}

INSTANTIATE_TEST_SUITE_P(Modules, Subsongs,
                         ::testing::Combine(::testing::ValuesIn(CASES),
                                            ::testing::Values(Written::XM, Written::MOD,
                                                              Written::S3M)),
                         caseName);

// A subsong played alone goes back to its own start where it would run into an earlier one, and
// counts that as coming round; a song that never comes round is cut at the frames allowed.
TEST(SubsongPlay, GoesBackToItsStartAndPassesAreCut) {
    SongPtr song = loadOwnedSong(subsongXm({-1, 0, -1, 0}));
    ASSERT_TRUE(song);
    SubsongList list;
    ASSERT_TRUE(findSubsongs(song.get(), 44100, 3600 * 44100, &list));
    ASSERT_EQ(list.count, 2);
    uint8_t earlier[PLAYED_ROW_BYTES] = {};
    markVisits(&list, 0, list.songs[1].firstVisit, earlier);
    PlayState* state = createPlayState(song.get());
    Voice voices[VOICE_COUNT];
    resetVoices(voices);
    startSongPosition(state, voices, 44100);
    startSubsongAt(state, 2, 0, earlier);
    std::vector<int32_t> orders;
    const int64_t frames =
        playPass(state, INT64_MAX, nullptr, [&](int32_t order, int32_t row, int64_t) {
            if (row == 0) orders.push_back(order);
        });
    EXPECT_EQ(frames, list.songs[1].frames);
    EXPECT_EQ(orders, (std::vector<int32_t>{2, 3}));
    EXPECT_EQ(state->orderPosition, 2);
    EXPECT_EQ(currentRow(state), 0);
    destroyPlayState(state);
    releaseSubsongs(&list);

    // Cut in the middle of each order, every order starts a song of its own.
    ASSERT_TRUE(findSubsongs(song.get(), 44100, PATTERN_FRAMES / 2, &list));
    ASSERT_EQ(list.count, 4);
    for (int k = 0; k < list.count; ++k) {
        EXPECT_EQ(list.songs[k].order, k);
        EXPECT_EQ(list.songs[k].frames, PATTERN_FRAMES / 2);
        EXPECT_FALSE(list.songs[k].cameRound);
    }
    releaseSubsongs(&list);
}

}  // namespace
