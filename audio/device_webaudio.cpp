#include "audio/device_webaudio.h"

#include <emscripten.h>

#include "audio/scheduler.h"

// The browser side, in device_webaudio.js.
extern "C" {
// 1 when open, else one of the failures below.
int bromWebAudioOpen(int32_t rate);
void bromWebAudioStart(const int16_t* frames, uint32_t byteCount);
uint32_t bromWebAudioPosition();
void bromWebAudioStop();
void bromWebAudioClose();
}

namespace {

constexpr int NO_WEB_AUDIO = 0;
constexpr int CONTEXT_REFUSED = 2;

const int16_t* loopBuffer = nullptr;
uint32_t loopBytes = 0;
const char* openError = "";
void (*poll)() = [] { mixFinishedBlocks(); };

int webOpen(int32_t rate) {
    int result = bromWebAudioOpen(rate);
    openError = result == NO_WEB_AUDIO      ? "this browser has no Web Audio"
                : result == CONTEXT_REFUSED ? "the browser refused an audio context at this rate"
                                            : "";
    return result == 1;
}

void webPrepare(const int16_t* frames, uint32_t byteCount) {
    loopBuffer = frames;
    loopBytes = byteCount & ~3u;
}

void webWrite() { bromWebAudioStart(loopBuffer, loopBytes); }

uint32_t webPosition() { return bromWebAudioPosition(); }

void webUnprepare() {
    loopBuffer = nullptr;
    loopBytes = 0;
}

void webReset() { bromWebAudioStop(); }

void webClose() { bromWebAudioClose(); }

}  // namespace

const OutputDevice webAudioOutputDevice = {webOpen,      webPrepare, webWrite, webPosition,
                                           webUnprepare, webReset,   webClose};

const char* webAudioDeviceError() { return openError; }

void setWebAudioPoll(void (*newPoll)()) { poll = newPoll; }

// Called by the browser side whenever the audio side has played on.
extern "C" EMSCRIPTEN_KEEPALIVE void bromWebAudioPoll() { poll(); }
