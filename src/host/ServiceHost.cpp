#include "host/ServiceHost.h"

#include "base/EventLog.h"
#include "base/ProgramName.h"
#include "com/ClassTable.h"
#include "host/Installation.h"
#include "host/Security.h"
#include "host/UserInterface.h"
#include "launch/LaunchWorker.h"
#include "messages.h"

#include <objbase.h>
#include <memory>
#include <wrl/client.h>

namespace {

// How long the end of the service waits for a launch in hand (creating one process and
// tracking it) to finish, so that the process does not end between the two.
constexpr DWORD kLaunchGraceMs = 5000;
// How long the end of the service waits for the exits of supervised programs to be reported.
constexpr DWORD kExitReportsMs = 5000;
// How often the service manager hears from a service that is waiting in a pending state.
constexpr DWORD kCheckpointMs = 1000;
constexpr DWORD kPendingWaitHintMs = 2 * kCheckpointMs;

}  // namespace

ServiceHost& Host() {
    // Never destroyed: a worker still inside a call when the process ends must not meet a
    // host being torn down.
    static ServiceHost* host = new ServiceHost;
    return *host;
}

void ServiceHost::InitHost(HINSTANCE module, UINT serviceNameId, UserInterface* userInterface) {
    instance = module;
    ui = userInterface;

    // Until a message loop starts elsewhere, the last release of a plain COM server ends the
    // loop of this thread: its queue exists from now on, so a quit posted before the loop
    // starts is not lost.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    messageThreadId = GetCurrentThreadId();
    isService = true;

    char name[256] = "";
    LoadStringA(module, serviceNameId, name, sizeof name);
    serviceName = name;
    SetProgramName(serviceName);
    keys = ServiceKeys::ForService(serviceName);
    // Named here rather than when a run is prepared: the tray of a user's session prepares no
    // run but shows the same dialogs.
    helpFileName = "Kestrun.hlp";
    comServer.keys = keys;
    lastReleaseUnanswered = false;
    comServer.lifetime.SetLastReleaseAction([this] {
        // A service lives on without objects; a plain COM server ends with its last one.
        if (isService)
            lastReleaseUnanswered = true;
        else
            PostThreadMessageA(messageThreadId, WM_QUIT, 0, 0);
    });

    status = {};
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = SERVICE_STOPPED;
    // Stop, pause and continue are accepted in every state; shutdown never.
    status.dwControlsAccepted = SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE;
    statusHandle = nullptr;
}

int ServiceHost::PrepareRun() {
    // Results of the COM set-up are deliberately not examined: a process that cannot join
    // the apartment or set security still runs its service. The apartment is left by EndRun.
    (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ComSecurityDescriptor descriptor;
    (void)BuildComSecurityDescriptor(descriptor, false, true);
    (void)CoInitializeSecurity(descriptor.get(), -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);

    classCookies.clear();
    for (const ClassEntry& entry : ProgramClassTable()) {
        Microsoft::WRL::ComPtr<IUnknown> classObject;
        DWORD cookie = 0;
        HRESULT result = entry.createClassObject(comServer, IID_IUnknown,
                                                 reinterpret_cast<void**>(classObject.GetAddressOf()));
        if (SUCCEEDED(result))
            result = CoRegisterClassObject(*entry.clsid, classObject.Get(),
                                           CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                           REGCLS_MULTIPLEUSE, &cookie);
        if (FAILED(result)) break;
        classCookies.push_back(cookie);
    }

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
        // From here on every last release posts the quit. One that came while the dispatcher
        // was tried posted none: with no lock left, the server has nothing more to serve.
        if (lastReleaseUnanswered && comServer.lifetime.Count() == 0) return;
    }
    if (startedByCom) RunMessageLoop();
}

void ServiceHost::EndRun() {
    for (DWORD cookie : classCookies)
        if (FAILED(CoRevokeClassObject(cookie))) break;
    classCookies.clear();
    CoUninitialize();
}

bool ServiceHost::StartLaunchWorker(LaunchTracker::Ticket ticket) {
    return StartThread([this, ticket] { (void)RunLaunchWorker(keys, tracker, ticket, &supervisor); });
}

bool ServiceHost::StartThread(std::function<void()> work) {
    auto owned = std::make_unique<std::function<void()>>(std::move(work));
    // The thread runs on its own; the process's end takes it along if it is still at work
    // then (inside a method call, or waiting for programs to end).
    UniqueHandle thread(CreateThread(nullptr, 0, &ServiceHost::RunThread, owned.get(), 0, nullptr));
    if (!thread) return false;
    (void)owned.release();  // the thread owns it now
    return true;
}

