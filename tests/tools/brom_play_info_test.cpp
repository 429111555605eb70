// brom-play --info and the usage rules, run as a program.
#include <gtest/gtest.h>

#include "module/xm_writer.h"
#include "tests/support/run_program.h"

namespace {

// Names hold a quote, a backslash and a byte that is not UTF-8; one pass is 3 orders of 64 rows
// at speed 6 and 125 bpm: 23.04 s.
std::vector<uint8_t> smallModule() {
    XmSong xm = makeXmSong(4, 2);
    xm.name = "Caf\xe9 \"Brom\"";
    xm.orders = {0, 1, 0};
    cellAt(xm.patterns[0], 4, 0, 0) = {49, 1, 0, 0, 0};
    XmSample s = makeSample(sineFrames(64, 32, 80), false);
    s.name = "sine\\wave";
    s.loopType = 1;
    s.loopLength = 64;
    xm.instruments.push_back(makeInstrument(s));
    xm.instruments[0].name = "lead";
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
    EXPECT_NE(r.out.find("title           Caf\xe9 \"Brom\"\n"), std::string::npos);
    EXPECT_NE(r.out.find("tracker         brom writer\n"), std::string::npos);
    EXPECT_NE(r.out.find("duration        0:23.040\n"), std::string::npos);
    EXPECT_NE(r.out.find("instrument   1  lead "), std::string::npos);
    EXPECT_NE(r.out.find("sample  0  sine\\wave "), std::string::npos);
    EXPECT_NE(r.out.find("channels        4"), std::string::npos);
    EXPECT_NE(r.out.find("orders          0 1 0"), std::string::npos);
    EXPECT_NE(r.out.find("pattern   1"), std::string::npos);
    EXPECT_NE(r.out.find("loop forward 0+64"), std::string::npos);
}

TEST(BromPlayInfo, JsonHoldsEveryFieldWithItsNamesEscaped) {
    std::string path = writeTempFile("info.xm", smallModule());
    ProgramResult r = runBromPlay("--info --json " + path);
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& field :
         {"\"file\": \"" + path + "\"", std::string("\"title\": \"Caf\\u00e9 \\\"Brom\\\"\""),
          std::string("\"tracker\": \"brom writer\""), std::string("\"channels\": 4,"),
          std::string("\"duration_ms\": 23040,"), std::string("\"song_length\": 3,"),
          std::string("\"restart\": 0,"), std::string("\"patterns\": 2,"),
          std::string("\"speed\": 6,"), std::string("\"bpm\": 125,"),
          std::string("\"linear\": true,"), std::string("\"orders\": [0, 1, 0],"),
          std::string("{\"name\": \"lead\", \"samples\": ["),
          std::string("{\"name\": \"sine\\\\wave\", \"length\": 64, \"loop_start\": 0, "
                      "\"loop_length\": 64, \"loop\": \"forward\", \"volume\": 64, "
                      "\"finetune\": 0, \"panning\": 128, \"relative_note\": 0, \"bits\": 8}")}) {
        EXPECT_NE(r.out.find(field), std::string::npos) << field << " in\n" << r.out;
    }
    EXPECT_EQ(r.out.front(), '{');
    EXPECT_EQ(r.out.substr(r.out.size() - 2), "}\n");
}

TEST(BromPlayInfo, SeveralFilesGoOnPastABadOne) {
    std::string path = writeTempFile("info.xm", smallModule());
    std::string missing = testing::TempDir() + "no-such.xm";
    ProgramResult r = runBromPlay("--info --json " + path + " " + missing + " " + path);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.err), 1) << r.err;
    EXPECT_NE(r.err.find(missing), std::string::npos) << r.err;
    EXPECT_EQ(r.out.substr(0, 3), "[\n{");
    EXPECT_NE(r.out.find("},\n{"), std::string::npos);
    EXPECT_EQ(r.out.substr(r.out.size() - 4), "}\n]\n");
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
    for (const char* args :
         {"", "--info", "--bogus x.xm", "--trace x.xm --ticks abc",
          "--render out.wav x.xm --seconds", "--rate 7999 x.xm", "--mute 0 x.xm", "--solo 3-1 x.xm",
          "--seek 1:60 x.xm", "--start 1:x x.xm", "--gain 25 x.xm", "--stereo 201 x.xm",
          "--repeat -2 x.xm", "--jobs 0 x.xm", "--render - a.xm b.xm", "--info --render out x.xm",
          "--start 1 --seek 2 x.xm", "--render out.wav --repeat -1 x.xm"}) {
        ProgramResult r = runBromPlay(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_EQ(r.err.rfind("brom-play: ", 0), 0u) << args << ": " << r.err;
        EXPECT_NE(r.err.find("\nusage"), std::string::npos) << args;
        EXPECT_EQ(r.out, "") << args;
    }
}

TEST(BromPlayInfo, HelpAndVersionGoToStandardOutput) {
    ProgramResult help = runBromPlay("--help");
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.out.rfind("usage", 0), 0u) << help.out;
    EXPECT_NE(help.out.find("--stereo PERCENT"), std::string::npos);
    EXPECT_EQ(help.err, "");
    ProgramResult version = runBromPlay("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "brom-play 1.0.0\n");
}
