// The floor of the start benchmark: the least an own-process service can do for one program.
// It reports RUNNING at once, starts the program the way the service does (application name,
// "path args" command line, a new console, shown normally) and ends it with TerminateProcess
// at the stop, then reports STOPPED. No window, no COM, no registry. It notes the same start
// phases as the service where it has them (base/StartTimings.h).
//
//   minimal_service.exe PATH [ARGS...]      (as the service's binary path)
#include "base/StartTimings.h"

#include <windows.h>

#include <string>

namespace {

SERVICE_STATUS_HANDLE statusHandle = nullptr;
SERVICE_STATUS status{SERVICE_WIN32_OWN_PROCESS, SERVICE_START_PENDING, 0, 0, 0, 0, 0};
HANDLE stopRequested = nullptr;
std::string programPath, commandLine;

void Report(DWORD state) {
    status.dwCurrentState = state;
    status.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP : 0;
    (void)SetServiceStatus(statusHandle, &status);
}

DWORD WINAPI Control(DWORD code, DWORD, void*, void*) {
    if (code == SERVICE_CONTROL_STOP) {
        Report(SERVICE_STOP_PENDING);
        SetEvent(stopRequested);
    }
    return NO_ERROR;
}

void WINAPI Main(DWORD, char**) {
    statusHandle = RegisterServiceCtrlHandlerExA("", &Control, nullptr);
    if (!statusHandle) return;
    stopRequested = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    Report(SERVICE_RUNNING);
    NoteStartPhase("RUNNING reported");

    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESHOWWINDOW;
    startup.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION created{};
    const bool started = CreateProcessA(programPath.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                                        CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup,
                                        &created);
    if (started) {
        NoteStartPhase("first program created");
        CloseHandle(created.hThread);
    }

    WaitForSingleObject(stopRequested, INFINITE);
    if (started) {
        TerminateProcess(created.hProcess, 0);
        WaitForSingleObject(created.hProcess, 5000);
        CloseHandle(created.hProcess);
    }
    Report(SERVICE_STOPPED);
}

}  // namespace

int main(int argc, char** argv) {
    NoteStartPhase("entry");
    if (argc < 2) return 2;
    programPath = argv[1];
    commandLine = programPath;
    for (int i = 2; i < argc; ++i) commandLine += std::string(" ") + argv[i];
    SERVICE_TABLE_ENTRYA table[] = {{const_cast<char*>(""), &Main}, {nullptr, nullptr}};
    return StartServiceCtrlDispatcherA(table) ? 0 : 1;
}
