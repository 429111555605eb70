// brom-play --info and the usage rules, run as a program.
#include <gtest/gtest.h>

#include <cstdio>

#include "module/xm_writer.h"
#include "tests/support/mod_writer.h"
#include "tests/support/run_program.h"

namespace {

std::vector<uint8_t> smallModule() {
    XmSong xm = makeXmSong(4, 2);
    xm.orders = {0, 1, 0};
    cellAt(xm.patterns[0], 4, 0, 0) = {49, 1, 0, 0, 0};
    XmSample s = makeSample(sineFrames(64, 32, 80), false);
    s.loopType = 1;
    s.loopLength = 64;
    xm.instruments.push_back(makeInstrument(s));
    return writeXm(xm);
}

int countLines(const std::string& text) {
    int lines = 0;
    for (char c : text) lines += c == '\n';
    return lines;
}

}  // namespace

TEST(BromPlayInfo, SummarisesAValidModule) {
    std::string path = writeTempFile("info.xm", smallModule());
    ProgramResult r = runBromPlay("--info " + path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.err, "");
    EXPECT_NE(r.out.find("channels        4"), std::string::npos);
    EXPECT_NE(r.out.find("orders          0 1 0"), std::string::npos);
    EXPECT_NE(r.out.find("pattern   1"), std::string::npos);
    EXPECT_NE(r.out.find("loop forward 0+64"), std::string::npos);
}

TEST(BromPlayInfo, EveryModeReadsAMod) {
    ModSong mod = makeModSong(4, 1);
    mod.title = "mod title";
    mod.samples[0] = makeModSample(squareWave(64, 16, 100), 0, 32);
    mod.samples[0].name = "square";
    modCellAt(mod, 0, 0, 1) = {modPeriod(2, 0), 1, 0, 0};
    // Named as an XM: the bytes decide.
    std::string path = writeTempFile("really-a-mod.xm", writeMod(mod));
    ProgramResult info = runBromPlay("--info " + path);
    EXPECT_EQ(info.status, 0) << info.err;
    EXPECT_NE(info.out.find("title           mod title\n"), std::string::npos);
    EXPECT_NE(info.out.find("tracker         ProTracker M.K.\n"), std::string::npos);
    EXPECT_NE(info.out.find("loop forward 0+64  volume 64  finetune    0  panning channel"),
              std::string::npos);
    EXPECT_NE(info.out.find("square"), std::string::npos);

    ProgramResult trace = runBromPlay("--trace " + path + " --ticks 1");
    EXPECT_EQ(trace.status, 0) << trace.err;
    // Channel 1 (right) has its note: volume 64, panning 255.
    EXPECT_NE(trace.out.find("0\t0\t0\t0\t1\t49\t1\t1712\t0\t64\t0\t255\t"), std::string::npos)
        << trace.out;

    std::string wav = testing::TempDir() + "mod.wav";
    ProgramResult render = runBromPlay("--render " + wav + " " + path);
    EXPECT_EQ(render.status, 0) << render.err;
    FILE* f = fopen(wav.c_str(), "rb");
    ASSERT_TRUE(f);
    fseek(f, 0, SEEK_END);
    // One 64-row pattern at speed 6 and tempo 125 lasts 7.68 s: 338688 frames of 4 bytes.
    EXPECT_EQ(ftell(f), 44 + 4 * 338688);
    fclose(f);
}

TEST(BromPlayInfo, BadFilesGetOneLineAndStatusOne) {
    std::vector<uint8_t> module = smallModule();
    std::vector<uint8_t> cutBeforeSamples(module.begin(), module.begin() + 400);
    std::vector<uint8_t> notXm = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    const std::string files[] = {
        testing::TempDir() + "does-not-exist.xm",
        writeTempFile("not.xm", notXm),
        writeTempFile("cut.xm", cutBeforeSamples),
    };
    for (const std::string& path : files) {
        ProgramResult r = runBromPlay("--info " + path);
        EXPECT_EQ(r.status, 1) << path;
        EXPECT_EQ(r.out, "") << path;
        EXPECT_EQ(countLines(r.err), 1) << r.err;
        EXPECT_NE(r.err.find(path), std::string::npos) << r.err;
    }
}

TEST(BromPlayInfo, WrongUsageExitsTwo) {
    for (const char* args : {"", "--info", "--bogus x.xm", "--trace x.xm --ticks abc",
                             "--render out.wav x.xm --seconds"}) {
        ProgramResult r = runBromPlay(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_NE(r.err.find("usage"), std::string::npos) << args;
    }
}
