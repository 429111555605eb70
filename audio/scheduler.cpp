#include "audio/scheduler.h"

#include <cstring>

int32_t sampleRate = 0;
int32_t blockFrames = 0;
int32_t bufferFrames = 0;
int32_t blockCount = 0;
float inverseRate = 0.0f;
int32_t rampFrames = 0;
float inverseRampFrames = 0.0f;

Voice voiceTable[VOICE_COUNT];

std::atomic<uint8_t> stopRequested{0};
std::atomic<uint8_t> mixerBusy{0};
std::atomic<uint8_t> mixerFinished{1};

void prepareMixSettings(int32_t rate) {
    sampleRate = rate;
    blockFrames = (rate / 50 + 3) & ~3;
    bufferFrames = blockFrames * (BUFFER_MILLISECONDS / 20) * 2;
    blockCount = blockFrames ? bufferFrames / blockFrames : 0;
    rampFrames = rate * 128 / 44100;
    inverseRate = rate ? 1.0f / static_cast<float>(rate) : 0.0f;
    inverseRampFrames = rampFrames ? 1.0f / static_cast<float>(rampFrames) : 0.0f;
    memset(voiceTable, 0, sizeof voiceTable);
    for (int j = 0; j < VOICE_COUNT; ++j) {
        voiceTable[j].index = j;
        voiceTable[j].step = 1;
    }
}

// Playback itself arrives with the device back ends; until then nothing ever plays.
int audioOpen(int32_t) { return 0; }
void audioClose() {}
int playSong(Song* song) { return song ? 0 : 0; }
int stopSong(Song* song) { return song ? 1 : 0; }
int playingOrder(const Song*) { return 0; }
int playingRow(const Song*) { return 0; }
int playingTimeMs(const Song*) { return 0; }
