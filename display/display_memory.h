// The in-memory display back end, for tests: no window and no screen, just a back buffer in
// memory that keeps the most recent presented frames. A test configures which modes it accepts,
// the pixel format it reports and its failures, queues events, and reads what was shown.
//
//     MemoryDisplayConfig config = memoryDisplayDefaults();
//     config.acceptsDepth32 = 0;                       // runs at 24 bits per pixel then
//     memoryDisplayConfigure(config);
//     displayUseBackend(&memoryDisplayBackend);
//     displayOpen("test", 320, 200);
//     memoryDisplayPushEvent({DISPLAY_EVENT_ACTIVATE, 1});
//     displayPresent(frame);
//     memoryDisplayRecord().frames.back()              // the bytes of the shown back buffer
#pragma once

#include <cstdint>
#include <deque>
#include <vector>

#include "display/display_backend.h"

struct MemoryDisplayConfig {
    int failOpen;
    int acceptsDepth32;
    int acceptsDepth24;
    int acceptsDepth16;
    int failSurfaces;
    DisplayPixelFormat format32;  // reported when the mode was set at 32 bits per pixel
    DisplayPixelFormat format24;
    DisplayPixelFormat format16;
    int32_t pitchPadding;  // bytes after each row's pixels
    int failLock;
    int flipWaits;  // what flipWaitsForRefresh answers
    int32_t refreshRate;
    int32_t keepFrames;  // how many of the latest shown frames are kept
};

struct MemoryDisplayRecord {
    int open;  // 1 between a successful open and close
    int surfaces;  // 1 while the back buffer exists
    uint32_t modeBits;  // bits per pixel of the mode set, 0 when none is set
    std::vector<uint32_t> modesTried;  // every setMode request, in order
    int screenSaverEnabled;  // starts at 1
    int32_t width;
    int32_t height;
    int32_t pitch;
    uint32_t flipCount;
    uint32_t restoreCount;
    std::deque<std::vector<uint8_t>> frames;  // each: height x pitch bytes, oldest first
};

extern const DisplayBackend memoryDisplayBackend;

// Accepts every depth and reports 0x00RRGGBB at 32, B-G-R bytes at 24 and 5-6-5 at 16 bits;
// flips count as waiting for the refresh and the refresh is so fast that nothing sleeps in tests.
MemoryDisplayConfig memoryDisplayDefaults();
// Sets the configuration and clears the record and the event queue.
void memoryDisplayConfigure(const MemoryDisplayConfig& config);
void memoryDisplayPushEvent(const DisplayEvent& event);
const MemoryDisplayRecord& memoryDisplayRecord();