DWORD WINAPI ServiceHost::RunThread(void* parameter) {
    std::unique_ptr<std::function<void()>> work(static_cast<std::function<void()>*>(parameter));
    (*work)();
    return 0;
}

void ServiceHost::AdvanceCheckpoint() {
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    // A state that is not pending has no checkpoint: a wait that a continue or stop has just
    // overtaken says nothing more.
    const DWORD state = status.dwCurrentState;
    if (state == SERVICE_RUNNING || state == SERVICE_PAUSED || state == SERVICE_STOPPED) return;
    ++status.dwCheckPoint;
    status.dwWaitHint = kPendingWaitHintMs;
    (void)SetServiceStatus(statusHandle, &status);
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

    ReportMalformedSettings(host.keys);  // once per start, as the launch pass reports an application's values
    // The pass's ticket is taken here, before RUNNING can be reported: a stop or pause that
    // comes before the worker runs still cancels its pass.
    if (!host.StartLaunchWorker(host.tracker.BeginPass())) {
        // Report the failure as stopped rather than leave the service start pending forever.
        DWORD error = GetLastError();
        LogEventText("Could not create worker thread");
        host.status.dwWin32ExitCode = error;
        host.SetServiceState(SERVICE_STOPPED);
        return;
    }

    if (!SetConsoleCtrlHandler(&ServiceHost::ConsoleControlHandler, TRUE))
        LogEventText("Control Handler could not be installed");
    if (host.ui) host.mainWindow = host.ui->CreateMainWindow(host);

    host.RunMessageLoop();

    // A stop that ends the programs ends them here, on the service thread, so that the control
    // handler is never held up.
    if (host.stopTerminates.exchange(false))
        host.EndApplications(host.stopGraceMs.exchange(0), 0, [] { return true; });
    host.supervisor.FinishExitReports(kExitReportsMs);

    // The stop cancelled every pass, which ends before its next launch. A launch in hand
    // (creating one process and tracking it) is given a bounded time to finish, so that the
    // process does not end between the two; a pass that is inside a server's method call is
    // not waited for: the process's end takes the call along.
    {
        const ULONGLONG started = GetTickCount64();
        while (!host.tracker.WaitForLaunchesInFlight(kCheckpointMs) && GetTickCount64() - started < kLaunchGraceMs)
            host.AdvanceCheckpoint();
    }
    if (host.mainWindow) {
        WinHelpA(host.mainWindow, host.helpFileName.c_str(), HELP_QUIT, 0);
        SendMessageA(host.mainWindow, WM_CLOSE, 0, 0);
        host.mainWindow = nullptr;
    }
    host.SetServiceState(SERVICE_STOPPED);
}

void ServiceHost::RunMessageLoop() {
    messageThreadId = GetCurrentThreadId();
    if (isService) {
        // A stop or pause that came while the service was starting has the last word.
        std::lock_guard<std::recursive_mutex> guard(stateLock);
        if (status.dwCurrentState == SERVICE_START_PENDING) SetServiceState(SERVICE_RUNNING);
    }
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
        host.OnServiceStop();
        PostThreadMessageA(host.messageThreadId, WM_QUIT, 0, 0);
        break;
    case SERVICE_CONTROL_PAUSE:
        host.OnServicePause();
        break;
    case SERVICE_CONTROL_CONTINUE:
        host.OnServiceContinue();
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
    std::lock_guard<std::recursive_mutex> guard(stateLock);
    status.dwCurrentState = state;
    status.dwCheckPoint = 0;
    // A pending state promises its next word within the wait hint; AdvanceCheckpoint keeps it.
    const bool pending = state != SERVICE_RUNNING && state != SERVICE_PAUSED && state != SERVICE_STOPPED;
    status.dwWaitHint = pending ? kPendingWaitHintMs : 0;
    // The event is reported before the state: once the service manager sees STOPPED the
    // dispatcher returns and the process ends, possibly under a report still being written.
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
    (void)SetServiceStatus(statusHandle, &status);  // not examined: nothing better to do on failure
    if (ui) ui->ServiceStateChanged(*this, state);
}

BOOL WINAPI ServiceHost::ConsoleControlHandler(DWORD type) {
    if (type == CTRL_LOGOFF_EVENT) Host().logoffSeen = true;
    return FALSE;  // the next handler in the chain sees the event too
}

bool ServiceHost::IsServiceRunning() const {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    ServiceHandle service(OpenServiceA(manager.get(), serviceName.c_str(), SERVICE_QUERY_STATUS));
    if (!service) return false;
    SERVICE_STATUS current{};
    return QueryServiceStatus(service.get(), &current) && current.dwCurrentState == SERVICE_RUNNING;
}
