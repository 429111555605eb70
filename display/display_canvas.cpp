#include "display/display_canvas.h"

#include <cstddef>
#include <vector>

// The browser side, in display_canvas.js.
extern "C" {
int bromCanvasOpen(int32_t width, int32_t height);  // 1 when the page has the canvas
uint32_t bromCanvasNextEvent();  // the kind in the top byte, the value below; 0 when none
void bromCanvasShow(const uint8_t* pixels);  // width x height RGBA pixels
void bromCanvasClose();
}

namespace {

std::vector<uint8_t> backBuffer;  // RGBA bytes, as ImageData holds them
int32_t frameWidth = 0;
int32_t frameHeight = 0;
const char* error = "";

int open(const char*, int32_t width, int32_t height) {
    frameWidth = width;
    frameHeight = height;
    error = bromCanvasOpen(width, height) ? "" : "the page has no <canvas id=\"screen\">";
    return error[0] == '\0';
}

// A canvas takes one format, so one depth: 32 bits.
int setMode(int32_t, int32_t, uint32_t bits) { return bits == 32; }

int createSurfaces() {
    backBuffer.assign(static_cast<size_t>(frameWidth) * frameHeight * 4, 0);
    return 1;
}

// Bytes R, G, B and a fourth that the converter leaves 0 and flip makes opaque.
int pixelFormat(DisplayPixelFormat* format) {
    *format = {1, 32, 0xFF, 0xFF00, 0xFF0000};
    return 1;
}

void setScreenSaver(int) {}

void dispatchEvents(DisplayEventHandler handler) {
    while (uint32_t packed = bromCanvasNextEvent())
        handler({static_cast<DisplayEventKind>(packed >> 24), packed & 0xFFFFFF});
}

void restore() {}

int lock(uint8_t** rowZero, int32_t* pitch) {
    if (backBuffer.empty()) return 0;
    *rowZero = backBuffer.data();
    *pitch = frameWidth * 4;
    return 1;
}

void unlock(uint8_t*) {}

void flip() {
    for (size_t alpha = 3; alpha < backBuffer.size(); alpha += 4) backBuffer[alpha] = 0xFF;
    bromCanvasShow(backBuffer.data());
}

int flipWaitsForRefresh() { return 1; }
int32_t refreshRate() { return 0; }

void close() {
    bromCanvasClose();
    backBuffer.clear();
}

const char* lastError() { return error; }

}  // namespace

const DisplayBackend canvasDisplayBackend = {
    .name = "canvas",
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
