// brom-play --render finds where the song first repeats while it renders when it can write the
// header again at the end (a file), and by running the player through the song first when it
// cannot (a pipe). Both must write the same bytes.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>

#include "module/xm_writer.h"
#include "tests/support/run_program.h"

namespace {

// Tempo and speed change on the way, and a jump back to the first order (not to the first row
// of the song's end) makes the repeat: the ticks have many lengths, and the repeat falls inside a
// block.
std::vector<uint8_t> changingModule() {
    XmSong xm = makeXmSong(3, 2);
    cellAt(xm.patterns[0], 3, 0, 0) = {49, 1, 0, 0, 0};
    cellAt(xm.patterns[0], 3, 5, 1) = {61, 1, 0x30, 0xF, 0x05};  // speed 5
    cellAt(xm.patterns[0], 3, 20, 2) = {37, 1, 0, 0xF, 0x97};  // 151 bpm
    cellAt(xm.patterns[1], 3, 3, 0) = {52, 1, 0, 0xF, 0x47};  // 71 bpm
    cellAt(xm.patterns[1], 3, 17, 1) = {0, 0, 0, 0xB, 0x00};  // back to order 0
    XmSample s = makeSample(sineFrames(100, 25, 3000), true);
    s.loopType = 2;
    s.loopLength = 100;
    xm.instruments.push_back(makeInstrument(s));
    xm.orders = {0, 1};
    return writeXm(xm);
}

std::vector<uint8_t> readBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

TEST(BromPlayRenderLength, AFileAndAPipeGetTheSameBytes) {
    std::string module = writeTempFile("changing.xm", changingModule());
    std::string toFile = testing::TempDir() + "changing-file.wav";
    for (std::string length : {"", " --seconds 2.7", " --seconds 600"}) {
        ProgramResult r = runBromPlay("--force --render " + toFile + " " + module + length);
        ASSERT_EQ(r.status, 0) << r.err;
        // The program's output, captured, comes through the pipe.
        r = runProgram(std::string(BROM_PLAY_PATH) + " --render /dev/stdout " + module + length +
                       " | cat");
        ASSERT_EQ(r.status, 0) << r.err;
        std::vector<uint8_t> a = readBytes(toFile), b(r.out.begin(), r.out.end());
        ASSERT_GT(a.size(), 44u + 44100 * 4);
        EXPECT_TRUE(a == b) << "length" << length << ": " << a.size() << " and " << b.size()
                            << " bytes";
    }
}

}  // namespace
