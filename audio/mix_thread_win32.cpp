#include <windows.h>

#include "audio/mix_thread.h"

namespace {

HANDLE thread = nullptr;
void (*threadBody)() = nullptr;

DWORD WINAPI runBody(LPVOID) {
    threadBody();
    return 0;
}

}  // namespace

bool mixThreadStart(void (*body)()) {
    threadBody = body;
    DWORD id = 0;  // received, not used
    thread = CreateThread(nullptr, 0, runBody, nullptr, 0, &id);
    if (!thread) return false;
    // The mixer must never wait behind the frame loop or anything else on the machine.
    SetThreadPriority(thread, THREAD_PRIORITY_TIME_CRITICAL);
    return true;
}

void mixThreadJoin() {
    if (!thread) return;
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    thread = nullptr;
}

void mixThreadSleep(int32_t milliseconds) { Sleep(static_cast<DWORD>(milliseconds)); }
