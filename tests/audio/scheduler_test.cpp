#include "audio/scheduler.h"

#include <gtest/gtest.h>

#include <atomic>
#include <bit>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "audio/device_manual.h"
#include "module/file_access.h"
#include "tests/support/load_bytes.h"
#include "module/xm_writer.h"

// The scheduler driven through the manual-clock device, with a tick handler of the test's own in
// place of the player: it counts ticks and leaves a trace of them in the song's position fields.
// The expected figures were worked out by hand from the block (884 frames) and tick (882 frames
// at 125 bpm) lengths.

namespace {

constexpr uint32_t BLOCK_BYTES = 884 * 4;

std::atomic<int> ticks{0};
std::atomic<int> tickLength{0};  // when set, every tick sets samplesPerTick to it
void (*onFirstTick)(PlayState*) = nullptr;

// Watches every tick and then sets the position the sync records show.
void countTicks(AudioEngine* engine) {
    PlayState* state = engine->state;
    int n = ++ticks;
    state->row = n + 250;  // only the low byte reaches the sync records
    state->startedRow = state->row;
    state->orderPosition = n / 7;
    if (tickLength > 0) state->samplesPerTick = tickLength;
    if (n == 1 && onFirstTick) onFirstTick(state);
}

// 64 frames of 1000, looped: a steady tone that a voice can play from the first tick on.
int16_t toneFrames[64 + 8];
Sample tone = {};

void startTone(PlayState*) {
    for (int k = 0; k < 64 + 8; ++k) toneFrames[k] = 1000;
    tone.data = toneFrames;
    tone.length = 64;
    tone.loopStart = 0;
    tone.loopLength = 64;
    tone.loopMode = LOOP_FORWARD;
    tone.bits = 16;
    Voice& v = defaultAudioEngine()->voices[0];
    v.sample = &tone;
    v.position = 0;
    v.positionFraction = 0;
    v.step = 1;
    v.stepFraction = 0x2345678;
    v.direction = DIRECTION_FORWARD;
    v.volumeLeft = v.rampTargetLeft = 255;
    v.volumeRight = v.rampTargetRight = 255;
    v.levelLeft = v.levelRight = 255 * 256;
}

// Like startTone, but the note fades in from silence and sits left of centre.
void startNote(PlayState* state) {
    startTone(state);
    Voice& v = defaultAudioEngine()->voices[0];
    v.levelLeft = v.levelRight = 0;
    v.volumeLeft = 200;
    v.volumeRight = 55;
}

bool waitUntil(const std::function<bool()>& done) {
    for (int i = 0; i < 4000; ++i) {  // 20 s at most: only a broken scheduler waits that long
        if (done()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return done();
}

// Moves the device to `bytes` and waits until the mixing thread has caught up with `block`.
bool playTo(uint32_t bytes, int32_t block) {
    setManualDevicePosition(bytes);
    return waitUntil([block] { return playingBlockIndex() == block; });
}

std::vector<int16_t> deviceBuffer() {
    ManualDeviceStatus status = manualDeviceStatus();
    return std::vector<int16_t>(status.buffer, status.buffer + status.bufferBytes / 2);
}

class SchedulerTest : public ::testing::Test {
  protected:
    void SetUp() override {
        resetManualDevice();
        setOutputDevice(&manualOutputDevice);
        song = loadOwnedSong(writeXm(makeXmSong(2, 1)));  // 125 bpm
        ASSERT_NE(song, nullptr);
        ASSERT_EQ(audioOpen(44100), 1);
        defaultAudioEngine()->tickObserver = countTicks;
        ticks = 0;
        tickLength = 0;
        onFirstTick = nullptr;
    }
    void TearDown() override {
        if (song) stopSong(song.get());
        defaultAudioEngine()->tickObserver = nullptr;
        audioClose();
        setOutputDevice(nullptr);
    }
    SongPtr song;
};

TEST(MixSettings, BlockAndRampSizesFollowTheRate) {
    struct Case {
        int32_t rate, block, buffer, ramp;
    };
    for (Case c : {Case{44100, 884, 88400, 128}, Case{48000, 960, 96000, 139},
                   Case{22050, 444, 44400, 64}, Case{11025, 220, 22000, 32}}) {
        prepareMixSettings(c.rate);
        EXPECT_EQ(defaultAudioEngine()->settings.blockFrames, c.block) << c.rate;
        EXPECT_EQ(defaultAudioEngine()->settings.bufferFrames, c.buffer) << c.rate;
        EXPECT_EQ(defaultAudioEngine()->settings.blockCount, 100) << c.rate;
        EXPECT_EQ(defaultAudioEngine()->settings.rampFrames, c.ramp) << c.rate;
        EXPECT_EQ(defaultAudioEngine()->settings.inverseRampFrames,
                  1.0f / static_cast<float>(c.ramp));
    }
    prepareMixSettings(44100);
    EXPECT_EQ(std::bit_cast<uint32_t>(defaultAudioEngine()->settings.inverseRate), 0x37BE37C6u);
    EXPECT_EQ(defaultAudioEngine()->settings.inverseRampFrames, 0.0078125f);
    EXPECT_EQ(defaultAudioEngine()->voices[200].index, 200);
    EXPECT_EQ(defaultAudioEngine()->voices[200].step, 1);
    EXPECT_EQ(defaultAudioEngine()->voices[200].sample, nullptr);
}

TEST(AudioOpen, FailsWithoutCompleteFileCallbacksAndLeavesTheDeviceAlone) {
    resetManualDevice();
    setOutputDevice(&manualOutputDevice);
    setFileCallbacks(nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_EQ(audioOpen(44100), 0);
    ManualDeviceStatus status = manualDeviceStatus();
    EXPECT_EQ(status.openCount + status.resetCount + status.closeCount, 0);
    useMemoryFiles();
    setOutputDevice(nullptr);
}

TEST(AudioOpen, FailsWithoutADeviceOrWhenItDoesNotOpen) {
    useMemoryFiles();
    resetManualDevice();
    setOutputDevice(nullptr);
    EXPECT_EQ(audioOpen(44100), 0);
    setOutputDevice(&manualOutputDevice);
    setManualDeviceRefusesOpen(true);
    EXPECT_EQ(audioOpen(44100), 0);
    setManualDeviceRefusesOpen(false);
    for (int32_t rate : {0, -44100, 999, 400000}) EXPECT_EQ(audioOpen(rate), 0) << rate;
    EXPECT_EQ(manualDeviceStatus().openCount, 0);

    EXPECT_EQ(audioOpen(48000), 1);
    EXPECT_TRUE(manualDeviceStatus().open);
    EXPECT_EQ(manualDeviceStatus().rate, 48000);
    EXPECT_EQ(defaultAudioEngine()->settings.blockFrames, 960);
    audioClose();
    EXPECT_FALSE(manualDeviceStatus().open);
    EXPECT_EQ(manualDeviceStatus().closeCount, 1);
    setOutputDevice(nullptr);
}

TEST_F(SchedulerTest, PlaySongNeedsASongAndAnOpenDevice) {
    EXPECT_EQ(playSong(nullptr), 0);
    audioClose();
    EXPECT_EQ(playSong(song.get()), 0);
    EXPECT_EQ(ticks, 0);
    EXPECT_EQ(manualDeviceStatus().buffer, nullptr);
}

TEST_F(SchedulerTest, PlaySongPrimesTheWholeBufferThenStartsTheDevice) {
    ASSERT_EQ(playSong(song.get()), 1);
    ManualDeviceStatus status = manualDeviceStatus();
    EXPECT_TRUE(status.playing);
    EXPECT_EQ(status.bufferBytes, 353600u);
    EXPECT_EQ(fillingBlockIndex(), 0);
    EXPECT_EQ(playingBlockIndex(), 0);
    // 88400 frames: ticks start at frames 0, 882, ... 88200, and the last has 682 frames to go.
    EXPECT_EQ(ticks, 101);
    EXPECT_EQ(defaultAudioEngine()->state->tickSamplesLeft, 682);
    // 2004.5 ms of audio, but every piece loses its fraction of a millisecond.
    EXPECT_EQ(defaultAudioEngine()->state->songTimeMs, 1904);
    // Block 0 is playing; its record holds the state after it: two ticks, a piece of 882 frames
    // (19 ms) and one of 2 (0 ms).
    EXPECT_EQ(playingRow(song.get()), 252);
    EXPECT_EQ(playingOrder(song.get()), 0);
    EXPECT_EQ(playingTimeMs(song.get()), 19);
}

TEST_F(SchedulerTest, TheFirstTickComesBeforeTheFirstFrame) {
    onFirstTick = startTone;
    ASSERT_EQ(playSong(song.get()), 1);
    std::vector<int16_t> pcm = deviceBuffer();
    EXPECT_EQ(pcm[0], 1000);  // 1000 x 255/255, rounded
    EXPECT_EQ(pcm[1], 1000);
}

TEST_F(SchedulerTest, ABlockEndingOnATickLeavesTheNextTickForTheNextBlock) {
    tickLength = 442;
    ASSERT_EQ(playSong(song.get()), 1);
    EXPECT_EQ(ticks, 200);
    EXPECT_EQ(defaultAudioEngine()->state->tickSamplesLeft, 0);
    EXPECT_EQ(defaultAudioEngine()->state->songTimeMs,
              2000);  // 200 pieces of 442 frames, 10 ms each
    ASSERT_TRUE(playTo(BLOCK_BYTES, 1));
    EXPECT_EQ(ticks, 202);
    EXPECT_EQ(defaultAudioEngine()->state->tickSamplesLeft, 0);
}

TEST_F(SchedulerTest, ATickLongerThanABlockSpansBlocks) {
    tickLength = 2000;
    ASSERT_EQ(playSong(song.get()), 1);
    // Ticks at frames 0, 2000, ... 88000; the last has 1600 frames to go.
    EXPECT_EQ(ticks, 45);
    EXPECT_EQ(defaultAudioEngine()->state->tickSamplesLeft, 1600);
    ASSERT_TRUE(playTo(BLOCK_BYTES, 1));  // block 0 again: within that last tick
    EXPECT_EQ(ticks, 45);
    EXPECT_EQ(defaultAudioEngine()->state->tickSamplesLeft, 1600 - 884);
}

TEST_F(SchedulerTest, TheRecordOfThePlayingBlockIsTheOneMixedABufferAgo) {
    ASSERT_EQ(playSong(song.get()), 1);
    // Blocks 0 to 98 are mixed again; block 99 still holds what priming put there, the state
    // after 101 ticks.
    ASSERT_TRUE(playTo(99 * BLOCK_BYTES, 99));
    EXPECT_EQ(fillingBlockIndex(), 99);
    EXPECT_EQ(playingRow(song.get()), (101 + 250) & 255);
    EXPECT_EQ(playingOrder(song.get()), 101 / 7);
    EXPECT_EQ(playingTimeMs(song.get()), 1904);
}

TEST_F(SchedulerTest, CatchesUpWithTheDeviceInOnePoll) {
    ASSERT_EQ(playSong(song.get()), 1);
    ASSERT_TRUE(playTo(2 * BLOCK_BYTES, 2));
    // Three whole buffers, seven blocks and 4 bytes: frame 271,389, block 7. Blocks 2 to 6 are
    // mixed; 107 blocks in all, which start 108 ticks.
    ASSERT_TRUE(playTo(1085556, 7));
    EXPECT_EQ(fillingBlockIndex(), 7);
    EXPECT_EQ(ticks, 108);
    EXPECT_EQ(defaultAudioEngine()->state->songTimeMs, 2037);
    // Record 7 is still the primed one: 9 ticks, 152 ms.
    EXPECT_EQ(playingTimeMs(song.get()), 152);
    EXPECT_EQ(playingRow(song.get()), (9 + 250) & 255);
}

TEST_F(SchedulerTest, TheByteCountWrappingAtTwoToTheThirtyTwoIsNoJump) {
    ASSERT_EQ(playSong(song.get()), 1);
    // 4 bytes short of the wrap: frame 1,073,741,823, 35,423 into the buffer: block 40.
    ASSERT_TRUE(playTo(0xFFFFFFFCu, 40));
    EXPECT_EQ(ticks, 141);  // after 140 blocks
    // Three blocks' worth later the count has wrapped to 10,604. That is three blocks on (43),
    // not block 2, which the count read on its own would give.
    ASSERT_TRUE(playTo(10604, 43));
    EXPECT_EQ(ticks, 144);  // after 143 blocks
    EXPECT_EQ(defaultAudioEngine()->state->songTimeMs, 2723);
}

TEST_F(SchedulerTest, StopSongSilencesTheDeviceAndForgetsTheRecords) {
    ASSERT_EQ(playSong(song.get()), 1);
    ASSERT_TRUE(playTo(5 * BLOCK_BYTES, 5));
    EXPECT_EQ(stopSong(nullptr), 0);  // leaves playback running
    EXPECT_TRUE(manualDeviceStatus().playing);
    EXPECT_EQ(defaultAudioEngine()->mixerFinished.load(), 0);

    EXPECT_EQ(stopSong(song.get()), 1);
    ManualDeviceStatus status = manualDeviceStatus();
    EXPECT_FALSE(status.playing);
    EXPECT_EQ(status.buffer, nullptr);
    EXPECT_EQ(status.resetCount, 1);
    EXPECT_EQ(defaultAudioEngine()->mixerFinished.load(), 1);
    EXPECT_EQ(playingRow(song.get()), 0);
    EXPECT_EQ(playingTimeMs(song.get()), 0);
    int ticksAtStop = ticks;
    setManualDevicePosition(20 * BLOCK_BYTES);
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(ticks, ticksAtStop);  // nothing mixes any more
    EXPECT_EQ(stopSong(song.get()), 1);  // stopping again does no harm
}

TEST_F(SchedulerTest, PlaysAgainOnTheSameDeviceAfterAStop) {
    for (int round = 0; round < 5; ++round) {
        ticks = 0;
        ASSERT_EQ(playSong(song.get()), 1) << round;
        EXPECT_TRUE(manualDeviceStatus().playing);
        EXPECT_EQ(manualDeviceStatus().bufferBytes, 353600u);
        EXPECT_EQ(defaultAudioEngine()->state->songTimeMs, 1904);
        EXPECT_EQ(playingRow(song.get()), 252);
        ASSERT_TRUE(playTo((round + 1) * BLOCK_BYTES, round + 1));
        ASSERT_EQ(stopSong(song.get()), 1);
        EXPECT_FALSE(manualDeviceStatus().playing);
    }
}

TEST_F(SchedulerTest, PlayingAgainWithoutAStopRestartsTheSong) {
    ASSERT_EQ(playSong(song.get()), 1);
    ASSERT_TRUE(playTo(30 * BLOCK_BYTES, 30));
    ticks = 0;
    ASSERT_EQ(playSong(song.get()), 1);
    EXPECT_EQ(ticks, 101);
    EXPECT_EQ(playingBlockIndex(), 0);
    EXPECT_EQ(playingTimeMs(song.get()), 19);
}

TEST_F(SchedulerTest, FreeingAPlayingSongStopsItFirst) {
    ASSERT_EQ(playSong(song.get()), 1);
    ASSERT_TRUE(playTo(3 * BLOCK_BYTES, 3));
    song.reset();
    EXPECT_FALSE(manualDeviceStatus().playing);
    EXPECT_EQ(defaultAudioEngine()->mixerFinished.load(), 1);
}

TEST_F(SchedulerTest, QueriesFromAnotherThreadWhileTheSongPlays) {
    ASSERT_EQ(playSong(song.get()), 1);
    std::atomic<bool> done{false};
    std::atomic<int> lastTime{0};
    std::thread reader([&] {
        while (!done) {
            int time = playingTimeMs(song.get());
            int row = playingRow(song.get());
            EXPECT_GE(row, 0);
            EXPECT_LE(row, 255);
            lastTime = time;
        }
    });
    int previous = 0;
    for (uint32_t block = 1; block <= 150; ++block) {
        ASSERT_TRUE(playTo(block * BLOCK_BYTES, static_cast<int32_t>(block % 100)));
        int time = playingTimeMs(song.get());
        EXPECT_GT(time, previous) << block;  // each block later is later in the song
        previous = time;
    }
    done = true;
    reader.join();
    EXPECT_GT(lastTime.load(), 0);
}

TEST_F(SchedulerTest, OfflineRenderingMakesTheSameBlocksAsTheDevicePlays) {
    onFirstTick = startNote;
    ASSERT_EQ(playSong(song.get()), 1);
    EXPECT_EQ(startSongOffline(song.get()), 0);  // not while it plays through the device
    std::vector<int16_t> played = deviceBuffer();
    ASSERT_TRUE(playTo(BLOCK_BYTES, 1));
    std::vector<int16_t> next = deviceBuffer();
    played.insert(played.end(), next.begin(), next.begin() + 884 * 2);  // block 0, mixed again
    ASSERT_EQ(stopSong(song.get()), 1);

    prepareMixSettings(44100);  // the voices as audioOpen left them
    ticks = 0;
    ASSERT_EQ(startSongOffline(song.get()), 1);
    std::vector<int16_t> rendered;
    for (int block = 0; block < 101; ++block) {
        const int16_t* pcm = renderNextBlock();
        ASSERT_NE(pcm, nullptr);
        rendered.insert(rendered.end(), pcm, pcm + 884 * 2);
        EXPECT_EQ(playingBlockIndex(), block % 100);
    }
    EXPECT_EQ(rendered, played);
    EXPECT_NE(rendered[2 * 500], 0);  // something to compare: the note sounds
    EXPECT_GT(rendered[2 * 500], rendered[2 * 500 + 1]);  // left of centre
    ASSERT_EQ(stopSong(song.get()), 1);
    EXPECT_EQ(renderNextBlock(), nullptr);
}

}  // namespace
