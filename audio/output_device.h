// The output device: where the mixed PCM goes. The scheduler hands the device one buffer of
// signed 16-bit little-endian stereo frames, which the device then plays endlessly, and asks it
// how many bytes it has played; from that count it knows which part of the buffer is free to be
// mixed again. A back end is a record of functions; the host picks one before audioOpen.
//
//     setOutputDevice(&sdlOutputDevice);     // or &manualOutputDevice for tests and rendering
//     audioOpen(44100);                      // fails when no device is set or it cannot open
//
// Calls come from one thread at a time, except `position`, which the mixing thread calls while
// the host may call the others only around it (playSong and stopSong bracket the thread).
#pragma once

#include <cstdint>

struct OutputDevice {
    // Opens the device for signed 16-bit stereo at `rate` frames per second. 1 when open.
    int (*open)(int32_t rate);
    // Names the buffer that `write` is to loop: `byteCount` bytes of interleaved frames. The
    // buffer stays the caller's and must live until `unprepare`.
    void (*prepare)(const int16_t* frames, uint32_t byteCount);
    // Starts playing the prepared buffer at its first byte and repeats it without end.
    void (*write)();
    // Bytes played since the device was opened or last reset. Keeps counting across repetitions
    // of the buffer and wraps at 2^32.
    uint32_t (*position)();
    // Forgets the prepared buffer; called only while nothing plays.
    void (*unprepare)();
    // Stops playing at once; the position returns to 0.
    void (*reset)();
    // Releases the device.
    void (*close)();
};
