// brom-play's options, run as a program: each one's render against the render it must agree with.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstring>

#include "module/xm_writer.h"
#include "tests/support/run_program.h"
#include "tests/tools/two_order_module.h"

namespace {

constexpr size_t PASS_FRAMES = 2 * 16 * 3 * 882;

const std::string& modulePath() {
    static const std::string path = writeTempFile("two-orders.xm", twoOrderModule());
    return path;
}

// The WAV file brom-play writes for the module with `options`.
std::vector<uint8_t> renderWav(const std::string& options) {
    // Tests run in parallel processes: each keeps its files apart.
    static int count = 0;
    const std::string wav = testing::TempDir() + std::to_string(getpid()) + "-options-" +
                            std::to_string(++count) + ".wav";
    const ProgramResult r =
        runBromPlay("--force --render " + wav + " " + modulePath() + " " + options);
    EXPECT_EQ(r.status, 0) << options << ": " << r.err;
    return readFileBytes(wav);
}

template <typename Sample>
std::vector<Sample> samplesOf(const std::vector<uint8_t>& wav, size_t headerBytes) {
    std::vector<Sample> samples(
        wav.size() > headerBytes ? (wav.size() - headerBytes) / sizeof(Sample) : 0);
    if (!samples.empty())
        memcpy(samples.data(), wav.data() + headerBytes, samples.size() * sizeof(Sample));
    return samples;
}

std::vector<int16_t> pcm(const std::string& options) {
    return samplesOf<int16_t>(renderWav(options), 44);
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

std::vector<int16_t> part(const std::vector<int16_t>& samples, size_t fromFrame, size_t toFrame) {
    return std::vector<int16_t>(samples.begin() + 2 * fromFrame, samples.begin() + 2 * toFrame);
}

TEST(BromPlayOptions, EveryRateRendersTheSameTicks) {
    // 125 bpm: a tick is rate / 50 frames at each of these rates, so the lengths scale exactly.
    for (int rate : {22050, 96000}) {
        const std::vector<uint8_t> wav = renderWav("--rate " + std::to_string(rate));
        ASSERT_GT(wav.size(), 44u);
        EXPECT_EQ(le32(wav, 24), static_cast<uint32_t>(rate));
        EXPECT_EQ((wav.size() - 44) / 4, PASS_FRAMES * rate / 44100) << rate;
    }
}

TEST(BromPlayOptions, FloatIsTheMixBeforeItsConversionToSixteenBits) {
    const std::vector<uint8_t> wav = renderWav("--float");
    ASSERT_GT(wav.size(), 58u);
    EXPECT_EQ(le32(wav, 16), 18u);  // the format record with its extension size
    EXPECT_EQ(wav[20] | wav[21] << 8, 3);  // IEEE float
    EXPECT_EQ(wav[34] | wav[35] << 8, 32);
    EXPECT_EQ(std::string(wav.begin() + 38, wav.begin() + 42), "fact");
    EXPECT_EQ(le32(wav, 46), PASS_FRAMES);
    EXPECT_EQ(std::string(wav.begin() + 50, wav.begin() + 54), "data");
    const std::vector<float> floats = samplesOf<float>(wav, 58);
    const std::vector<int16_t> shorts = pcm("");
    ASSERT_EQ(floats.size(), shorts.size());
    for (size_t k = 0; k < floats.size(); ++k) {
        const float scaled = std::nearbyint(floats[k] * 32768.0f);
        ASSERT_EQ(static_cast<int16_t>(std::fmax(-32768.0f, std::fmin(32767.0f, scaled))),
                  shorts[k])
            << k;
    }
}

TEST(BromPlayOptions, SeekGivesTheRestOfTheWholeRender) {
    const std::vector<int16_t> whole = pcm("");
    ASSERT_EQ(whole.size(), 2 * PASS_FRAMES);
    const std::vector<int16_t> sought = pcm("--seek 0.75");
    EXPECT_EQ(sought, part(whole, 33075, PASS_FRAMES));
    EXPECT_EQ(pcm("--seek 0:00.750"), sought);
}

TEST(BromPlayOptions, StartBeginsAtTheOrderAndEndsWhereThePassFromTheStartEnds) {
    const std::vector<int16_t> whole = pcm("");
    const std::vector<int16_t> started = pcm("--start 1");
    EXPECT_EQ(started, part(whole, PASS_FRAMES / 2, PASS_FRAMES));
}

TEST(BromPlayOptions, RepeatPlaysMorePasses) {
    const std::vector<int16_t> twice = pcm("--repeat 1");
    ASSERT_EQ(twice.size(), 4 * PASS_FRAMES);
    EXPECT_EQ(part(twice, 0, PASS_FRAMES), part(twice, PASS_FRAMES, 2 * PASS_FRAMES));
    EXPECT_EQ(pcm("--repeat -1 --seconds 3").size(), 2 * 132300u);
}

TEST(BromPlayOptions, SoloMutesTheOthers) {
    const std::vector<int16_t> whole = pcm("");
    const std::vector<int16_t> second = pcm("--mute 1");
    EXPECT_NE(second, whole);
    EXPECT_EQ(pcm("--solo 2"), second);
    EXPECT_EQ(pcm("--solo 1-2"), whole);
    const std::vector<int16_t> none = pcm("--mute 1,2");
    ASSERT_EQ(none.size(), whole.size());
    EXPECT_EQ(std::count(none.begin(), none.end(), 0), static_cast<long>(none.size()));
}

TEST(BromPlayOptions, GainScalesAndStereoZeroIsMono) {
    const std::vector<int16_t> whole = pcm("");
    const std::vector<int16_t> half = pcm("--gain -6.0206");
    ASSERT_EQ(half.size(), whole.size());
    for (size_t k = 0; k < whole.size(); ++k)
        ASSERT_LE(std::abs(half[k] - whole[k] / 2.0), 1.0) << k;
    const std::vector<int16_t> mono = pcm("--stereo 0");
    ASSERT_EQ(mono.size(), whole.size());
    EXPECT_NE(mono, whole);
    for (size_t k = 0; k < mono.size(); k += 2) ASSERT_EQ(mono[k], mono[k + 1]) << k;
}

TEST(BromPlayOptions, StandardOutputGetsTheBytesOfTheFile) {
    const ProgramResult piped =
        runProgram(std::string(BROM_PLAY_PATH) + " --render - --float " + modulePath() + " | cat");
    ASSERT_EQ(piped.status, 0) << piped.err;
    const std::vector<uint8_t> file = renderWav("--float");
    EXPECT_TRUE(std::vector<uint8_t>(piped.out.begin(), piped.out.end()) == file);
}

TEST(BromPlayOptions, ThreadsChangeNothingInTheSound) {
    const std::vector<uint8_t> one = renderWav("--threads 1 --repeat 2");
    ASSERT_GT(one.size(), 44u);
    EXPECT_TRUE(renderWav("--threads 3 --repeat 2") == one);
}

TEST(BromPlayOptions, AFolderRenderGoesOnPastABadFile) {
    const std::string out = testing::TempDir() + std::to_string(getpid()) + "-rendered";
    runProgram("rm -rf " + out);
    const std::string other = writeTempFile("other.xm", twoOrderModule());
    const std::string bad = writeTempFile("bad.xm", {'n', 'o', 't', ' ', 'X', 'M'});
    const ProgramResult r = runBromPlay("--force --render " + out + "/ --jobs 2 --seconds 1 " +
                                        modulePath() + " " + bad + " " + other);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(bad), std::string::npos) << r.err;
    const std::vector<uint8_t> single = renderWav("--seconds 1");
    for (const std::string& input : {modulePath(), other}) {
        const std::string name = input.substr(input.rfind('/') + 1);
        EXPECT_TRUE(readFileBytes(out + "/" + name.substr(0, name.size() - 3) + ".wav") == single)
            << name;
    }
}

// A folder of its own for a test's files, empty.
std::string freshFolder(const std::string& name) {
    const std::string folder = testing::TempDir() + std::to_string(getpid()) + "-" + name + "/";
    runProgram("rm -rf " + folder + " && mkdir -p " + folder);
    return folder;
}

TEST(BromPlayOptions, RenderNeverWritesOverAnInputNorOverAFileWithoutForce) {
    const std::string folder = freshFolder("safe");
    // A module named like a WAV file, and a file that is there already.
    const std::string module = folder + "song.wav";
    const std::string other = folder + "other.wav";
    runProgram("cp " + modulePath() + " " + module + " && (echo keep >" + other + ")");
    const std::vector<uint8_t> input = readFileBytes(module);
    for (const std::string& args :
         {"--render " + module + " " + module, "--force --render " + module + " " + module,
          "--force --render " + folder + " " + module}) {
        const ProgramResult r = runBromPlay(args);
        EXPECT_EQ(r.status, 1) << args;
        EXPECT_NE(r.err.find("is an input"), std::string::npos) << args << ": " << r.err;
        EXPECT_TRUE(readFileBytes(module) == input) << args;
    }
    ProgramResult r = runBromPlay("--render " + other + " " + module);
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(other + ": exists; --force writes over it"), std::string::npos) << r.err;
    EXPECT_EQ(readFileBytes(other).size(), 5u);
    r = runBromPlay("--force --render " + other + " " + module + " --seconds 1");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(readFileBytes(other).size(), 44u + 4 * 44100);
}

