// The Web Audio output device (WebAssembly builds): plays the looping buffer through the page's
// AudioContext, at the scheduler's rate (the browser resamples to the speakers if it must).
//
//     setOutputDevice(&webAudioOutputDevice);
//     if (!audioOpen(44100)) ... webAudioDeviceError() ...;
//     playSongWithoutThread(song);          // a page has no mixing thread (mix_thread_web.cpp)
//
// The context starts suspended, as browsers want it until the user has clicked or pressed a key
// on the page: the page switches the sound on and off (Module.webAudio.play() and pause()).
// Where the page is served securely (https, or localhost) an AudioWorklet plays a copy of the
// looping buffer on the audio thread and reports the frames it has played; elsewhere a
// ScriptProcessor reads the buffer on the page's thread. Either way, each time the audio side has
// moved on, the device polls: by default the default engine's scheduler (mixFinishedBlocks),
// which re-mixes the blocks just played, the same poll the mixing thread makes natively; the
// device then hands the new blocks on. Module.webAudioPath = "script" before open forces the
// ScriptProcessor; the page also reads Module.webAudio.state() and path(), and can capture the
// next frames played with Module.webAudio.capture(frames) (see device_webaudio.js).
#pragma once

#include "audio/output_device.h"

extern const OutputDevice webAudioOutputDevice;

// Why the last open failed ("" when it did not).
const char* webAudioDeviceError();

// What the device calls each time the audio side has played on, instead of the default engine's
// mixFinishedBlocks: for a host that fills the looping buffer itself. The function reads the
// device's position and writes the frames played since its last call anew.
void setWebAudioPoll(void (*poll)());
