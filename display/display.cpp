#include "display/display.h"

#include <chrono>
#include <cstdio>
#include <thread>

DisplayState displayState;

namespace {

const char* openError = "";

void sleepNanoseconds(int64_t ns) {
    if (ns > 0)
        std::this_thread::sleep_for(std::chrono::nanoseconds(ns));
    else
        std::this_thread::yield();
}

int64_t nowNanoseconds() {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// Records why opening failed, releases what was acquired so far and reports the failure.
int failOpen(const char* what) {
    static char message[256];
    const char* detail = displayState.backend ? displayState.backend->lastError() : "";
    if (detail && detail[0])
        snprintf(message, sizeof message, "%s: %s", what, detail);
    else
        snprintf(message, sizeof message, "%s", what);
    openError = message;
    displayClose();
    return 0;
}

}  // namespace

void displayUseBackend(const DisplayBackend* backend) { displayState.backend = backend; }

int displayQuitRequested() { return displayState.quitRequested; }

const char* displayOpenError() { return openError; }

int displayOpen(const char* name, int32_t width, int32_t height) {
    const DisplayBackend* backend = displayState.backend;
    openError = "";
    displayState.width = width;
    displayState.height = height;
    displayState.converter = nullptr;
    displayState.appActive = 0;
    displayState.quitRequested = 0;
    if (!backend) return failOpen("no display back end");
    if (!name || width <= 0 || height <= 0) return failOpen("bad display size");

    // From here on a failure closes the back end, which releases whatever it got so far.
    displayState.backendOpen = 1;
    if (!backend->open(name, width, height)) return failOpen("cannot open the display");

    const uint32_t depths[] = {32, 24, 16};
    bool modeSet = false;
    for (uint32_t bits : depths) {
        if (backend->setMode(width, height, bits)) {
            modeSet = true;
            break;
        }
    }
    if (!modeSet) return failOpen("no display mode at 32, 24 or 16 bits per pixel");
    if (!backend->createSurfaces()) return failOpen("cannot create the display surfaces");

    DisplayPixelFormat format = {};
    if (!backend->pixelFormat(&format) || !format.isRgb)
        return failOpen("the display's pixel format is not RGB");
    displayState.converter =
        selectConverter(format.bitCount, format.redMask, format.greenMask, format.blueMask);
    if (!displayState.converter) return failOpen("the display's pixel format is not supported");

    backend->setScreenSaver(0);
    displayState.screenSaverOff = 1;
    pacerStart(&displayState.pacer, backend->refreshRate(), backend->flipWaitsForRefresh());
    return 1;
}

int displayPresent(const uint32_t* frame) {
    const DisplayBackend* backend = displayState.backend;
    if (!backend || !displayState.backendOpen) return 0;
    backend->dispatchEvents(displayWindowProc);
    if (displayState.quitRequested) return 0;
    if (!displayState.appActive) {
        sleepNanoseconds(1000000);
        return 1;
    }
    backend->restore();
    uint8_t* rowZero = nullptr;
    int32_t pitch = 0;
    if (!backend->lock(&rowZero, &pitch)) return 0;
    for (int32_t r = 0; r < displayState.height; ++r)
        displayState.converter(frame + static_cast<int64_t>(r) * displayState.width,
                               rowZero + static_cast<int64_t>(r) * pitch, displayState.width);
    backend->unlock(rowZero);
    backend->flip();
    sleepNanoseconds(pacerAfterFlip(&displayState.pacer, nowNanoseconds()));
    return 1;
}

void displayClose() {
    const DisplayBackend* backend = displayState.backend;
    if (!backend) return;
    // The screen saver goes back on first: some back ends can only switch it while their
    // connection to the display is still open.
    if (displayState.screenSaverOff) backend->setScreenSaver(1);
    displayState.screenSaverOff = 0;
    if (displayState.backendOpen) backend->close();
    displayState.backendOpen = 0;
    displayState.appActive = 0;
}

void displayWindowProc(const DisplayEvent& event) {
    switch (event.kind) {
        case DISPLAY_EVENT_ACTIVATE: displayState.appActive = event.value; break;
        case DISPLAY_EVENT_KEY_DOWN:
            if ((event.value & 0xFF) == VK_ESCAPE) displayState.quitRequested = 1;
            break;
        case DISPLAY_EVENT_CLOSE: displayState.quitRequested = 1; break;
    }
}