TEST(BromPlayOptions, OutIsAFileOrAFolderAsItsNameSays) {
    const std::string folder = freshFolder("out");
    runProgram("cp " + modulePath() + " " + folder + "first.xm && cp " + modulePath() + " " +
               folder + "second.xm");
    const std::string two = folder + "first.xm " + folder + "second.xm";
    // A trailing slash makes the folder, missing parents and all; an existing one needs none.
    EXPECT_EQ(runBromPlay("--render " + folder + "new/deeper/ --seconds 1 " + two).status, 0);
    EXPECT_EQ(readFileBytes(folder + "new/deeper/second.wav").size(), 44u + 4 * 44100);
    EXPECT_EQ(runBromPlay("--render " + folder + "new --seconds 1 " + folder + "first.xm").status,
              0);
    EXPECT_EQ(readFileBytes(folder + "new/first.wav").size(), 44u + 4 * 44100);
    // A .wav name is one file; a name that is neither is refused, and nothing is made.
    EXPECT_EQ(runBromPlay("--render " + folder + "both.wav " + two).status, 2);
    EXPECT_EQ(runBromPlay("--render " + folder + "wavs " + folder + "first.xm").status, 2);
    EXPECT_EQ(runProgram("ls " + folder).out, "first.xm\nnew\nsecond.xm\n");
}

