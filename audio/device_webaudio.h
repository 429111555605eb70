// The Web Audio output device (WebAssembly builds): plays the looping buffer through the page's
// AudioContext, at the scheduler's rate (the browser resamples to the speakers if it must).
//
//     setOutputDevice(&webAudioOutputDevice);
//     if (!audioOpen(44100)) ... webAudioDeviceError() ...;
//     playSongWithoutThread(song);          // a page has no mixing thread (mix_thread_web.cpp)
//
// Browsers start sound only after the user has done something: the context is made suspended and
// resumes on the page's first click or key. Where the page is served securely (https, or
// localhost) an AudioWorklet plays a copy of the looping buffer on the audio thread and reports
// the frames it has played; elsewhere a ScriptProcessor reads the buffer on the page's thread.
// Either way, each time the audio side has moved on, the device polls the default engine's
// scheduler (mixFinishedBlocks), which re-mixes the blocks just played, and hands them on: the
// same poll the mixing thread makes natively. A page has one such device, for the default engine.
// Module.webAudioPath = "script" before open forces the ScriptProcessor; the page reads
// Module.webAudio.state() and can capture the next frames played with
// Module.webAudio.capture(frames) (the device_webaudio.js side).
#pragma once

#include "audio/output_device.h"

extern const OutputDevice webAudioOutputDevice;

// Why the last open failed ("" when it did not).
const char* webAudioDeviceError();
