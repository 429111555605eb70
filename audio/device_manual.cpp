#include "audio/device_manual.h"

#include <atomic>

namespace {

ManualDeviceStatus status = {};
bool refusesOpen = false;
// The mixing thread reads the position while the test thread moves it.
std::atomic<uint32_t> bytePosition{0};

int manualOpen(int32_t rate) {
    if (refusesOpen) return 0;
    status.rate = rate;
    status.open = true;
    status.playing = false;
    ++status.openCount;
    bytePosition.store(0);
    return 1;
}

void manualPrepare(const int16_t* frames, uint32_t byteCount) {
    status.buffer = frames;
    status.bufferBytes = byteCount;
}

void manualWrite() { status.playing = true; }

uint32_t manualPosition() { return bytePosition.load(std::memory_order_acquire); }

void manualUnprepare() {
    status.buffer = nullptr;
    status.bufferBytes = 0;
}

void manualReset() {
    status.playing = false;
    ++status.resetCount;
    bytePosition.store(0);
}

void manualClose() {
    status.open = false;
    status.playing = false;
    ++status.closeCount;
}

}  // namespace

const OutputDevice manualOutputDevice = {manualOpen,     manualPrepare,   manualWrite,
                                         manualPosition, manualUnprepare, manualReset,
                                         manualClose};

void setManualDevicePosition(uint32_t bytes) {
    bytePosition.store(bytes, std::memory_order_release);
}

ManualDeviceStatus manualDeviceStatus() { return status; }

void setManualDeviceRefusesOpen(bool refuse) { refusesOpen = refuse; }

void resetManualDevice() {
    status = {};
    refusesOpen = false;
    bytePosition.store(0);
}
