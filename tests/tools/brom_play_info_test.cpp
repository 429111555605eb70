// brom-play --info and the usage rules, run as a program.
#include <gtest/gtest.h>

#include <cstdio>

#include "module/xm_writer.h"
#include "tests/support/mod_writer.h"
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
    // The Latin-1 name as UTF-8, for the terminal.
    EXPECT_NE(r.out.find("title           Caf\xc3\xa9 \"Brom\"\n"), std::string::npos);
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
          std::string("\"tracker\": \"brom writer\""), std::string("\"message\": \"\","),
          std::string("\"channels\": 4,"), std::string("\"duration_ms\": 23040,"),
          std::string("\"song_length\": 3,"), std::string("\"restart\": 0,"),
          std::string("\"patterns\": 2,"), std::string("\"speed\": 6,"),
          std::string("\"bpm\": 125,"), std::string("\"linear\": true,"),
          std::string("\"orders\": [0, 1, 0],"), std::string("{\"name\": \"lead\", \"samples\": ["),
          std::string("{\"name\": \"sine\\\\wave\", \"length\": 64, \"loop_start\": 0, "
                      "\"loop_length\": 64, \"loop\": \"forward\", \"volume\": 64, "
                      "\"finetune\": 0, \"panning\": 128, \"relative_note\": 0, \"bits\": 8}"),
          std::string("], \"keyboard\": [{\"from\": 0, \"to\": 95, \"sample\": 0, "
                      "\"transpose\": 0}]}")}) {
        EXPECT_NE(r.out.find(field), std::string::npos) << field << " in\n" << r.out;
    }
    EXPECT_EQ(r.out.front(), '{');
    EXPECT_EQ(r.out.substr(r.out.size() - 2), "}\n");
}

TEST(BromPlayInfo, JsonOfSeveralFilesIsOneArrayWithTheFailedOnes) {
    std::string path = writeTempFile("info.xm", smallModule());
    std::string missing = testing::TempDir() + "no-such.xm";
    std::string notModule = writeTempFile("not-a-module.xm", {'n', 'o'});
    // Whatever fails, standard output stays one valid JSON value.
    for (const std::string& files :
         {path + " " + missing + " " + notModule + " " + path, missing}) {
        ProgramResult r = runProgram(std::string(BROM_PLAY_PATH) + " --info --json " + files +
                                     " | python3 -m json.tool >/dev/null && echo parses");
        EXPECT_EQ(r.out, "parses\n") << files << ": " << r.err;
    }
    ProgramResult r = runBromPlay("--info --json " + path + " " + missing + " " + notModule);
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(countLines(r.err), 2) << r.err;
    EXPECT_EQ(r.out.substr(0, 3), "[\n{");
    EXPECT_NE(r.out.find("{\"file\": \"" + missing + "\", \"error\": \"cannot open the file\"}"),
              std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("{\"file\": \"" + notModule + "\", \"error\": \""), std::string::npos);
}

TEST(BromPlayInfo, RepairedFilesSayWhatWasRepaired) {
    std::vector<uint8_t> module = smallModule();
    // 55 bytes into pattern 0's data: a 3-byte note and 52 one-byte empty cells, 13 rows of 4.
    std::vector<uint8_t> cut(module.begin(), module.begin() + 400);
    ProgramResult r = runBromPlay("--info " + writeTempFile("cut.xm", cut));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("note            pattern 0 cut short: 13 of 64 rows\n"
                         "note            pattern 1 absent: the file ends\n"
                         "note            instrument 1 absent: the file ends\n"),
              std::string::npos)
        << r.out;
    XmSong lying = makeXmSong(2, 12);
    for (XmPattern& p : lying.patterns) p.headerLength = 4;
    r = runBromPlay("--info " + writeTempFile("lying.xm", writeXm(lying)));
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out.find("note            pattern 7 header length 4 taken as 9\n"
                         "note            and 4 more repairs\n"),
              std::string::npos)
        << r.out;
}

