#include "host/ServiceHost.h"

#include "host/EventLog.h"
#include "host/Installation.h"
#include "host/Security.h"
#include "host/Owners.h"
#include "launch/LaunchWorker.h"
#include "launch/Tracking.h"
#include "messages.h"

#include <objbase.h>

GUID typeLibraryId{};

namespace {
// How long the end of the service waits for a worker still inside a launch.
constexpr DWORD kWorkerGraceMs = 30000;
}  // namespace

ServiceHost& Host() {
    static ServiceHost host;
    return host;
}

void ServiceHost::InitHost(ClassEntry* table, HINSTANCE module, UINT serviceNameId, const GUID* typeLibrary) {
    instance = resourceInstance = typeLibraryInstance = module;
    classTable = table;
    lockCount = 0;
    // Initialised once per process, however often the host is initialised.
    static const bool locksReady = [this] {
        InitializeCriticalSection(&typeInfoLock);
        InitializeCriticalSection(&windowCreationLock);
        InitializeCriticalSection(&classTableLock);
        return true;
    }();
    (void)locksReady;
    windowCreationList = nullptr;
    for (ClassEntry* entry = classTable; entry && entry->clsid; ++entry)
        if (entry->startEndHook) entry->startEndHook(true);

    // Until a message loop starts elsewhere, the last release of a plain COM server ends the
    // loop of this thread: its queue exists from now on, so a quit posted before the loop
    // starts is not lost.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    messageThreadId = GetCurrentThreadId();

    if (typeLibrary) typeLibraryId = *typeLibrary;
    isService = true;

    char name[256] = "";
    LoadStringA(module, serviceNameId, name, sizeof name);
    serviceName = name;

    status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    // Stop, pause and continue are accepted in every state; shutdown never.
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
    statusHandle = nullptr;
}

