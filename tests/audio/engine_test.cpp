// Engines are independent: two songs rendered at the same time on two threads, each on an engine
// of its own, give exactly what each gives rendered alone. Runs under the thread sanitizer in CI.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "audio/playback_snapshot.h"
#include "audio/scheduler.h"
#include "module/file_access.h"
#include "module/xm_writer.h"
#include "player/sequencer.h"

namespace {

std::vector<uint8_t> songFileBytes() {
    std::ifstream in(std::string(BROM_SOURCE_DIR) + "/assets/brom-boogie.xm", std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Eight channels of arpeggios, slides and vibrato over a ping-pong sample: busy in other ways
// than the song.
std::vector<uint8_t> busyModule() {
    XmSong xm = makeXmSong(8, 2);
    xm.orders = {0, 1, 0};
    for (int p = 0; p < 2; ++p) {
        for (int row = 0; row < 64; row += 4) {
            for (int c = 0; c < 8; ++c) {
                const uint8_t effects[] = {0x00, 0x01, 0x02, 0x04, 0x0A, 0x07, 0x08, 0x0E};
                cellAt(xm.patterns[p], 8, row, c) = {static_cast<uint8_t>(37 + (row + c * 5) % 40),
                                                     1, 0, effects[c], 0x37};
            }
        }
    }
    XmSample sample = makeSample(sineFrames(3000, 37, 12000), true);
    sample.loopType = 2;
    sample.loopStart = 500;
    sample.loopLength = 2000;
    xm.instruments.push_back(makeInstrument(sample));
    return writeXm(xm);
}

// Loads the module from memory on a fresh engine and renders `blocks` blocks of it.
std::vector<int16_t> renderAlone(const std::vector<uint8_t>& bytes, int blocks) {
    std::vector<int16_t> pcm;
    char path[64];
    memoryModulePath(path, sizeof path, bytes.data(), bytes.size());
    Song* song = readSong(path, nullptr, nullptr);
    AudioEngine* engine = createAudioEngine();
    if (!song || !engine) return pcm;
    prepareMixSettings(engine, 44100);
    if (startSongOffline(engine, song)) {
        for (int b = 0; b < blocks; ++b) {
            const int16_t* block = renderNextBlock(engine);
            pcm.insert(pcm.end(), block, block + 2 * engine->settings.blockFrames);
        }
    }
    freeSong(engine, song);
    destroyAudioEngine(engine);
    return pcm;
}

// Renders `blocks` blocks of an already loaded song on a fresh engine of its own.
std::vector<int16_t> renderOnNewEngine(Song* song, int blocks) {
    std::vector<int16_t> pcm;
    AudioEngine* engine = createAudioEngine();
    if (!engine) return pcm;
    prepareMixSettings(engine, 44100);
    if (startSongOffline(engine, song)) {
        for (int b = 0; b < blocks; ++b) {
            const int16_t* block = renderNextBlock(engine);
            pcm.insert(pcm.end(), block, block + 2 * engine->settings.blockFrames);
        }
        stopSong(engine, song);
    }
    destroyAudioEngine(engine);
    return pcm;
}

TEST(Engines, TwoSongsOnTwoThreadsEachSoundAsAlone) {
    useMemoryFiles();
    const std::vector<uint8_t> first = songFileBytes();
    const std::vector<uint8_t> second = busyModule();
    ASSERT_GT(first.size(), 1000u);
    constexpr int BLOCKS = 250;  // five seconds
    const std::vector<int16_t> firstAlone = renderAlone(first, BLOCKS);
    const std::vector<int16_t> secondAlone = renderAlone(second, BLOCKS);
    ASSERT_EQ(firstAlone.size(), size_t{2 * 884 * BLOCKS});
    ASSERT_EQ(secondAlone.size(), firstAlone.size());
    ASSERT_NE(firstAlone, secondAlone);

    std::vector<int16_t> firstTogether;
    std::vector<int16_t> secondTogether;
    std::thread other([&] { secondTogether = renderAlone(second, BLOCKS); });
    firstTogether = renderAlone(first, BLOCKS);
    other.join();
    EXPECT_EQ(firstTogether, firstAlone);
    EXPECT_EQ(secondTogether, secondAlone);
}

// The song is read-only while it plays: two engines play one loaded song at once, each as if
// alone, even where the song retunes its sample (the set-finetune command) as it goes.
TEST(Engines, TwoEnginesPlayOneLoadedSongOnTwoThreads) {
    useMemoryFiles();
    std::vector<uint8_t> bytes = busyModule();
    char path[64];
    memoryModulePath(path, sizeof path, bytes.data(), bytes.size());
    Song* song = readSong(path, nullptr, nullptr);
    ASSERT_NE(song, nullptr);
    song->patterns[0].cells[0].effect = {CMD_SET_FINETUNE, 0x9};
    constexpr int BLOCKS = 150;
    const std::vector<int16_t> alone = renderOnNewEngine(song, BLOCKS);
    ASSERT_EQ(alone.size(), size_t{2 * 884 * BLOCKS});
    std::vector<int16_t> other;
    std::thread thread([&] { other = renderOnNewEngine(song, BLOCKS); });
    const std::vector<int16_t> mine = renderOnNewEngine(song, BLOCKS);
    thread.join();
    EXPECT_EQ(mine, alone);
    EXPECT_EQ(other, alone);
    releaseSong(song);
}

// A snapshot is the whole of a playback: put back, the song plays on exactly as it did.
TEST(Engines, ASnapshotPutBackPlaysOnAsBefore) {
    useMemoryFiles();
    std::vector<uint8_t> bytes = busyModule();
    char path[64];
    memoryModulePath(path, sizeof path, bytes.data(), bytes.size());
    Song* song = readSong(path, nullptr, nullptr);
    AudioEngine* engine = createAudioEngine();
    PlaybackSnapshot* snapshot = createPlaybackSnapshot();
    ASSERT_TRUE(song && engine && snapshot);
    prepareMixSettings(engine, 44100);
    ASSERT_TRUE(startSongOffline(engine, song));
    for (int b = 0; b < 60; ++b) renderNextBlock(engine);
    savePlayback(snapshot, engine);
    auto playOn = [engine] {
        std::vector<int16_t> pcm;
        for (int b = 0; b < 90; ++b) {
            const int16_t* block = renderNextBlock(engine);
            pcm.insert(pcm.end(), block, block + 2 * engine->settings.blockFrames);
        }
        return pcm;
    };
    const std::vector<int16_t> first = playOn();
    restorePlayback(snapshot, engine);
    EXPECT_EQ(playOn(), first);
    destroyPlaybackSnapshot(snapshot);
    freeSong(engine, song);
    destroyAudioEngine(engine);
}

}  // namespace
