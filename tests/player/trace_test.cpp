// brom-play --trace: one header line, then one line per channel and tick, tab-separated.
#include <cstdio>
#include <string>
#include <vector>

#include "tests/player/player_fixture.h"

namespace {

std::vector<std::string> runTraceOn(const std::vector<uint8_t>& bytes, const std::string& args) {
    const std::string path = testing::TempDir() + "brom_trace_test.xm";
    FILE* file = fopen(path.c_str(), "wb");
    if (!file) return {};
    fwrite(bytes.data(), 1, bytes.size(), file);
    fclose(file);
    const std::string command = std::string(BROM_PLAY_PATH) + " --trace " + path + args;
    std::vector<std::string> lines;
    FILE* pipe = popen(command.c_str(), "r");
    if (!pipe) return lines;
    char buffer[1024];
    while (fgets(buffer, sizeof buffer, pipe)) lines.emplace_back(buffer);
    pclose(pipe);
    return lines;
}

TEST(Trace, PrintsEveryChannelAfterEveryTickUntilTheSongComesRound) {
    XmSong xm = makeXmSong(2, 0);
    xm.patterns.push_back(makePattern(4, 2));
    xm.orders = {0};
    xm.speed = 2;
    xm.instruments.push_back(makeInstrument(loopedSample()));
    cellAt(xm.patterns[0], 2, 0, 0) = {C4, 1, 0, 0, 0};
    const std::vector<uint8_t> bytes = writeXm(xm);

    const std::vector<std::string> lines = runTraceOn(bytes, "");
    ASSERT_EQ(lines.size(), 1u + 4 * 2 * 2);  // 4 rows of 2 ticks, 2 channels
    EXPECT_EQ(lines[0],
              "tickIndex\torder\trow\ttick\tchannel\tnote\tinstrument\tperiod\tperiodDelta\tvolume"
              "\tvolumeDelta\tpanning\tvolumeEnvelope\tpanningEnvelope\tfadeoutVolume\tkeyOff\t"
              "voice\tfrequency\tfinalVolume\tvolumeLeft\tvolumeRight\tspeed\tbpm\tsamplesPerTick"
              "\tglobalVolume\n");
    EXPECT_EQ(lines[1],
              "0\t0\t0\t0\t0\t49\t1\t4608\t0\t64\t0\t128\t64\t32\t65536\t0\t0\t8363\t127\t63\t63\t2"
              "\t125\t882\t64\n");
    EXPECT_EQ(lines[16].substr(0, 10), "7\t0\t3\t1\t1\t");

    EXPECT_EQ(runTraceOn(bytes, " --ticks 3").size(), 1u + 3 * 2);
}

}  // namespace