int ServiceHost::PrepareRun() {
    // Results of the COM set-up are deliberately not examined: a process that cannot join
    // the apartment or set security still runs its service.
    (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ComSecurityDescriptor descriptor;
    (void)BuildComSecurityDescriptor(descriptor, false, true);
    (void)CoInitializeSecurity(descriptor.get(), -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);

    for (ClassEntry* entry = classTable; entry && entry->clsid; ++entry) {
        IUnknown* classObject = nullptr;
        HRESULT result = entry->createClassObject(IID_IUnknown, reinterpret_cast<void**>(&classObject));
        if (SUCCEEDED(result)) {
            result = CoRegisterClassObject(*entry->clsid, classObject,
                                           CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                           REGCLS_MULTIPLEUSE, &entry->cookie);
            classObject->Release();
        }
        if (FAILED(result)) break;
    }

    helpFileName = "Kestrun.hlp";
    PrepareRegistry();
    return 1;
}

void ServiceHost::StartHost() {
    char name[256];
    lstrcpynA(name, serviceName.c_str(), sizeof name);
    SERVICE_TABLE_ENTRYA table[] = {{name, &ServiceHost::ServiceMain}, {nullptr, nullptr}};

    // A second process never tries to become the service while the service runs.
    if (IsServiceRunning()) isService = false;
    if (isService) {
        if (!StartServiceCtrlDispatcherA(table)) isService = false;
        if (isService) return;  // the dispatcher returned: the service has stopped
    }
    if (startedByCom) RunMessageLoop();
}

void ServiceHost::EndRun() {
    for (ClassEntry* entry = classTable; entry && entry->clsid; ++entry)
        if (FAILED(CoRevokeClassObject(entry->cookie))) break;
    CoUninitialize();
}

void WINAPI ServiceHost::ServiceMain(DWORD, char**) {
    ServiceHost& host = Host();
    host.status.dwCurrentState = SERVICE_START_PENDING;
    // Give this thread its message queue now, so that a stop arriving before the message
    // loop starts still finds a thread to post WM_QUIT to.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    host.messageThreadId = GetCurrentThreadId();

    host.statusHandle = RegisterServiceCtrlHandlerA(host.serviceName.c_str(), &ServiceHost::ServiceControlHandler);
    if (!host.statusHandle) {
        LogEventText("Could not register service control handler");
        return;
    }
    host.SetServiceState(SERVICE_START_PENDING);
    host.status.dwWin32ExitCode = 0;
    host.status.dwCheckPoint = 0;
    host.status.dwWaitHint = 0;

    // The pass's ticket is taken here, before RUNNING can be reported: a stop or pause that
    // comes before the worker runs still cancels its pass.
    const LaunchTracker::Ticket ticket = Tracker().BeginPass();
    UniqueHandle worker(CreateThread(nullptr, 0, &RunLaunchWorker,
                                     reinterpret_cast<void*>(static_cast<UINT_PTR>(ticket)), 0, nullptr));
    if (!worker) {
        // Report the failure as stopped rather than leave the service start pending forever.
        DWORD error = GetLastError();
        LogEventText("Could not create worker thread");
        host.status.dwWin32ExitCode = error;
        host.SetServiceState(SERVICE_STOPPED);
        return;
    }

    if (!SetConsoleCtrlHandler(&ServiceHost::ConsoleControlHandler, TRUE))
        LogEventText("Control Handler could not be installed");

    host.RunMessageLoop();

    // The stop cancelled the worker's pass, which ends before its next launch; give it a
    // bounded time to finish the launch in hand, so that the process does not end under it.
    WaitForSingleObject(worker.get(), kWorkerGraceMs);
    worker.reset();
    if (host.mainWindow) {
        WinHelpA(host.mainWindow, host.helpFileName.c_str(), HELP_QUIT, 0);
        SendMessageA(host.mainWindow, WM_CLOSE, 0, 0);
    }
    host.SetServiceState(SERVICE_STOPPED);
}

void ServiceHost::RunMessageLoop() {
    messageThreadId = GetCurrentThreadId();
    if (isService) SetServiceState(SERVICE_RUNNING);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (mainWindow && IsDialogMessageA(mainWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

void WINAPI ServiceHost::ServiceControlHandler(DWORD code) {
    ServiceHost& host = Host();
    switch (code) {
    case SERVICE_CONTROL_STOP:
        OnServiceStop();
        PostThreadMessageA(host.messageThreadId, WM_QUIT, 0, 0);
        break;
    case SERVICE_CONTROL_PAUSE:
        OnServicePause();
        break;
    case SERVICE_CONTROL_CONTINUE:
        OnServiceContinue();
        break;
    case SERVICE_CONTROL_INTERROGATE:
    case SERVICE_CONTROL_SHUTDOWN:
        break;
    default:
        LogEventText("Bad service request received.");
        break;
    }
}

void ServiceHost::SetServiceState(DWORD state) {
    status.dwCurrentState = state;
    (void)SetServiceStatus(statusHandle, &status);  // not examined: nothing better to do on failure
    switch (state) {
    case SERVICE_RUNNING:
        if (wasPaused) {
            wasPaused = false;
            isRunning = true;
            LogEventById(MSG_SERVICE_RESUMED);
        } else {
            isRunning = true;
            LogEventById(MSG_SERVICE_STARTED);
        }
        break;
    case SERVICE_PAUSED:
        wasPaused = true;
        isRunning = false;
        LogEventById(MSG_SERVICE_PAUSED);
        break;
    case SERVICE_STOPPED:
        isRunning = false;
        LogEventById(MSG_SERVICE_STOPPED);
        break;
    default:
        break;
    }
}

BOOL WINAPI ServiceHost::ConsoleControlHandler(DWORD type) {
    if (type == CTRL_LOGOFF_EVENT) Host().logoffSeen = true;
    return FALSE;  // the next handler in the chain sees the event too
}

LONG ServiceHost::ReleaseServerLock() {
    LONG count = InterlockedDecrement(&lockCount);
    if (count == 0 && !isService) PostThreadMessageA(messageThreadId, WM_QUIT, 0, 0);
    return count;
}

bool ServiceHost::IsServiceRunning() const {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    ServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_QUERY_STATUS));
    if (!service) return false;
    SERVICE_STATUS current{};
    return QueryServiceStatus(service.get(), &current) && current.dwCurrentState == SERVICE_RUNNING;
}
