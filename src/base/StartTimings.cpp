#include "base/StartTimings.h"

#include <windows.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <vector>

namespace {

ULONGLONG Ticks(const FILETIME& time) {
    return (static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime;
}

class StartTimings {
public:
    // Null when the variable is not set or its file cannot be opened for appending.
    static StartTimings* Open() {
        char path[MAX_PATH];
        const DWORD length = GetEnvironmentVariableA(kStartTimingsVariable, path, sizeof path);
        if (length == 0 || length >= sizeof path) return nullptr;
        const HANDLE file = CreateFileA(path, FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                        OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE) return nullptr;
        FILETIME created{}, unused{};
        (void)GetProcessTimes(GetCurrentProcess(), &created, &unused, &unused, &unused);
        return new StartTimings(file, Ticks(created));
    }

    void Note(const char* phase) {
        FILETIME now{};
        GetSystemTimePreciseAsFileTime(&now);
        std::lock_guard<std::mutex> guard(lock_);
        for (const char* noted : noted_)
            if (std::strcmp(noted, phase) == 0) return;
        noted_.push_back(phase);
        char line[160];
        const int length = std::snprintf(line, sizeof line, "%lu %.1f %s\r\n", GetCurrentProcessId(),
                                         static_cast<double>(Ticks(now) - created_) / 10000.0, phase);
        DWORD written = 0;
        // One write per line, appended whole, so processes may share the file.
        if (length > 0) (void)WriteFile(file_, line, static_cast<DWORD>(length), &written, nullptr);
    }

private:
    StartTimings(HANDLE file, ULONGLONG created) : file_(file), created_(created) {}

    HANDLE file_;  // open until the process ends
    ULONGLONG created_;
    std::mutex lock_;
    std::vector<const char*> noted_;
};

}  // namespace

void NoteStartPhase(const char* phase) {
    // Never destroyed: a worker may note a phase while the process ends.
    static StartTimings* const timings = StartTimings::Open();
    if (timings) timings->Note(phase);
}
