#include <chrono>

#include "bench/bench.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <time.h>
#endif

double threadCpuSeconds() {
#if defined(_WIN32)
    FILETIME creation, exit, kernel, user;
    if (GetThreadTimes(GetCurrentThread(), &creation, &exit, &kernel, &user)) {
        auto ticks = [](FILETIME t) {
            return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
        };
        return static_cast<double>(ticks(kernel) + ticks(user)) * 1e-7;  // 100 ns units
    }
#elif defined(CLOCK_THREAD_CPUTIME_ID)
    timespec t;
    if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) == 0) return t.tv_sec + t.tv_nsec * 1e-9;
#endif
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}
