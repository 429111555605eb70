#include <chrono>

#include "bench/bench.h"

#if !defined(_WIN32)
#include <time.h>
#endif

double threadCpuSeconds() {
#if !defined(_WIN32) && defined(CLOCK_THREAD_CPUTIME_ID)
    timespec t;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) == 0) return t.tv_sec + t.tv_nsec * 1e-9;
#endif
    // Windows counts a thread's CPU time in scheduler ticks of 15 ms or so, too coarse for rounds
    // of a few milliseconds: the wall clock it is.
    return wallSeconds();
}

double wallSeconds() {
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}
