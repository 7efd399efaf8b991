#include "launch/GracefulEnd.h"

#include "base/Waiting.h"

#include <mutex>

namespace {

BOOL CALLBACK CloseWindowOfProcess(HWND window, LPARAM processId) {
    DWORD owner = 0;
    (void)GetWindowThreadProcessId(window, &owner);
    if (owner == static_cast<DWORD>(processId)) (void)PostMessageA(window, WM_CLOSE, 0, 0);
    return TRUE;
}

// A Ctrl+C sent to a program's console reaches every process attached to it, this one too.
BOOL WINAPI IgnoreInterrupt(DWORD type) { return type == CTRL_C_EVENT || type == CTRL_BREAK_EVENT; }

void SendCtrlC(DWORD processId) {
    // Without the handler the service's own default handling of Ctrl+C would end it. A handler
    // rather than the ignore flag, which programs started later would inherit.
    static const bool ignoring = SetConsoleCtrlHandler(&IgnoreInterrupt, TRUE) != FALSE;
    if (!ignoring) return;
    // A process has at most one console: programs are attached to one after the other.
    static std::mutex consoleLock;
    std::lock_guard<std::mutex> guard(consoleLock);
    (void)FreeConsole();
    if (!AttachConsole(processId)) return;  // a program without a console
    (void)GenerateConsoleCtrlEvent(CTRL_C_EVENT, 0);
    (void)FreeConsole();
}

bool IsRunning(HANDLE program) { return WaitForSingleObject(program, 0) == WAIT_TIMEOUT; }

}  // namespace

void AskProgramToEnd(DWORD processId) {
    (void)EnumWindows(&CloseWindowOfProcess, static_cast<LPARAM>(processId));
    SendCtrlC(processId);
}

std::size_t AskToEndAndWait(const std::vector<UniqueHandle>& programs, DWORD timeoutMs,
                            const std::function<bool()>& tick) {
    std::vector<HANDLE> asked;
    for (const UniqueHandle& program : programs) {
        const DWORD processId = GetProcessId(program.get());
        if (processId == 0 || !IsRunning(program.get())) continue;
        AskProgramToEnd(processId);
        asked.push_back(program.get());
    }
    return WaitForAllWithin(asked, timeoutMs, tick);
}