TEST(BromPlayInfo, EveryModeSaysOnceThatAFileWasRepaired) {
    std::vector<uint8_t> module = smallModule();
    std::vector<uint8_t> cut(module.begin(), module.begin() + 400);
    const std::string path = writeTempFile("cut.xm", cut);
    const std::string note = path +
                             ": damaged or of an older layout, read with 3 repairs: pattern 0 "
                             "cut short: 13 of 64 rows";
    for (const std::string& mode :
         {std::string("--info"), std::string("--info --json"), std::string("--trace"),
          "--force --render " + testing::TempDir() + "cut.wav"}) {
        ProgramResult r = runBromPlay(mode + " " + path);
        EXPECT_EQ(r.status, 0) << mode << ": " << r.err;
        EXPECT_EQ(r.err.find(note), r.err.rfind(note)) << mode << ": " << r.err;
        EXPECT_NE(r.err.find(note), std::string::npos) << mode << ": " << r.err;
    }
    // Its instruments are gone: the render is silent, and says so.
    ProgramResult r = runBromPlay("--force --render " + testing::TempDir() + "cut.wav " + path);
    EXPECT_NE(r.err.find(path + ": the render is silent from start to end"), std::string::npos)
        << r.err;
    r = runBromPlay("--info --json " + path);
    EXPECT_NE(
        r.out.find("\"repairs\": [\"pattern 0 cut short: 13 of 64 rows\", \"pattern 1 absent: "
                   "the file ends\", \"instrument 1 absent: the file ends\"],\n  "
                   "\"repair_count\": 3,"),
        std::string::npos)
        << r.out;
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
    EXPECT_NE(info.out.find("bits  8\n"), std::string::npos);  // ProTracker's samples are 8-bit

    ProgramResult trace = runBromPlay("--trace " + path + " --ticks 1");
    EXPECT_EQ(trace.status, 0) << trace.err;
    // Channel 1 (right) has its note: volume 64, panning 255.
    EXPECT_NE(trace.out.find("0\t0\t0\t0\t1\t49\t1\t1712\t0\t64\t0\t255\t"), std::string::npos)
        << trace.out;

    std::string wav = testing::TempDir() + "mod.wav";
    ProgramResult render = runBromPlay("--force --render " + wav + " " + path);
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
    std::vector<uint8_t> cutInsideHeader(module.begin(), module.begin() + 200);
    std::vector<uint8_t> notXm = {'M', 'T', 'h', 'd', 0, 0, 0, 6};
    const std::string files[] = {
        testing::TempDir() + "does-not-exist.xm",
        writeTempFile("not.xm", notXm),
        writeTempFile("cut.xm", cutInsideHeader),
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
    for (const char* args : {"",
                             "--info",
                             "--bogus x.xm",
                             "--trace x.xm --ticks abc",
                             "--render out.wav x.xm --seconds",
                             "--rate 7999 x.xm",
                             "--mute 0 x.xm",
                             "--solo 3-1 x.xm",
                             "--seek 1:60 x.xm",
                             "--start 1:x x.xm",
                             "--gain 25 x.xm",
                             "--stereo 201 x.xm",
                             "--repeat -2 x.xm",
                             "--jobs 0 x.xm",
                             "--threads 17 x.xm",
                             "--render - a.xm b.xm",
                             "--info --render out x.xm",
                             "--start 1 --seek 2 x.xm",
                             "--render out.wav --repeat -1 x.xm",
                             "--render both.wav a.xm b.xm",
                             "--render wavs x.xm"}) {
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
    // Every key the player takes, spelled as the player's documents spell them.
    for (const char* key :
         {"\n  space ", "\n  left, right ", "\n  up, down ", "\n  + - ", "\n  1-9, 0 ", "\n  ! ",
          "\n  l ", "\n  n, p ", "\n  h, ? ", "\n  q, Esc "})
        EXPECT_NE(help.out.find(key), std::string::npos) << key;
    EXPECT_EQ(help.err, "");
    ProgramResult version = runBromPlay("--version");
    EXPECT_EQ(version.status, 0);
    EXPECT_EQ(version.out, "brom-play 1.0.0\n");
}