TEST(BromPlayOptions, RequestsTheSongCannotMeetAreSaid) {
    struct Case {
        const char* args;
        int status;
        const char* said;
    };
    // The module has 2 channels and lasts 1.92 s.
    for (const Case& c : {
             Case{"--seek 1.95", 1, "--seek 1.950 s is past the end of the song (1.920 s)"},
             Case{"--solo 3", 1, "--solo names no channel of the song (2 channels)"},
             Case{"--solo 1,3 --seconds 0.1", 0,
                  "the song has 2 channels; --solo or --mute of "
                  "channel 3 and up left out"},
             Case{"--mute 5 --seconds 0.1", 0, "channel 5 and up left out"},
             Case{"--ticks 5 --seconds 0.1", 0, "--ticks counts only for --trace; left out"},
             Case{"--mute 1,2", 0, "the render is silent from start to end"},
         }) {
        const ProgramResult r = runBromPlay("--force --render " + testing::TempDir() + "req.wav " +
                                            modulePath() + " " + c.args);
        EXPECT_EQ(r.status, c.status) << c.args << ": " << r.err;
        EXPECT_NE(r.err.find(c.said), std::string::npos) << c.args << ": " << r.err;
    }
    const ProgramResult info = runBromPlay("--info --float " + modulePath());
    EXPECT_EQ(info.status, 0);
    EXPECT_EQ(info.err, "brom-play: --float counts only for --render and --stems; left out\n");
}

}  // namespace
