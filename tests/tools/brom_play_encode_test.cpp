// brom-play --render to FLAC, Opus and MP3, decoded again by Debian's own tools (flac, opusdec,
// mpg123): FLAC gives back exactly the WAV render's frames; Opus and MP3 the same number of
// frames (their headers carry the encoder's delay and padding) and the same loudness within
// 0.5 dB, and follow the render closely: the difference is 20 dB below it (about 30 dB here;
// swapped channels would make it louder than the render).
#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "module/xm_writer.h"
#include "tests/support/run_program.h"
#include "tests/tools/two_order_module.h"

namespace {

// The player tests' two-order module with a Latin-1 title.
const std::string& modulePath() {
    static const std::string path = writeTempFile("encode.xm", twoOrderModule("Caf\xe9 chords"));
    return path;
}

std::string tempPath(const std::string& name) {
    return testing::TempDir() + std::to_string(getpid()) + "-encode-" + name;
}

// The 16-bit frames of a WAV file as brom-play and the decoders write it (data chunk last).
std::vector<int16_t> wavSamples(const std::string& path) {
    const std::vector<uint8_t> wav = readFileBytes(path);
    const char tag[] = "data";
    auto at = std::search(wav.begin(), wav.end(), tag, tag + 4);
    if (at == wav.end()) return {};
    std::vector<int16_t> samples(static_cast<size_t>(wav.end() - at - 8) / 2);
    memcpy(samples.data(), &*(at + 8), samples.size() * 2);
    return samples;
}

double decibels(double power) { return 10 * std::log10(power); }

// The mean square of `a - b` (of `a` with `b` empty).
double power(const std::vector<int16_t>& a, const std::vector<int16_t>& b = {}) {
    double sum = 0;
    for (size_t k = 0; k < a.size(); ++k) {
        const double d = static_cast<double>(a[k]) - (b.empty() ? 0.0 : b[k]);
        sum += d * d;
    }
    return sum / static_cast<double>(a.size());
}

struct Codec {
    const char* extension;
    const char* decode;  // the command: "{in}" and "{out}" stand for the files
    bool lossless;
};

class BromPlayEncode : public testing::TestWithParam<Codec> {};

TEST_P(BromPlayEncode, DecodesToTheRender) {
    const Codec& codec = GetParam();
    const std::string wav = tempPath("reference.wav");
    const std::string encoded = tempPath(std::string("song.") + codec.extension);
    const std::string decoded = tempPath(std::string(codec.extension) + ".wav");
    ASSERT_EQ(runBromPlay("--force --render " + wav + " " + modulePath()).status, 0);
    const ProgramResult r = runBromPlay("--force --render " + encoded + " " + modulePath());
    ASSERT_EQ(r.status, 0) << r.err;
    std::string command = codec.decode;
    command.replace(command.find("{in}"), 4, encoded);
    command.replace(command.find("{out}"), 5, decoded);
    const ProgramResult d = runProgram(command);
    ASSERT_EQ(d.status, 0) << d.err;
    const std::vector<int16_t> expected = wavSamples(wav);
    const std::vector<int16_t> got = wavSamples(decoded);
    ASSERT_EQ(expected.size(), 2 * 2 * 16 * 3 * 882u);
    ASSERT_EQ(got.size(), expected.size());
    // The tags: the title (Latin-1 in the file, UTF-8 in FLAC and Opus) and the tracker.
    const std::vector<uint8_t> bytes = readFileBytes(encoded);
    const std::string text(bytes.begin(), bytes.end());
    EXPECT_NE(text.find(codec.lossless || codec.extension[0] == 'o' ? "Caf\xc3\xa9 chords"
                                                                    : "Caf\xe9 chords"),
              std::string::npos);
    EXPECT_NE(text.find("TRACKER"), std::string::npos);
    if (codec.lossless) {
        EXPECT_EQ(got, expected);
        return;
    }
    EXPECT_NEAR(decibels(power(got)), decibels(power(expected)), 0.5);
    EXPECT_LT(decibels(power(got, expected)), decibels(power(expected)) - 20);
}

INSTANTIATE_TEST_SUITE_P(
    Codecs, BromPlayEncode,
    testing::Values(Codec{"flac", "flac -s -d -f -o {out} {in}", true},
                    Codec{"opus", "opusdec --quiet --rate 44100 {in} {out}", false},
                    Codec{"mp3", "mpg123 -q -w {out} {in}", false}),
    [](const testing::TestParamInfo<Codec>& info) { return std::string(info.param.extension); });

TEST(BromPlayEncodeOptions, FormatChoosesOverTheNameAndPipesWork) {
    // FLAC through a pipe: no going back to the stream's header, the frames all the same.
    const std::string wav = tempPath("pipe-reference.wav");
    const std::string decoded = tempPath("pipe.wav");
    ASSERT_EQ(runBromPlay("--force --render " + wav + " " + modulePath()).status, 0);
    const ProgramResult r = runProgram(std::string(BROM_PLAY_PATH) + " --render - --format FLAC " +
                                       modulePath() + " | flac -s -d -f -o " + decoded + " -");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(wavSamples(decoded), wavSamples(wav));
    // A folder of renders takes the format's extension.
    const std::string folder = tempPath("folder");
    const std::string other = writeTempFile("other.xm", readFileBytes(modulePath()));
    const ProgramResult f =
        runBromPlay("--force --render " + folder + "/ --format opus " + modulePath() + " " + other);
    ASSERT_EQ(f.status, 0) << f.err;
    for (const std::string& path : {modulePath(), other}) {
        const std::string name = path.substr(path.rfind('/') + 1);
        EXPECT_FALSE(
            readFileBytes(folder + "/" + name.substr(0, name.size() - 3) + ".opus").empty());
    }
}

TEST(BromPlayEncodeOptions, RefusesWhatTheFormatCannotTake) {
    const std::string out = tempPath("refused.flac");
    ProgramResult r = runBromPlay("--render " + out + " --quality 9 " + modulePath());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--quality 9: FLAC takes a compression level from 0 to 8"),
              std::string::npos)
        << r.err;
    r = runBromPlay("--render " + out + " --float " + modulePath());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--float is for WAV files"), std::string::npos) << r.err;
    r = runBromPlay("--render " + out + " --format ogg " + modulePath());
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("--format ogg: expected wav, flac, opus or mp3"), std::string::npos)
        << r.err;
}

}  // namespace
