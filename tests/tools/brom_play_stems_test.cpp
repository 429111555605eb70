// brom-play --stems: the files' names and count (silent channels left out and said), names made
// safe by instrument, --rate and --float applied, and the float stems adding up to the float
// render within the library's bound.
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <set>

#include "module/xm_writer.h"
#include "tests/support/run_program.h"

namespace {

// Four channels, the third never plays; two instruments with names no file system likes whole.
const std::string& modulePath() {
    static const std::string path = [] {
        XmSong xm = makeXmSong(4, 1);
        xm.speed = 3;
        xm.orders = {0};
        xm.patterns[0] = makePattern(16, 4);
        cellAt(xm.patterns[0], 4, 0, 0) = {49, 1, 0, 0, 0};
        cellAt(xm.patterns[0], 4, 4, 1) = {56, 2, 0, 0x8, 0xE0};
        cellAt(xm.patterns[0], 4, 8, 3) = {61, 1, 0, 0x8, 0x20};
        xm.instruments.push_back(makeInstrument(makeSample(sineFrames(400, 40, 9000), true)));
        xm.instruments.push_back(makeInstrument(makeSample(sineFrames(400, 25, 7000), true)));
        xm.instruments[0].name = "Bass / Drum?*";
        xm.instruments[1].name = "..\\lead";
        return writeTempFile("stems.xm", writeXm(xm));
    }();
    return path;
}

std::string folder(const std::string& name) {
    const std::string path = testing::TempDir() + std::to_string(getpid()) + "-stems-" + name;
    std::filesystem::remove_all(path);
    return path;
}

std::set<std::string> filesIn(const std::string& path) {
    std::set<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(path)) {
        names.insert(entry.path().filename().string());
    }
    return names;
}

// The float samples of a WAV file as brom-play writes it (data chunk last), and its rate.
std::vector<float> floatSamples(const std::string& path, uint32_t* rate = nullptr) {
    const std::vector<uint8_t> wav = readFileBytes(path);
    if (rate && wav.size() >= 28) memcpy(rate, &wav[24], 4);
    const char tag[] = "data";
    auto at = std::search(wav.begin(), wav.end(), tag, tag + 4);
    if (at == wav.end()) return {};
    std::vector<float> samples(static_cast<size_t>(wav.end() - at - 8) / 4);
    memcpy(samples.data(), &*(at + 8), samples.size() * 4);
    return samples;
}

TEST(Stems, OneFilePerSoundingChannelAndTheSilentOnesSaid) {
    const std::string out = folder("channels");
    const ProgramResult r = runBromPlay("--stems " + out + " " + modulePath());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(filesIn(out), (std::set<std::string>{"01.wav", "02.wav", "04.wav"}));
    EXPECT_NE(r.out.find("3 channel stems"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("silent, no file: channel 3\n"), std::string::npos) << r.out;
    // Again: the files are there, so only --force writes over them.
    EXPECT_EQ(runBromPlay("--stems " + out + " " + modulePath()).status, 1);
    EXPECT_EQ(runBromPlay("--force --stems " + out + " " + modulePath()).status, 0);
}

TEST(Stems, ByInstrumentNamedSafely) {
    const std::string out = folder("instruments");
    const ProgramResult r =
        runBromPlay("--stems " + out + " --stems-by instrument " + modulePath());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(filesIn(out), (std::set<std::string>{"01-Bass_Drum.wav", "02-lead.wav"}));
    EXPECT_EQ(runBromPlay("--stems " + out + " --stems-by voice " + modulePath()).status, 2);
}

TEST(Stems, FloatStemsAddUpToTheFloatRenderAtTheRateAsked) {
    const std::string out = folder("float");
    const std::string mixPath = out + "-mix.wav";
    ASSERT_EQ(runBromPlay("--float --rate 22050 --stems " + out + " " + modulePath()).status, 0);
    ASSERT_EQ(
        runBromPlay("--force --float --rate 22050 --render " + mixPath + " " + modulePath()).status,
        0);
    uint32_t rate = 0;
    const std::vector<float> mix = floatSamples(mixPath);
    std::vector<std::vector<float>> stems;
    for (const std::string& name : filesIn(out)) {
        stems.push_back(floatSamples(out + "/" + name, &rate));
        ASSERT_EQ(stems.back().size(), mix.size()) << name;
    }
    EXPECT_EQ(rate, 22050u);
    ASSERT_EQ(stems.size(), 3u);
    ASSERT_FALSE(mix.empty());
    for (size_t k = 0; k < mix.size(); ++k) {
        double sum = 0, magnitude = 0;
        for (const auto& stem : stems) {
            sum += stem[k];
            magnitude += std::fabs(stem[k]);
        }
        ASSERT_LE(std::fabs(static_cast<float>(sum) - mix[k]),
                  std::ldexp(std::max(1.0, magnitude), -19))
            << "sample " << k;
    }
}

}  // namespace
