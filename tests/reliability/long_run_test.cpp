// Hours of playback, simulated rather than waited for: the scheduler driven by the manual-clock
// device past the point where the device's 32-bit byte count wraps (about 6.8 hours at 44100), and
// a looping song played for hours of song time.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <vector>

#include "audio/device_manual.h"
#include "audio/scheduler.h"
#include "module/file_access.h"
#include "player/sequencer.h"
#include "tests/reliability/build_kind.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"

namespace {

constexpr int RATE = 44100;
constexpr uint32_t BLOCK_BYTES = 884 * 4;
constexpr uint32_t BUFFER_BYTES = 100 * BLOCK_BYTES;

void openManualDevice() {
    useMemoryFiles();
    setOutputDevice(&manualOutputDevice);
    resetManualDevice();
    ASSERT_EQ(audioOpen(RATE), 1);
}

// A tick handler that makes every tick exactly one block long, so that each block begins with a
// tick, and numbers the blocks as they are mixed: block n (from 1) leaves n in the song's order
// (low byte) and row (next byte), where its sync record keeps them. It also notes which buffer
// block mixBlock was filling, to see that blocks are mixed in buffer order.
struct BlockLog {
    uint32_t mixed = 0;
    uint32_t outOfOrder = 0;
};
BlockLog blockLog;

// Watches every tick (one per block) and numbers the block through the position it shows.
void numberBlock(AudioEngine* engine) {
    PlayState* state = engine->state;
    uint32_t n = ++blockLog.mixed;
    if (fillingBlockIndex() != static_cast<int32_t>((n - 1) % 100)) ++blockLog.outOfOrder;
    state->orderPosition = static_cast<int32_t>(n & 0xFF);
    state->row = static_cast<int32_t>((n >> 8) & 0xFF);
    state->startedRow = state->row;
    state->samplesPerTick = engine->settings.blockFrames;
}

}  // namespace

// The device plays block after block for more than 2^32 bytes. After every poll the scheduler has
// mixed each block the device has finished exactly once since the block's last play, in order,
// and the records of the block now playing describe the block mixed one buffer cycle earlier.
TEST(LongRun, SchedulerMixesEveryBlockOncePerCyclePastTheDeviceWrap) {
    SKIP_UNDER_THREAD_SANITIZER();
    openManualDevice();
    SongPtr song = loadOwnedSong(writeXm(makeXmSong(1, 1)));
    ASSERT_TRUE(song);
    defaultAudioEngine()->tickObserver = numberBlock;
    blockLog = {};
    ASSERT_EQ(playSongWithoutThread(song.get()), 1);
    ASSERT_EQ(blockLog.mixed, 100u);  // the primed buffer

    // Polls come at uneven times: anything from no movement to 99 blocks (a whole buffer would be
    // an underrun, which no scheduler can tell from standing still). Some polls land just before,
    // on and just after the wrap.
    std::mt19937 random(20261207);
    std::uniform_int_distribution<uint32_t> step(0, 99 * BLOCK_BYTES);
    const uint64_t wrap = uint64_t{1} << 32;
    const uint64_t end = wrap + 5 * uint64_t{BUFFER_BYTES};
    const uint64_t landmarks[] = {wrap - BLOCK_BYTES, wrap - 4, wrap, wrap + 4, wrap + BLOCK_BYTES};
    size_t nextLandmark = 0;
    uint64_t played = 0;  // bytes, as a device without wrap would count them
    uint64_t polls = 0;
    while (played < end) {
        uint64_t next = played + step(random);
        if (nextLandmark < std::size(landmarks) && next >= landmarks[nextLandmark]) {
            next = landmarks[nextLandmark++];
        }
        played = next;
        setManualDevicePosition(static_cast<uint32_t>(played));
        mixFinishedBlocks();
        ++polls;

        uint64_t playing = played / BLOCK_BYTES;  // blocks the device has finished
        ASSERT_EQ(blockLog.mixed, 100 + playing) << "at byte " << played;
        ASSERT_EQ(blockLog.outOfOrder, 0u) << "at byte " << played;
        ASSERT_EQ(playingBlockIndex(), static_cast<int32_t>(playing % 100));
        ASSERT_EQ(fillingBlockIndex(), static_cast<int32_t>(playing % 100));
        // The block now playing was mixed as block number playing + 1: 884 frames, 20 ms each.
        uint64_t n = playing + 1;
        ASSERT_EQ(playingOrder(song.get()), static_cast<int>(n & 0xFF));
        ASSERT_EQ(playingRow(song.get()), static_cast<int>((n >> 8) & 0xFF));
        ASSERT_EQ(playingTimeMs(song.get()), static_cast<int64_t>(20 * n));
    }
    EXPECT_EQ(nextLandmark, std::size(landmarks));
    EXPECT_GT(blockLog.mixed, 1214654u);  // 2^32 bytes of blocks
    printf("%llu polls, %u blocks mixed, %.2f hours of audio\n",
           static_cast<unsigned long long>(polls), blockLog.mixed,
           static_cast<double>(played) / 4 / RATE / 3600);
    stopSong(song.get());
    defaultAudioEngine()->tickObserver = nullptr;
    audioClose();
}

