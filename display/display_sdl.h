// The SDL2 display back end: a borderless full-screen window ("test") that shows the frame
// scaled to the screen with its aspect kept (black bars fill the rest), through a streaming
// texture that plays the back buffer. The texture's format follows the depth fallback: XRGB8888
// at 32 bits, RGB24 at 24, RGB565 at 16. The mouse pointer is hidden over the window.
//
//     displayUseBackend(&sdlDisplayBackend);
//     displayOpen("test", 320, 200);
//
// The window counts as active while it is shown and not minimised. Escape and a close request
// reach the display's event rules from dispatchEvents. SDL2 is loaded when the display first opens
// (sdl/sdl_library.h), and its X11 driver is asked for unless SDL_VIDEODRIVER names another: no
// silent fall-back to a driver that shows nothing.
#pragma once

#include "display/display_backend.h"

extern const DisplayBackend sdlDisplayBackend;
