// brom-play's render and play modes, run as a program.
#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <iterator>

#include "module/xm_writer.h"
#include "tests/support/run_program.h"

namespace {

std::vector<uint8_t> toneModule() {
    XmSong xm = makeXmSong(2, 1);
    cellAt(xm.patterns[0], 2, 0, 0) = {49, 1, 0, 0, 0};
    XmSample s = makeSample(sineFrames(64, 32, 80), false);
    s.loopType = 1;
    s.loopLength = 64;
    xm.instruments.push_back(makeInstrument(s));
    return writeXm(xm);
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

uint32_t le32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

uint16_t le16(const std::vector<uint8_t>& b, size_t at) {
    return static_cast<uint16_t>(b[at] | b[at + 1] << 8);
}

int countLines(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

TEST(BromPlayRender, WritesASixteenBitStereoWavOfTheAskedLength) {
    std::string module = writeTempFile("tone.xm", toneModule());
    std::string wav = testing::TempDir() + "tone.wav";
    ProgramResult r = runBromPlay("--force --render " + wav + " " + module + " --seconds 1.5");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.err, "");  // no progress bar when stderr is no terminal
    std::vector<uint8_t> b = readBytes(wav);
    const uint32_t dataBytes = 66150 * 4;  // 1.5 s at 44100
    ASSERT_EQ(b.size(), 44 + dataBytes);
    EXPECT_EQ(std::string(b.begin(), b.begin() + 4), "RIFF");
    EXPECT_EQ(le32(b, 4), 36 + dataBytes);
    EXPECT_EQ(std::string(b.begin() + 8, b.begin() + 16), "WAVEfmt ");
    EXPECT_EQ(le32(b, 16), 16u);
    EXPECT_EQ(le16(b, 20), 1);  // PCM
    EXPECT_EQ(le16(b, 22), 2);  // stereo
    EXPECT_EQ(le32(b, 24), 44100u);
    EXPECT_EQ(le32(b, 28), 176400u);
    EXPECT_EQ(le16(b, 32), 4);
    EXPECT_EQ(le16(b, 34), 16);
    EXPECT_EQ(std::string(b.begin() + 36, b.begin() + 40), "data");
    EXPECT_EQ(le32(b, 40), dataBytes);
}

TEST(BromPlayRender, EndsWhereTheSongFirstRepeats) {
    // One pattern of 64 rows at speed 6, 882 frames a tick: it repeats after 338,688 frames.
    std::string module = writeTempFile("tone.xm", toneModule());
    std::string wav = testing::TempDir() + "whole.wav";
    ProgramResult r = runBromPlay("--force --render " + wav + " " + module);
    EXPECT_EQ(r.status, 0) << r.err;
    std::vector<uint8_t> b = readBytes(wav);
    EXPECT_EQ(b.size(), 44u + 338688 * 4);
    EXPECT_EQ(le32(b, 40), 338688u * 4);
    // --seconds longer than the song still ends at the repeat; shorter cuts it.
    r = runBromPlay("--force --render " + wav + " " + module + " --seconds 60");
    EXPECT_EQ(readBytes(wav).size(), 44u + 338688 * 4);
    r = runBromPlay("--force --render " + wav + " " + module + " --seconds 0.5");
    EXPECT_EQ(readBytes(wav).size(), 44u + 22050 * 4);
}

TEST(BromPlayRender, FailuresGetOneLineAndStatusOne) {
    std::string module = writeTempFile("tone.xm", toneModule());
    std::string missing = testing::TempDir() + "no-such-module.xm";
    ProgramResult r = runBromPlay("--force --render " + testing::TempDir() + "x.wav " + missing);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;

    std::string badOut = testing::TempDir() + "no-such-folder/x.wav";
    r = runBromPlay("--force --render " + badOut + " " + module + " --seconds 1");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(badOut), std::string::npos) << r.err;
}

TEST(BromPlayRender, ALengthBeyondWhatAWavHoldsIsAUsageError) {
    std::string module = writeTempFile("tone.xm", toneModule());
    ProgramResult r = runBromPlay("--force --render " + testing::TempDir() + "x.wav " + module +
                                  " --seconds 100000");
    EXPECT_EQ(r.status, 2);
    EXPECT_EQ(countLines(r.err), 1) << r.err;
}

// The libraries a run of brom-play maps, as the dynamic loader lists them (dlopen's among them),
// written to a file of its own: playing silences standard error while it opens the device.
std::string librariesMappedBy(const std::string& arguments) {
    std::string log = testing::TempDir() + "loader-" + std::to_string(getpid());
    runProgram("rm -f " + log + ".*; LD_DEBUG=libs LD_DEBUG_OUTPUT=" + log + " " + arguments);
    return runProgram("cat " + log + ".*").out;
}

TEST(BromPlay, MapsSdlOnlyToPlay) {
    std::string module = writeTempFile("tone.xm", toneModule());
    std::string rendering =
        librariesMappedBy(std::string(BROM_PLAY_PATH) + " --force --render " + testing::TempDir() +
                          "x.wav " + module + " --seconds 0.5");
    EXPECT_NE(rendering.find("libc.so"), std::string::npos) << rendering;
    for (const char* library : {"libSDL2", "libX11", "libasound", "libpulse", "libwayland"})
        EXPECT_EQ(rendering.find(library), std::string::npos) << library;
#if BROM_PLAY_HAS_SDL
    std::string playing =
        librariesMappedBy("SDL_AUDIODRIVER=no-such-driver " + std::string(BROM_PLAY_PATH) + " " +
                          module + " </dev/null");
    EXPECT_NE(playing.find("libSDL2"), std::string::npos) << playing;
#endif
}

TEST(BromPlay, WithoutASoundDeviceSaysSoInOneLine) {
    std::string module = writeTempFile("tone.xm", toneModule());
    ProgramResult r = runProgram("SDL_AUDIODRIVER=no-such-driver " + std::string(BROM_PLAY_PATH) +
                                 " " + module + " </dev/null");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find("no sound device"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
}

}  // namespace
