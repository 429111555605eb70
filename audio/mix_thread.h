// The platform side of the mixing thread: start it at the highest priority the system grants,
// wait for it to end, and sleep between polls. One mixing thread exists at a time; the scheduler
// alone starts and joins it.
//
//     if (!mixThreadStart(mixingThread)) ...;   // body runs on the new thread
//     ... mixThreadSleep(5) inside the body between polls ...
//     mixThreadJoin();                          // after the body was told to end
//
// On Windows the thread is the system's own (CreateThread at time-critical priority); on a web page
// there is none (mixThreadStart refuses); elsewhere it is a std::thread, raised to real-time
// scheduling where the user may have it.
#pragma once

#include <cstdint>

// Starts `body` on a new thread. False when no thread can be had (nothing runs then).
bool mixThreadStart(void (*body)());
// Waits until the thread started last has ended; nothing when none is running.
void mixThreadJoin();
// Gives up the processor for about `milliseconds`.
void mixThreadSleep(int32_t milliseconds);
