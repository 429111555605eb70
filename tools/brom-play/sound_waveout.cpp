// The player's sound on Windows: the system's wave output (the back end audio/device_waveout)
// plays a short buffer in a loop, and a thread of ours keeps the stretch just ahead of the play
// position filled from the player every few milliseconds. What is ahead (AHEAD_MS) is how late
// a key is heard. A pause stops the filling: what is ahead plays out, then silence.
#include <windows.h>
#include <mmsystem.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "audio/device_waveout.h"
#include "tools/brom-play/sound.h"

namespace {

constexpr int32_t LOOP_MS = 500;
constexpr int32_t AHEAD_MS = 60;
constexpr int POLL_MS = 5;

const OutputDevice* const device = &waveOutOutputDevice;
SoundFill fillFrames = nullptr;
void* fillUser = nullptr;

std::vector<int16_t> loop;  // the buffer the device plays round and round
int64_t loopFrames = 0;
int64_t aheadFrames = 0;
int64_t written = 0;  // frames filled since the start
uint64_t bytesPlayed = 0;  // the device's count, which wraps at 2^32, unwrapped
uint32_t lastPosition = 0;

std::mutex fillLock;
std::thread pump;
std::atomic<bool> stopping{false};
std::atomic<bool> paused{true};

// Fills from what was last filled (or what plays now, if it fell behind) to AHEAD_MS ahead.
void fillAhead() {
    const uint32_t position = device->position();
    bytesPlayed += static_cast<uint32_t>(position - lastPosition);
    lastPosition = position;
    const int64_t playing = static_cast<int64_t>(bytesPlayed / 4);
    if (written < playing) written = playing;
    while (written < playing + aheadFrames) {
        const int64_t at = written % loopFrames;
        int64_t count = playing + aheadFrames - written;
        if (count > loopFrames - at) count = loopFrames - at;
        int16_t* to = loop.data() + 2 * at;
        if (paused.load()) {
            memset(to, 0, static_cast<size_t>(count) * 4);
        } else {
            std::lock_guard<std::mutex> hold(fillLock);
            fillFrames(fillUser, to, static_cast<int>(count));
        }
        written += count;
    }
}

void pumpLoop() {
    while (!stopping.load()) {
        fillAhead();
        std::this_thread::sleep_for(std::chrono::milliseconds(POLL_MS));
    }
}

}  // namespace

bool soundOpen(int32_t rate, SoundFill fill, void* user) {
    fillFrames = fill;
    fillUser = user;
    if (!device->open(rate)) return false;
    loopFrames = int64_t{rate} * LOOP_MS / 1000;
    aheadFrames = int64_t{rate} * AHEAD_MS / 1000;
    loop.assign(static_cast<size_t>(2 * loopFrames), 0);
    written = 0;
    bytesPlayed = 0;
    lastPosition = device->position();
    device->prepare(loop.data(), static_cast<uint32_t>(loopFrames * 4));
    device->write();
    // Sleeps of a few milliseconds need the finer system timer.
    timeBeginPeriod(1);
    stopping.store(false);
    pump = std::thread(pumpLoop);
    return true;
}

const char* soundError() { return waveOutDeviceError(); }

void soundPause(bool pause) { paused.store(pause); }
void soundLock() { fillLock.lock(); }
void soundUnlock() { fillLock.unlock(); }

void soundClose() {
    if (!pump.joinable()) return;
    stopping.store(true);
    pump.join();
    timeEndPeriod(1);
    device->reset();
    device->unprepare();
    device->close();
}
