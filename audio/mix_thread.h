// The platform side of the mixing thread: start it at the highest priority the system grants,
// wait for it to end, and sleep between polls. Each audio engine has at most one mixing thread;
// the scheduler alone starts and joins it.
//
//     MixThread thread = {};
//     if (!mixThreadStart(&thread, mixingBody, engine)) ...;   // body(engine) on the new thread
//     ... mixThreadSleep(5) inside the body between polls ...
//     mixThreadJoin(&thread);                                   // after the body was told to end
//
// On Windows the thread is the system's own (CreateThread at time-critical priority); on a web page
// there is none (mixThreadStart refuses); elsewhere it is a std::thread, raised to real-time
// scheduling where the user may have it.
#pragma once

#include <cstdint>

struct MixThread {
    void* handle;  // the platform's thread; null while none runs
};

// Starts `body(argument)` on a new thread. False when no thread can be had (nothing runs then).
bool mixThreadStart(MixThread* thread, void (*body)(void*), void* argument);
// Waits until the thread has ended; nothing when none is running.
void mixThreadJoin(MixThread* thread);
// Gives up the processor for about `milliseconds`.
void mixThreadSleep(int32_t milliseconds);
