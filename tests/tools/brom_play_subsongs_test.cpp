// brom-play and the songs of one file: --info lists them, --subsong plays one, --subsongs all
// renders each into a file of its own, --end says how the last pass ends.
#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <string>

#include "tests/support/run_program.h"
#include "tests/support/subsong_modules.h"

namespace {

// Orders 0-1, 2 and 3-4: three songs of 2, 1 and 2 patterns.
const std::string& threeSongs() {
    static const std::string path = writeTempFile("three.xm", subsongXm({-1, 0, 2, -1, 3}));
    return path;
}

// The frames of a WAV file of 16-bit stereo.
int64_t wavFrames(const std::string& path) {
    const auto bytes = std::filesystem::file_size(path);
    return bytes > 44 ? static_cast<int64_t>(bytes - 44) / 4 : 0;
}

std::string tempFolder(const std::string& name) {
    const std::string folder = testing::TempDir() + std::to_string(getpid()) + "-" + name + "/";
    std::filesystem::remove_all(folder);
    return folder;
}

TEST(BromPlaySubsongs, InfoListsEachSongAndJsonHasThem) {
    ProgramResult r = runBromPlay("--info " + threeSongs());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("subsongs        3\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("song 2          order 2 row 0  0:00.960\n"), std::string::npos);
    EXPECT_NE(r.out.find("song 3          order 3 row 0  0:01.920\n"), std::string::npos);
    r = runBromPlay("--info --json " + threeSongs());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"subsongs\": [{\"order\": 0, \"row\": 0, \"duration_ms\": 1920, "
                         "\"name\": \"\"}, {\"order\": 2, \"row\": 0, \"duration_ms\": 960, "),
              std::string::npos)
        << r.out;
}

TEST(BromPlaySubsongs, OneOrEverySongRendersAndTheEndIsChosen) {
    const std::string folder = tempFolder("songs");
    ProgramResult r = runBromPlay("--render " + folder + " --subsongs all " + threeSongs());
    ASSERT_EQ(r.status, 0) << r.err;
    const std::string stem = folder + std::filesystem::path(threeSongs()).stem().string();
    const int64_t patterns[] = {2, 1, 2};
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(wavFrames(stem + "-song" + std::to_string(k + 1) + ".wav"),
                  patterns[k] * PATTERN_FRAMES);
    }
    const std::string wav = folder + "one.wav";
    r = runBromPlay("--render " + wav + " --subsong 3 --end fade:0.5 " + threeSongs());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(wavFrames(wav), 2 * PATTERN_FRAMES + 22050);
    r = runBromPlay("--force --render " + wav + " --subsong 3 --end loop --seconds 3 " +
                    threeSongs());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(wavFrames(wav), 3 * 44100);

    r = runBromPlay("--force --render " + wav + " --subsong 4 " + threeSongs());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--subsong 4: the file holds 3 songs"), std::string::npos) << r.err;
    for (const char* wrong : {"--end loop", "--end fade:0", "--end fade:601", "--end never",
                              "--subsongs some", "--subsong 0", "--subsongs all --subsong 1"}) {
        EXPECT_EQ(runBromPlay("--render " + folder + " " + wrong + " " + threeSongs()).status, 2)
            << wrong;
    }
    EXPECT_EQ(runBromPlay("--render " + wav + " --subsongs all " + threeSongs()).status, 2);
}

}  // namespace
