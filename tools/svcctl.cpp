// Controls a service through the service control manager: start, stop, pause, continue,
// query. Prints the state reached; exits 0 on success, 1 on failure.
//   svcctl start|stop|pause|continue|query NAME
#include <windows.h>
#include <cstdio>
#include <cstring>

namespace {

const char* StateName(DWORD state) {
    switch (state) {
    case SERVICE_STOPPED: return "STOPPED";
    case SERVICE_START_PENDING: return "START_PENDING";
    case SERVICE_STOP_PENDING: return "STOP_PENDING";
    case SERVICE_RUNNING: return "RUNNING";
    case SERVICE_CONTINUE_PENDING: return "CONTINUE_PENDING";
    case SERVICE_PAUSE_PENDING: return "PAUSE_PENDING";
    case SERVICE_PAUSED: return "PAUSED";
    default: return "UNKNOWN";
    }
}

// Waits (bounded) until the service leaves its pending state, and returns the state.
DWORD Settle(SC_HANDLE service) {
    SERVICE_STATUS status{};
    for (int i = 0; i < 300; ++i) {
        if (!QueryServiceStatus(service, &status)) return 0;
        if (status.dwCurrentState != SERVICE_START_PENDING && status.dwCurrentState != SERVICE_STOP_PENDING &&
            status.dwCurrentState != SERVICE_PAUSE_PENDING && status.dwCurrentState != SERVICE_CONTINUE_PENDING)
            break;
        Sleep(100);
    }
    return status.dwCurrentState;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: svcctl start|stop|pause|continue|query NAME\n");
        return 2;
    }
    const char* verb = argv[1];
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (!manager) {
        std::fprintf(stderr, "cannot open the service manager (error %lu)\n", GetLastError());
        return 1;
    }
    SC_HANDLE service = OpenServiceA(manager, argv[2], SERVICE_START | SERVICE_STOP | SERVICE_PAUSE_CONTINUE |
                                                          SERVICE_QUERY_STATUS);
    if (!service) {
        std::fprintf(stderr, "%s: no such service (error %lu)\n", argv[2], GetLastError());
        CloseServiceHandle(manager);
        return 1;
    }
    BOOL ok = TRUE;
    SERVICE_STATUS status{};
    if (std::strcmp(verb, "start") == 0)
        ok = StartServiceA(service, 0, nullptr);
    else if (std::strcmp(verb, "stop") == 0)
        ok = ControlService(service, SERVICE_CONTROL_STOP, &status);
    else if (std::strcmp(verb, "pause") == 0)
        ok = ControlService(service, SERVICE_CONTROL_PAUSE, &status);
    else if (std::strcmp(verb, "continue") == 0)
        ok = ControlService(service, SERVICE_CONTROL_CONTINUE, &status);
    else if (std::strcmp(verb, "query") != 0) {
        std::fprintf(stderr, "unknown command: %s\n", verb);
        ok = FALSE;
        SetLastError(ERROR_INVALID_PARAMETER);
    }
    int result = 0;
    if (!ok) {
        std::fprintf(stderr, "%s %s failed (error %lu)\n", verb, argv[2], GetLastError());
        result = 1;
    }
    std::printf("%s: %s\n", argv[2], StateName(Settle(service)));
    CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}