namespace {

// A song that plays order 0 once and then loops orders 1 and 2 for ever (restart position 1), with
// notes on two channels, a speed and tempo change inside the loop and a pattern break out of order
// 1, so that a pass of the loop is not a whole number of blocks.
XmSong loopingSong() {
    XmSong xm = makeXmSong(2, 0);
    xm.patterns = {makePattern(4, 2), makePattern(16, 2), makePattern(7, 2)};
    xm.orders = {0, 1, 2};
    xm.restartPosition = 1;
    XmSample s = makeSample(sineFrames(64, 32, 80), false);
    s.loopType = 1;
    s.loopLength = 64;
    xm.instruments.push_back(makeInstrument(s));
    cellAt(xm.patterns[0], 2, 0, 0) = {49, 1, 0, 0, 0};
    cellAt(xm.patterns[1], 2, 0, 0) = {49, 1, 0, 0x0F, 5};
    cellAt(xm.patterns[1], 2, 0, 1) = {56, 1, 0, 0x0F, 125};
    cellAt(xm.patterns[1], 2, 4, 1) = {61, 1, 0, 0x04, 0x44};
    cellAt(xm.patterns[2], 2, 0, 0) = {44, 1, 0, 0x0F, 3};
    cellAt(xm.patterns[2], 2, 0, 1) = {0, 0, 0, 0x0F, 139};
    cellAt(xm.patterns[1], 2, 7, 1) = {0, 0, 0, 0x0D, 0};  // break after row 7 of 16
    cellAt(xm.patterns[2], 2, 5, 0) = {97, 0, 0, 0, 0};
    return xm;
}

// Row starts as the player reaches them, with the output frame at which each begins.
struct RowStart {
    int32_t order, row;
    uint64_t frame;
};
std::vector<RowStart> rowStarts;
uint64_t tickFrame = 0;  // first frame of the tick now running
int32_t lastTickFrames = 0;
uint64_t ticksRun = 0;

int32_t tickBefore = 0;  // the tick the next playerTick runs

void recordRowStarts(AudioEngine* engine) {
    const PlayState* state = engine->state;
    tickFrame += static_cast<uint64_t>(lastTickFrames);
    ++ticksRun;
    if (tickBefore == 0) rowStarts.push_back({state->orderPosition, state->row, tickFrame});
    tickBefore = state->tick;
    lastTickFrames = state->samplesPerTick;
}

}  // namespace

// Three hours of a looping song: the rows follow each other as the song says, every pass of the
// loop lasts exactly as many frames as the first, and the song time runs behind the audio by no
// more than the truncation of each mixed piece, never ahead and never backwards.
TEST(LongRun, LoopingSongKeepsItsTimeAndPositionsForHours) {
    SKIP_UNDER_THREAD_SANITIZER();
    openManualDevice();
    SongPtr song = loadOwnedSong(writeXm(loopingSong()));
    ASSERT_TRUE(song);
    defaultAudioEngine()->tickObserver = recordRowStarts;
    tickBefore = 0;
    rowStarts.clear();
    tickFrame = 0;
    lastTickFrames = 0;
    ticksRun = 0;
    ASSERT_EQ(startSongOffline(song.get()), 1);

    const uint64_t blocks = uint64_t{3} * 3600 * RATE / 884;
    int32_t lastTime = 0;
    for (uint64_t b = 1; b <= blocks; ++b) {
        ASSERT_NE(renderNextBlock(), nullptr);
        uint64_t frames = b * 884;
        int64_t exactMs = static_cast<int64_t>(frames * 1000 / RATE);
        const PlayState* state = defaultAudioEngine()->state;
        int32_t time = state->songTimeMs;
        ASSERT_GE(time, lastTime);
        ASSERT_LE(time, exactMs);
        // Each piece loses less than 1 ms, and a block has at most one piece more than the ticks
        // that begin in it.
        ASSERT_GE(time + static_cast<int64_t>(b + ticksRun), exactMs);
        ASSERT_EQ(playingTimeMs(song.get()), time);
        ASSERT_EQ(playingOrder(song.get()), state->orderPosition & 0xFF);
        ASSERT_EQ(playingRow(song.get()), currentRow(state) & 0xFF);
        lastTime = time;
    }
    stopSong(song.get());
    defaultAudioEngine()->tickObserver = nullptr;
    audioClose();

    // Order 0: rows 0..3 once; then order 1 rows 0..7 and order 2 rows 0..6, for ever.
    std::vector<std::pair<int32_t, int32_t>> loop;
    for (int r = 0; r < 8; ++r) loop.push_back({1, r});
    for (int r = 0; r < 7; ++r) loop.push_back({2, r});
    ASSERT_GT(rowStarts.size(), 4 + 2 * loop.size());
    for (size_t k = 0; k < 4; ++k) {
        EXPECT_EQ(rowStarts[k].order, 0);
        EXPECT_EQ(rowStarts[k].row, static_cast<int32_t>(k));
    }
    // Order 0 at speed 6 and 125 bpm (882 frames a tick); a pass of the loop is 8 rows at speed 5
    // and 125 bpm, then 7 rows at speed 3 and 139 bpm (793 frames a tick).
    EXPECT_EQ(rowStarts[4].frame, 4u * 6 * 882);
    const uint64_t loopFrames = rowStarts[4 + loop.size()].frame - rowStarts[4].frame;
    EXPECT_EQ(loopFrames, 8u * 5 * 882 + 7 * 3 * 793);
    for (size_t k = 4; k < rowStarts.size(); ++k) {
        size_t inLoop = (k - 4) % loop.size();
        uint64_t pass = (k - 4) / loop.size();
        ASSERT_EQ(rowStarts[k].order, loop[inLoop].first) << "row start " << k;
        ASSERT_EQ(rowStarts[k].row, loop[inLoop].second) << "row start " << k;
        ASSERT_EQ(rowStarts[k].frame, rowStarts[4 + inLoop].frame + pass * loopFrames)
            << "row start " << k;
    }
    printf("%zu row starts, %llu passes of the loop in %.1f hours\n", rowStarts.size(),
           static_cast<unsigned long long>((rowStarts.size() - 4) / loop.size()),
           static_cast<double>(blocks) * 884 / RATE / 3600);
}
