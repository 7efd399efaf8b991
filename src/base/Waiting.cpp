#include "base/Waiting.h"

#include <algorithm>

std::size_t WaitForAllWithin(const std::vector<HANDLE>& handles, DWORD timeoutMs,
                             const std::function<bool()>& tick) {
    // One deadline for all: each handle has the time that is left when the wait comes to it.
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    ULONGLONG nextTick = GetTickCount64() + kWaitTickMs;
    auto waiting = handles.begin();
    while (waiting != handles.end()) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        if (now >= nextTick) {
            if (tick && !tick()) break;
            nextTick = now + kWaitTickMs;
        }
        const ULONGLONG slice = std::min(deadline, nextTick) - now;
        if (WaitForSingleObject(*waiting, static_cast<DWORD>(slice)) != WAIT_TIMEOUT) ++waiting;
    }
    return static_cast<std::size_t>(std::count_if(
        waiting, handles.end(), [](HANDLE handle) { return WaitForSingleObject(handle, 0) == WAIT_TIMEOUT; }));
}
