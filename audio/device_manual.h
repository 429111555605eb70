// The manual-clock output device: nothing plays, and the byte position moves only when the host
// sets it. Tests drive the scheduler with it block by block; it is also the device of choice
// wherever no sound card should be touched.
//
//     setOutputDevice(&manualOutputDevice);
//     audioOpen(44100);
//     playSong(song);                           // primes the buffer; the device "starts" at 0
//     setManualDevicePosition(7 * 884 * 4);     // the device has played blocks 0 to 6
#pragma once

#include <cstdint>

#include "audio/output_device.h"

extern const OutputDevice manualOutputDevice;

// Moves the play position (bytes since open or reset, as the device would count them).
void setManualDevicePosition(uint32_t bytes);

// What the scheduler has done to the device so far.
struct ManualDeviceStatus {
    int32_t rate;  // as passed to the last open
    bool open;
    bool playing;  // written and not reset since
    const int16_t* buffer;  // the prepared buffer, null when none
    uint32_t bufferBytes;
    int openCount;
    int resetCount;
    int closeCount;
};
ManualDeviceStatus manualDeviceStatus();

// Makes the next opens fail (as a missing sound card would) until cleared again.
void setManualDeviceRefusesOpen(bool refuse);
// Forgets everything: closed, no buffer, position 0, counters 0, opens allowed.
void resetManualDevice();
