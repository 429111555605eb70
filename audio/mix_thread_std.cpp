#include <chrono>
#include <new>
#include <system_error>
#include <thread>

#include "audio/mix_thread.h"

#if defined(__unix__) || defined(__APPLE__)
#include <pthread.h>
#include <sched.h>
#endif

namespace {

void raisePriority(std::thread* thread) {
#if defined(__unix__) || defined(__APPLE__)
    // Real-time scheduling needs a privilege most users lack; refused, the thread mixes at normal
    // priority, which the 2-second buffer usually absorbs.
    sched_param param = {};
    param.sched_priority = sched_get_priority_max(SCHED_FIFO) / 2;
    pthread_setschedparam(thread->native_handle(), SCHED_FIFO, &param);
#else
    (void)thread;
#endif
}

}  // namespace

bool mixThreadStart(MixThread* thread, void (*body)(void*), void* argument) {
    auto* started = new (std::nothrow) std::thread();
    if (!started) return false;
    // std::thread reports a thread that cannot be created only by throwing; this is the one
    // place the engine catches anything.
    try {
        *started = std::thread(body, argument);
    } catch (const std::system_error&) {
        delete started;
        return false;
    }
    raisePriority(started);
    thread->handle = started;
    return true;
}

void mixThreadJoin(MixThread* thread) {
    auto* running = static_cast<std::thread*>(thread->handle);
    if (!running) return;
    if (running->joinable()) running->join();
    delete running;
    thread->handle = nullptr;
}

void mixThreadSleep(int32_t milliseconds) {
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}
