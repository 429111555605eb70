#include "audio/device_waveout.h"

// windows.h first: mmsystem.h builds on its types.
#include <windows.h>
#include <mmsystem.h>

#include <cstdio>

namespace {

HWAVEOUT waveDevice = nullptr;
int32_t rate = 0;  // frames per second of the open device
WAVEHDR outputHeader;  // the one header, describing the whole looping buffer
char openError[MAXERRORLENGTH + 32] = "";

void noteOpenError(MMRESULT result) {
    char text[MAXERRORLENGTH] = "";
    if (waveOutGetErrorTextA(result, text, sizeof text) != MMSYSERR_NOERROR) text[0] = '\0';
    snprintf(openError, sizeof openError, "waveOutOpen failed (%u)%s%s",
             static_cast<unsigned>(result), text[0] ? ": " : "", text);
}

int waveOpen(int32_t frameRate) {
    openError[0] = '\0';
    rate = frameRate;
    WAVEFORMATEX format = {};
    format.wFormatTag = WAVE_FORMAT_PCM;
    format.nChannels = 2;
    format.nSamplesPerSec = static_cast<DWORD>(rate);
    format.nAvgBytesPerSec = static_cast<DWORD>(rate) * 4;
    format.nBlockAlign = 4;
    format.wBitsPerSample = 16;
    format.cbSize = 0;
    MMRESULT result = waveOutOpen(&waveDevice, WAVE_MAPPER, &format, 0, 0, CALLBACK_NULL);
    if (result != MMSYSERR_NOERROR) {
        waveDevice = nullptr;
        noteOpenError(result);
        return 0;
    }
    return 1;
}

void wavePrepare(const int16_t* frames, uint32_t byteCount) {
    outputHeader = {};
    // The device only reads the buffer; the header's field is not const.
    outputHeader.lpData = reinterpret_cast<LPSTR>(const_cast<int16_t*>(frames));
    outputHeader.dwBufferLength = byteCount;
    // One header that is both the start and the end of a loop played 0xFFFFFFFF times: the
    // buffer repeats for longer than anyone listens.
    outputHeader.dwFlags = WHDR_BEGINLOOP | WHDR_ENDLOOP;
    outputHeader.dwLoops = 0xFFFFFFFF;
    waveOutPrepareHeader(waveDevice, &outputHeader, sizeof outputHeader);
}

void waveWrite() { waveOutWrite(waveDevice, &outputHeader, sizeof outputHeader); }

uint32_t wavePosition() {
    MMTIME time = {};
    time.wType = TIME_BYTES;
    waveOutGetPosition(waveDevice, &time, sizeof time);
    // A driver that cannot count bytes answers in a unit of its own choice.
    switch (time.wType) {
        case TIME_SAMPLES: return time.u.sample * 4;
        case TIME_MS:
            return static_cast<uint32_t>(uint64_t{time.u.ms} * static_cast<uint32_t>(rate) / 1000 *
                                         4);
        default: return time.u.cb;
    }
}

void waveUnprepare() {
    if (!outputHeader.lpData) return;
    waveOutUnprepareHeader(waveDevice, &outputHeader, sizeof outputHeader);
    outputHeader.dwFlags &= ~static_cast<DWORD>(WHDR_PREPARED);
    outputHeader.lpData = nullptr;
}

void waveReset() {
    if (waveDevice) waveOutReset(waveDevice);
}

void waveClose() {
    if (!waveDevice) return;
    waveOutClose(waveDevice);
    waveDevice = nullptr;
}

}  // namespace

const OutputDevice waveOutOutputDevice = {waveOpen,      wavePrepare, waveWrite, wavePosition,
                                          waveUnprepare, waveReset,   waveClose};

const char* waveOutDeviceError() { return openError; }
