#include <chrono>
#include <system_error>
#include <thread>

#include "audio/mix_thread.h"

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <sched.h>
#endif

namespace {

std::thread thread;

void raisePriority() {
#if defined(__unix__) || defined(__APPLE__)
    // Real-time scheduling needs a privilege most users lack; refused, the thread mixes at normal
    // priority, which the 2-second buffer usually absorbs.
    sched_param param = {};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO) / 2;
    pthread_setschedparam(thread.native_handle(), SCHED_FIFO, &param);
#endif
}

}  // namespace

bool mixThreadStart(void (*body)()) {
    // std::thread reports a thread that cannot be created only by throwing; this is the one
    // place the engine catches anything.
    try {
        thread = std::thread(body);
    } catch (const std::system_error&) {
        return false;
    }
    raisePriority();
    return true;
}

void mixThreadJoin() {
    if (thread.joinable()) thread.join();
}

void mixThreadSleep(int32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
