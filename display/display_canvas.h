// The canvas display back end, for web pages (WebAssembly builds): the frame goes into the
// page's <canvas id="screen"> as ImageData, one canvas pixel per frame pixel; the page's style
// scales the canvas to its box with the aspect kept and nearest-pixel sampling (object-fit:
// contain; image-rendering: pixelated). The browser paces the frames: the host's loop runs from
// requestAnimationFrame, so flips count as waiting for the refresh.
//
//     displayUseBackend(&canvasDisplayBackend);
//     displayOpen("test", 320, 200);     // fails when the page has no such canvas
//
// Double-click on the canvas, the F key, or Module.canvasFullScreen() from the page shows it full
// screen; Escape leaves full screen, as the browser itself does, and never ends the program: a
// page has nothing to quit to. The page being hidden or shown again reaches the display's event
// rules as activation.
#pragma once

#include "display/display_backend.h"

extern const DisplayBackend canvasDisplayBackend;
