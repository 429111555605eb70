// The SDL2 output device: plays the looping buffer through the system's sound output.
//
//     setOutputDevice(&sdlOutputDevice);
//     if (!audioOpen(44100)) fprintf(stderr, "%s\n", sdlOutputDeviceError());
//
// SDL2 is loaded at the first open (sdl/sdl_library.h); when it cannot be, the open fails and
// sdlOutputDeviceError says why. SDL asks for audio from its own thread; the callback copies from
// the looping buffer at the play cursor and counts the bytes it has handed over, which is the
// position the scheduler sees.
#pragma once

#include "audio/output_device.h"

extern const OutputDevice sdlOutputDevice;

// Why the last open failed, as SDL (or loading it) put it ("" when it did not fail).
const char* sdlOutputDeviceError();
