// The SDL2 output device: plays the looping buffer through the system's sound output.
//
//     setOutputDevice(&sdlOutputDevice);
//     if (!audioOpen(44100)) fprintf(stderr, "%s\n", sdlOutputDeviceError());
//
// SDL asks for audio from its own thread; the callback copies from the looping buffer at the play
// cursor and counts the bytes it has handed over, which is the position the scheduler sees.
#pragma once

#include "audio/output_device.h"

extern const OutputDevice sdlOutputDevice;

// Why the last open failed, as SDL put it ("" when it did not fail).
const char* sdlOutputDeviceError();
