// The Windows output device: the system's waveform audio output, playing the scheduler's buffer
// as one endlessly looping wave header. The device's own byte position is the position the
// scheduler sees.
//
//     setOutputDevice(&waveOutOutputDevice);
//     if (!audioOpen(44100)) fprintf(stderr, "%s\n", waveOutDeviceError());
#pragma once

#include "audio/output_device.h"

extern const OutputDevice waveOutOutputDevice;

// Why the last open failed, as the system put it ("" when it did not fail).
const char* waveOutDeviceError();
