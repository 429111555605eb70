// The display back-end interface: what the display layer (display.h) needs from a platform to put
// frames on the screen. A back end is one record of function pointers; the host picks one with
// displayUseBackend before displayOpen. Back ends: SDL2 (display_sdl.h), in memory for tests
// (display_memory.h), and room for a DirectDraw one, whose steps these mirror one to one.
//
// The display layer drives a back end in this order:
//
//     open(name, w, h)          the device and the window ("test" is both class name and title)
//     setMode(w, h, 32|24|16)   a full-screen mode; tried at 32, then 24, then 16 bits per pixel
//     createSurfaces()          a writable back buffer that a page flip shows
//     pixelFormat(&format)      the back buffer's bit count and channel masks
//     setScreenSaver(0)
//     ... per frame: dispatchEvents(handler), restore(), lock(&row0, &pitch), unlock(row0), flip()
//     setScreenSaver(1), close()
//
// close releases whatever open, setMode and createSurfaces acquired, at any point of the
// sequence, and leaves the back end ready to be opened again.
#pragma once

#include <cstdint>

struct DisplayPixelFormat {
    uint32_t isRgb;  // 0 for formats that are not plain red, green and blue channels
    uint32_t bitCount;
    uint32_t redMask;
    uint32_t greenMask;
    uint32_t blueMask;
};

enum DisplayEventKind : uint32_t {
    DISPLAY_EVENT_ACTIVATE = 1,  // value: 1 when the application becomes active, 0 when not
    DISPLAY_EVENT_KEY_DOWN = 2,  // value: the key; VK_ESCAPE (0x1B) in its low byte is Escape
    DISPLAY_EVENT_CLOSE = 3,  // the user asks the window to close
};

constexpr uint32_t VK_ESCAPE = 0x1B;

struct DisplayEvent {
    DisplayEventKind kind;
    uint32_t value;
};

// Receives each event from inside dispatchEvents, on the thread that presents.
using DisplayEventHandler = void (*)(const DisplayEvent& event);

struct DisplayBackend {
    const char* name;
    int (*open)(const char* name, int32_t width, int32_t height);  // 1 on success
    int (*setMode)(int32_t width, int32_t height, uint32_t bitsPerPixel);  // 1 on success
    int (*createSurfaces)();  // 1 on success
    int (*pixelFormat)(DisplayPixelFormat* format);  // 1 on success
    void (*setScreenSaver)(int enabled);
    // Hands every pending event to `handler`.
    void (*dispatchEvents)(DisplayEventHandler handler);
    // Brings back surfaces that were lost while the application was in the background.
    void (*restore)();
    // Row 0 of the back buffer and the bytes from one row to the next; 1 on success.
    int (*lock)(uint8_t** rowZero, int32_t* pitch);
    void (*unlock)(uint8_t* rowZero);
    void (*flip)();
    // 1 when flip waits for the display's refresh, so the frame loop is paced by it.
    int (*flipWaitsForRefresh)();
    // The display's refresh rate in Hz, 0 when unknown.
    int32_t (*refreshRate)();
    void (*close)();
    // What went wrong in the last failing call, for the user ("" when nothing is known).
    const char* (*lastError)();
};
