// brom-play --trace: one header line, then one line per channel and tick, tab-separated.
#include "tests/player/player_fixture.h"
#include "tests/support/run_program.h"

namespace {

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        lines.push_back(text.substr(start, end - start));
    }
    return lines;
}

TEST(Trace, PrintsEveryChannelAfterEveryTickUntilTheSongComesRound) {
    XmSong xm = makeXmSong(2, 0);
    xm.patterns.push_back(makePattern(4, 2));
    xm.orders = {0};
    xm.speed = 2;
    xm.instruments.push_back(makeInstrument(loopedSample()));
    cellAt(xm.patterns[0], 2, 0, 0) = {C4, 1, 0, 0, 0};
    const std::string path = writeTempFile("trace.xm", writeXm(xm));

    ProgramResult result = runBromPlay("--trace " + path);
    EXPECT_EQ(result.status, 0);
    EXPECT_EQ(result.err, "");
    const std::vector<std::string> lines = linesOf(result.out);
    ASSERT_EQ(lines.size(), 1u + 4 * 2 * 2);  // 4 rows of 2 ticks, 2 channels
    EXPECT_EQ(lines[0],
              "tickIndex\torder\trow\ttick\tchannel\tnote\tinstrument\tperiod\tperiodDelta\tvolume"
              "\tvolumeDelta\tpanning\tvolumeEnvelope\tpanningEnvelope\tfadeoutVolume\tkeyOff\t"
              "voice\tfrequency\tfinalVolume\tvolumeLeft\tvolumeRight\tspeed\tbpm\tsamplesPerTick"
              "\tglobalVolume");
    EXPECT_EQ(lines[1],
              "0\t0\t0\t0\t0\t49\t1\t4608\t0\t64\t0\t128\t64\t32\t65536\t0\t0\t8363\t127\t63\t63\t2"
              "\t125\t882\t64");
    EXPECT_EQ(lines[16].substr(0, 10), "7\t0\t3\t1\t1\t");

    EXPECT_EQ(linesOf(runBromPlay("--trace " + path + " --ticks 3").out).size(), 1u + 3 * 2);

    // Brom's own profile, named or not, leaves the trace as it is; another is named first.
    EXPECT_EQ(runBromPlay("--trace " + path + " --profile default").out, result.out);
    const std::vector<std::string> ft2 =
        linesOf(runBromPlay("--trace " + path + " --profile ft2").out);
    ASSERT_EQ(ft2.size(), lines.size() + 1);
    EXPECT_EQ(ft2[0].substr(0, 23), "profile\tft2\tbehaviours\t");
    EXPECT_EQ(ft2[1], lines[0]);
}

TEST(Trace, AFileThatDoesNotLoadGetsOneLineAndStatusOne) {
    const std::string path = writeTempFile("not-a-module.xm", {'n', 'o', 'p', 'e'});
    ProgramResult result = runBromPlay("--trace " + path);
    EXPECT_EQ(result.status, 1);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(linesOf(result.err).size(), 1u);
}

}  // namespace
