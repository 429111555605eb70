#include <windows.h>

#include "audio/mix_thread.h"

namespace {

struct ThreadStart {
    void (*body)(void*);
    void* argument;
};

// The body and its argument reach the new thread through this record, which the thread frees.
DWORD WINAPI runBody(LPVOID parameter) {
    ThreadStart start = *static_cast<ThreadStart*>(parameter);
    HeapFree(GetProcessHeap(), 0, parameter);
    start.body(start.argument);
    return 0;
}

}  // namespace

bool mixThreadStart(MixThread* thread, void (*body)(void*), void* argument) {
    auto* start = static_cast<ThreadStart*>(HeapAlloc(GetProcessHeap(), 0, sizeof(ThreadStart)));
    if (!start) return false;
    *start = {body, argument};
    DWORD id = 0;  // received, not used
    HANDLE handle = CreateThread(nullptr, 0, runBody, start, 0, &id);
    if (!handle) {
        HeapFree(GetProcessHeap(), 0, start);
        return false;
    }
    // The mixer must never wait behind the frame loop or anything else on the machine.
    SetThreadPriority(handle, THREAD_PRIORITY_TIME_CRITICAL);
    thread->handle = handle;
    return true;
}

void mixThreadJoin(MixThread* thread) {
    if (!thread->handle) return;
    WaitForSingleObject(static_cast<HANDLE>(thread->handle), INFINITE);
    CloseHandle(static_cast<HANDLE>(thread->handle));
    thread->handle = nullptr;
}

void mixThreadSleep(int32_t milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }
