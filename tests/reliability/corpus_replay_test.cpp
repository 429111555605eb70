// The fuzzers' seeds, replayed through the fuzz targets in every build: each seed is a valid module
// that loads and keeps the song rules, and each target takes it without a fault. The small seeds
// are kept in tests/fuzz/corpus/, the real-sized ones are written by the build. Inputs that once
// made a target fail are kept in tests/fuzz/regressions/ and replayed the same way. The public
// library's target replays the same seeds with a script after each (written by the build) and
// its own findings from tests/fuzz/regressions-api/.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "audio/scheduler.h"
#include "tests/fuzz/api_target.h"
#include "tests/fuzz/fuzz_targets.h"
#include "tests/support/load_bytes.h"

namespace {

namespace fs = std::filesystem;

std::vector<fs::path> filesIn(const fs::path& dir) {
    std::vector<fs::path> files;
    if (fs::is_directory(dir)) {
        for (const auto& entry : fs::directory_iterator(dir)) {
            if (entry.is_regular_file()) files.push_back(entry.path());
        }
    }
    std::sort(files.begin(), files.end());
    return files;
}

std::vector<uint8_t> readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

const fs::path fuzzDir = BROM_FUZZ_DIR;
const fs::path realSizedDir = BROM_FUZZ_SEEDS_DIR;

std::vector<fs::path> allSeeds() {
    std::vector<fs::path> seeds = filesIn(fuzzDir / "corpus");
    std::vector<fs::path> realSized = filesIn(realSizedDir);
    seeds.insert(seeds.end(), realSized.begin(), realSized.end());
    return seeds;
}

}  // namespace

TEST(SeedCorpus, EverySeedLoadsAndKeepsTheSongRules) {
    // One small seed per feature of the format and per effect.
    ASSERT_GE(filesIn(fuzzDir / "corpus").size(), 50u);
    // The real-sized songs, the composer's song and the stand-in song.
    ASSERT_GE(filesIn(realSizedDir).size(), 5u);
    for (const fs::path& seed : allSeeds()) {
        SongPtr song = loadOwnedSong(readFile(seed));
        ASSERT_TRUE(song) << seed.filename() << ": " << songLoadError();
        EXPECT_EQ(songRuleBroken(song.get()), nullptr) << seed.filename();
    }
}

std::vector<fs::path> seedsAndRegressions() {
    std::vector<fs::path> inputs = allSeeds();
    std::vector<fs::path> regressions = filesIn(fuzzDir / "regressions");
    inputs.insert(inputs.end(), regressions.begin(), regressions.end());
    return inputs;
}

TEST(SeedCorpus, TheLoadTargetTakesEverySeedAndRegression) {
    for (const fs::path& input : seedsAndRegressions()) {
        std::vector<uint8_t> bytes = readFile(input);
        SCOPED_TRACE(input.filename().string());
        EXPECT_EQ(fuzzLoadModule(bytes.data(), bytes.size()), 0);
    }
}

TEST(SeedCorpus, ThePlayTargetTakesEverySeedAndRegression) {
    for (const fs::path& input : seedsAndRegressions()) {
        std::vector<uint8_t> bytes = readFile(input);
        SCOPED_TRACE(input.filename().string());
        EXPECT_EQ(fuzzPlayModule(bytes.data(), bytes.size()), 0);
    }
}

TEST(SeedCorpus, TheApiTargetTakesEverySeedAndRegression) {
    std::vector<fs::path> inputs = filesIn(fs::path(BROM_FUZZ_API_SEEDS_DIR "-small"));
    ASSERT_EQ(inputs.size(), seedsAndRegressions().size() - filesIn(realSizedDir).size());
    for (const char* more :
         {BROM_FUZZ_API_SEEDS_DIR "-real-sized", BROM_FUZZ_DIR "/regressions-api"}) {
        std::vector<fs::path> files = filesIn(more);
        inputs.insert(inputs.end(), files.begin(), files.end());
    }
    for (const fs::path& input : inputs) {
        std::vector<uint8_t> bytes = readFile(input);
        SCOPED_TRACE(input.filename().string());
        EXPECT_EQ(fuzzApiScript(bytes.data(), bytes.size()), 0);
    }
}
