// The display: a full-screen 320 x 200 (or any size) surface that shows 32-bit 0x00RRGGBB frames.
// It opens a mode of the requested size at 32, 24 or 16 bits per pixel, whichever the back end
// accepts first, converts each presented frame row by row into the back buffer's pixel format and
// flips it. Escape or a close request is the user asking to quit: the display reports it and
// shows no more frames, and the program ends as it sees fit.
//
//     displayUseBackend(&sdlDisplayBackend);
//     if (!displayOpen("test", 320, 200)) return 1;     // nothing is left acquired on failure
//     while (!displayQuitRequested()) displayPresent(frame);
//     displayClose();
#pragma once

#include <cstdint>

#include "display/display_backend.h"
#include "display/frame_pacer.h"
#include "display/pixel_formats.h"

struct DisplayState {
    const DisplayBackend* backend;
    int32_t width;
    int32_t height;
    PixelConverter converter;
    uint32_t appActive;  // set by activation events; 0 until the first one arrives
    uint8_t backendOpen;  // 1 from a successful backend open until close
    uint8_t screenSaverOff;  // 1 while this display keeps the screen saver off
    uint8_t quitRequested;  // 1 from an Escape or a close request until the next open
    FramePacer pacer;
};

extern DisplayState displayState;

// Chooses the back end that displayOpen uses. Null leaves none, and displayOpen fails.
void displayUseBackend(const DisplayBackend* backend);

// 1 when the display is ready; 0 on any failure, with everything acquired on the way released.
int displayOpen(const char* name, int32_t width, int32_t height);
// Handles pending events, then shows `frame` (width x height pixels). Returns 1 when the frame was
// shown or the application is inactive (nothing is shown then); 0 when the back buffer cannot be
// written this time, and from the user's request to quit on (nothing is shown any more).
int displayPresent(const uint32_t* frame);
// 1 once the user has asked to quit (Escape or a close request) since the display opened.
int displayQuitRequested();
// Releases everything displayOpen acquired and switches the screen saver back on.
void displayClose();
// The event rules: activation sets appActive; Escape and close set quitRequested; every other key
// is swallowed.
void displayWindowProc(const DisplayEvent& event);
// Why the last displayOpen failed, as one short line of text ("" after a success).
const char* displayOpenError();
