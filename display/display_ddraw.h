// The DirectDraw display back end, for Windows: the first DirectDraw interface, loaded at run
// time from "ddraw.dll", in exclusive full-screen mode with a page-flipping primary surface. The
// window ("test" is both its class name and its title) is a borderless popup that the exclusive
// mode spreads over the whole screen, shown and given the keyboard once that mode holds; the
// mouse pointer is hidden over it.
//
//     displayUseBackend(&ddrawDisplayBackend);
//     displayOpen("test", 320, 200);
//
// The window procedure hands activation, key and close messages to the display's event rules.
// Messages that arrive while no dispatch is running (the activation that the exclusive mode
// brings, for one) wait for the next dispatchEvents.
#pragma once

#include "display/display_backend.h"

extern const DisplayBackend ddrawDisplayBackend;
