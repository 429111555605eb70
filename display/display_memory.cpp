#include "display/display_memory.h"

#include <cstddef>

namespace {

// The fill of a new back buffer, so that a test sees which bytes were never written.
constexpr uint8_t UNWRITTEN = 0xA5;

MemoryDisplayRecord freshRecord() {
    MemoryDisplayRecord r = {};
    r.screenSaverEnabled = 1;
    return r;
}

MemoryDisplayConfig config = memoryDisplayDefaults();
MemoryDisplayRecord record = freshRecord();
std::deque<DisplayEvent> events;
std::vector<uint8_t> backBuffer;

int open(const char*, int32_t width, int32_t height) {
    if (config.failOpen) return 0;
    record.open = 1;
    record.width = width;
    record.height = height;
    return 1;
}

int setMode(int32_t, int32_t, uint32_t bits) {
    record.modesTried.push_back(bits);
    int accepted = (bits == 32 && config.acceptsDepth32) || (bits == 24 && config.acceptsDepth24) ||
                   (bits == 16 && config.acceptsDepth16);
    if (accepted) record.modeBits = bits;
    return accepted;
}

int createSurfaces() {
    if (config.failSurfaces || record.modeBits == 0) return 0;
    record.pitch = record.width * static_cast<int32_t>(record.modeBits / 8) + config.pitchPadding;
    backBuffer.assign(static_cast<size_t>(record.pitch) * record.height, UNWRITTEN);
    record.surfaces = 1;
    return 1;
}

int pixelFormat(DisplayPixelFormat* format) {
    if (!record.surfaces) return 0;
    if (record.modeBits == 32) *format = config.format32;
    if (record.modeBits == 24) *format = config.format24;
    if (record.modeBits == 16) *format = config.format16;
    return 1;
}

void setScreenSaver(int enabled) { record.screenSaverEnabled = enabled; }

void dispatchEvents(DisplayEventHandler handler) {
    while (!events.empty()) {
        DisplayEvent event = events.front();
        events.pop_front();
        handler(event);
    }
}

void restore() { record.restoreCount++; }

int lock(uint8_t** rowZero, int32_t* pitch) {
    if (config.failLock || !record.surfaces) return 0;
    *rowZero = backBuffer.data();
    *pitch = record.pitch;
    return 1;
}

void unlock(uint8_t*) {}

void flip() {
    record.flipCount++;
    record.frames.push_back(backBuffer);
    while (static_cast<int32_t>(record.frames.size()) > config.keepFrames)
        record.frames.pop_front();
}

int flipWaitsForRefresh() { return config.flipWaits; }
int32_t refreshRate() { return config.refreshRate; }

void close() {
    record.open = 0;
    record.surfaces = 0;
    record.modeBits = 0;
    backBuffer.clear();
}

const char* lastError() { return "in-memory display refused"; }

}  // namespace

const DisplayBackend memoryDisplayBackend = {
    .name = "memory",
    .open = open,
    .setMode = setMode,
    .createSurfaces = createSurfaces,
    .pixelFormat = pixelFormat,
    .setScreenSaver = setScreenSaver,
    .dispatchEvents = dispatchEvents,
    .restore = restore,
    .lock = lock,
    .unlock = unlock,
    .flip = flip,
    .flipWaitsForRefresh = flipWaitsForRefresh,
    .refreshRate = refreshRate,
    .close = close,
    .lastError = lastError,
};

MemoryDisplayConfig memoryDisplayDefaults() {
    MemoryDisplayConfig c = {};
    c.acceptsDepth32 = c.acceptsDepth24 = c.acceptsDepth16 = 1;
    c.format32 = {1, 32, 0xFF0000, 0xFF00, 0xFF};
    c.format24 = {1, 24, 0xFF0000, 0xFF00, 0xFF};
    c.format16 = {1, 16, 0xF800, 0x7E0, 0x1F};
    c.flipWaits = 1;
    c.refreshRate = 1000000;  // should the pacer take over, it holds a test up by 1 us a frame
    c.keepFrames = 8;
    return c;
}

void memoryDisplayConfigure(const MemoryDisplayConfig& newConfig) {
    config = newConfig;
    record = freshRecord();
    events.clear();
    backBuffer.clear();
}

void memoryDisplayPushEvent(const DisplayEvent& event) { events.push_back(event); }

const MemoryDisplayRecord& memoryDisplayRecord() { return record; }
