// Starting, stopping, restarting and freeing songs while the mixing thread runs, many times over,
// with a clock thread moving the manual-clock device and a listener thread asking what is playing.
// Meant for the thread sanitizer build (-DBROM_SANITIZE=thread), which reports any data race; in
// the other builds it checks that nothing hangs, crashes or leaks.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "audio/device_manual.h"
#include "audio/scheduler.h"
#include "module/file_access.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"

namespace {

constexpr int RATE = 44100;
constexpr int ROUNDS = 100;

std::vector<uint8_t> busySong() {
    XmSong xm = makeXmSong(4, 2);
    xm.orders = {0, 1};
    xm.speed = 2;
    XmSample s = makeSample(sineFrames(200, 50, 9000), true);
    s.loopType = 2;
    s.loopStart = 20;
    s.loopLength = 150;
    XmInstrument ins = makeInstrument(s);
    ins.volumeEnvelope = {{0, 64}, {10, 20}, {20, 50}};
    ins.volumeFlags = 1 | 4;
    ins.volumeLoopEnd = 2;
    xm.instruments.push_back(ins);
    for (int p = 0; p < 2; ++p) {
        for (int r = 0; r < 64; r += 2) {
            cellAt(xm.patterns[p], 4, r, r % 4) = {uint8_t(30 + r % 40), 1, 0, 0x04, 0x38};
        }
    }
    return writeXm(xm);
}

// Moves the device on by about 2 ms of audio every millisecond, so the mixing thread always finds
// finished blocks; the scheduler copes with the count returning to 0 at each reset.
void runClock(const std::atomic<bool>& running) {
    while (running.load()) {
        setManualDevicePosition(manualOutputDevice.position() + 4 * 88);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
}

// Asks what is playing, as a host following the music would, from a thread of its own.
void runListener(const std::atomic<bool>& running, const Song* anySong,
                 std::atomic<long>& answers) {
    while (running.load()) {
        int order = playingOrder(anySong);
        int row = playingRow(anySong);
        int time = playingTimeMs(anySong);
        if (order >= 0 && order <= 255 && row >= 0 && row <= 255 && time >= 0) answers.fetch_add(1);
        std::this_thread::yield();
    }
}

// Waits until the mixing thread has mixed at least one block after priming.
bool waitForMixing() {
    int32_t start = playingBlockIndex();
    for (int k = 0; k < 2000; ++k) {
        if (playingBlockIndex() != start) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

}  // namespace

TEST(PlaybackThreads, StartStopRestartAndFreeWhileTheMixingThreadRuns) {
    useMemoryFiles();
    setOutputDevice(&manualOutputDevice);
    resetManualDevice();
    ASSERT_EQ(audioOpen(RATE), 1);
    const std::vector<uint8_t> bytes = busySong();
    SongPtr keeper = loadOwnedSong(bytes);  // never played; the listener's query handle
    ASSERT_TRUE(keeper);

    std::atomic<bool> running{true};
    std::atomic<long> answers{0};
    std::thread clock(runClock, std::cref(running));
    std::thread listener(runListener, std::cref(running), keeper.get(), std::ref(answers));

    int mixedRounds = 0;
    for (int round = 0; round < ROUNDS; ++round) {
        Song* song = loadSongFromBytes(bytes);
        ASSERT_NE(song, nullptr);
        ASSERT_EQ(playSong(song), 1);
        mixedRounds += waitForMixing();
        switch (round % 4) {
            case 0:  // stop, then free
                EXPECT_EQ(stopSong(song), 1);
                EXPECT_EQ(defaultAudioEngine()->mixerFinished.load(), 1);
                break;
            case 1:  // restart while playing, then free while playing
                EXPECT_EQ(playSong(song), 1);
                mixedRounds += waitForMixing();
                break;
            case 2:  // stop, start again, then free while playing
                EXPECT_EQ(stopSong(song), 1);
                EXPECT_EQ(playSong(song), 1);
                break;
            default:  // free at once while playing
                break;
        }
        EXPECT_EQ(freeSong(song), 1);
        EXPECT_EQ(defaultAudioEngine()->mixerBusy.load(), 0);
        EXPECT_EQ(defaultAudioEngine()->mixerFinished.load(), 1);
        // Nothing plays now: the queries say 0.
        EXPECT_EQ(playingTimeMs(keeper.get()), 0);
    }

    running.store(false);
    clock.join();
    listener.join();
    audioClose();
    // The clock kept the device moving, so the mixing thread mixed in every round.
    EXPECT_EQ(mixedRounds, ROUNDS + ROUNDS / 4);
    EXPECT_GT(answers.load(), 0);
}
