#include "host/ServiceHost.h"

#include "base/Conversions.h"
#include "base/EventLog.h"
#include "base/ProgramName.h"
#include "base/StartTimings.h"
#include "com/ClassTable.h"
#include "host/Installation.h"
#include "host/Security.h"
#include "host/UserInterface.h"
#include "launch/LaunchWorker.h"
#include "messages.h"

#include <objbase.h>
#include <memory>
#include <string>
#include <vector>
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
// How long the end of the service waits for its workers once they have been told to end.
constexpr DWORD kWorkerEndMs = 500;

// Whether the service manager created this process: its parent is the system's services.exe.
// Asks only the system about this process, where asking the service manager would cost a
// connection to it on the way to RUNNING.
bool StartedByServiceManager() {
    using QueryProcess = LONG(WINAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    const auto query = reinterpret_cast<QueryProcess>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQueryInformationProcess")));
    // PROCESS_BASIC_INFORMATION, of which only the parent's id is read.
    struct {
        LONG_PTR exitStatus;
        void* environmentBlock;
        ULONG_PTR affinityMask;
        LONG_PTR basePriority;
        ULONG_PTR processId;
        ULONG_PTR parentProcessId;
    } basic{};
    if (!query || query(GetCurrentProcess(), 0, &basic, sizeof basic, nullptr) < 0) return false;
    UniqueHandle parent(
        OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(basic.parentProcessId)));
    char path[MAX_PATH], expected[MAX_PATH];
    DWORD length = sizeof path;
    const UINT directory = GetSystemDirectoryA(expected, MAX_PATH - 16);
    if (!parent || !QueryFullProcessImageNameA(parent.get(), 0, path, &length) || directory == 0 ||
        directory >= MAX_PATH - 16)
        return false;
    lstrcatA(expected, "\\services.exe");
    return lstrcmpiA(path, expected) == 0;
}

}  // namespace

ServiceHost& Host() {
    // Never destroyed: a worker still inside a call when the process ends must not meet a
    // host being torn down.
    static ServiceHost* host = new ServiceHost;
    return *host;
}

void ServiceHost::InitHost(HINSTANCE module, UINT serviceNameId, UserInterface* userInterface) {
    ui_ = userInterface;
    isService_ = true;

    identity_.instance = module;
    identity_.serviceName = LoadResourceString(module, serviceNameId);
    SetProgramName(identity_.serviceName);
    identity_.keys = ServiceKeys::ForService(identity_.serviceName);
    // Named here rather than when a run is prepared: the tray of a user's session prepares no
    // run but shows the same dialogs.
    identity_.helpFileName = "Kestrun.hlp";
    comServer_.keys = identity_.keys;
    lastReleaseUnanswered_ = false;
    comServer_.lifetime.SetLastReleaseAction([this] {
        // A service lives on without objects; a plain COM server ends with its last one.
        if (isService_)
            lastReleaseUnanswered_ = true;
        else
            PostThreadMessageA(messageThreadId_, WM_QUIT, 0, 0);
    });

    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    status_ = {};
    status_.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status_.dwCurrentState = SERVICE_STOPPED;
    // Stop, pause and continue are accepted in every state, and the system's shutdown, early
    // (pre-shutdown, which gives the time the service asks for) where the system offers it.
    status_.dwControlsAccepted =
        SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_PAUSE_CONTINUE | SERVICE_ACCEPT_PRESHUTDOWN | SERVICE_ACCEPT_SHUTDOWN;
    statusHandle_ = nullptr;
}

void ServiceHost::SetRunMode(bool asService, bool startedByCom) {
    isService_ = asService;
    startedByCom_ = startedByCom;
    lastReleaseUnanswered_ = false;
}

DWORD ServiceHost::ExitCode() const {
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    return status_.dwWin32ExitCode;
}

DWORD ServiceHost::CurrentState() const {
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    return status_.dwCurrentState;
}

int ServiceHost::PrepareRun() {
    {
        std::lock_guard<std::mutex> guard(classLock_);
        classesWanted_ = true;
    }
    // The service that the service manager started joins COM on its own thread once it has
    // reported RUNNING: loading COM (and the window and drawing libraries that come with it)
    // costs a start tens of milliseconds.
    if (!(isService_ && StartedByServiceManager())) JoinCom();
    return 1;
}

void ServiceHost::JoinCom() {
    if (comJoined_) return;
    // Results of the COM set-up are deliberately not examined: a process that cannot join
    // the apartment or set security still runs its service. The apartment is left by EndRun.
    (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    comJoined_ = true;
    SecureCom();
}

void ServiceHost::SecureCom() {
    if (comSecured_) return;
    comSecured_ = true;
    ComSecurityDescriptor descriptor;
    (void)BuildComSecurityDescriptor(descriptor, false, true);
    // Before any thread of the process uses COM (a launch pass creates servers), which would
    // fix the process's security with the defaults.
    (void)CoInitializeSecurity(descriptor.get(), -1, nullptr, nullptr, RPC_C_AUTHN_LEVEL_PKT,
                               RPC_C_IMP_LEVEL_IMPERSONATE, nullptr, EOAC_NONE, nullptr);
    NoteStartPhase("COM joined and secured");
}

void ServiceHost::RegisterClassObjects() {
    {
        std::lock_guard<std::mutex> guard(classLock_);
        if (!classesWanted_ || !classCookies_.empty()) return;
        for (const ClassEntry& entry : ProgramClassTable()) {
            Microsoft::WRL::ComPtr<IUnknown> classObject;
            DWORD cookie = 0;
            HRESULT result = entry.createClassObject(comServer_, IID_IUnknown,
                                                     reinterpret_cast<void**>(classObject.GetAddressOf()));
            if (SUCCEEDED(result))
                result = CoRegisterClassObject(*entry.clsid, classObject.Get(),
                                               CLSCTX_INPROC_SERVER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER,
                                               REGCLS_MULTIPLEUSE, &cookie);
            if (FAILED(result)) break;
            classCookies_.push_back(cookie);
        }
        // Registered once per run, whether or not the runtime took every class.
        classesWanted_ = false;
    }
    NoteStartPhase("classes registered");
    PrepareRegistry(identity_);
    NoteStartPhase("registry prepared");
}

void ServiceHost::StartHost() {
    char name[256];
    lstrcpynA(name, identity_.serviceName.c_str(), sizeof name);
    SERVICE_TABLE_ENTRYA table[] = {{name, &ServiceHost::ServiceMain}, {nullptr, nullptr}};

    // A second process never tries to become the service while the service runs; one that the
    // service manager started is the service's own start.
    if (isService_ && !StartedByServiceManager() && IsServiceRunning()) isService_ = false;
    if (isService_) {
        NoteStartPhase("dispatcher called");
        if (!StartServiceCtrlDispatcherA(table)) isService_ = false;
        if (isService_) return;  // the dispatcher returned: the service has stopped
        // From here on every last release posts the quit. One that came while the dispatcher
        // was tried posted none: with no lock left, the server has nothing more to serve.
        if (lastReleaseUnanswered_ && comServer_.lifetime.Count() == 0) return;
    }
    // Not the service: the run serves COM (when COM started it) with the keys made sure of.
    // Until a message loop starts elsewhere, the last release ends the loop of this thread: its
    // queue exists from now on, so a quit posted before the loop starts is not lost.
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    TakeMessageThread();
    JoinCom();
    RegisterClassObjects();
    if (startedByCom_) RunMessageLoop();
}

void ServiceHost::RevokeClassObjects() {
    std::lock_guard<std::mutex> guard(classLock_);
    for (DWORD cookie : classCookies_)
        if (FAILED(CoRevokeClassObject(cookie))) break;
    classCookies_.clear();
    classesWanted_ = false;
}

void ServiceHost::EndRun() {
    RevokeClassObjects();
    if (comJoined_) CoUninitialize();
    comJoined_ = false;
}

bool ServiceHost::StartLaunchWorker(LaunchTracker::Ticket ticket, std::function<void()> then) {
    // A pass ends by its ticket, which a stop or pause cancels; it needs no signal of its own.
    return StartWorker([this, ticket, then = std::move(then)] {
        NoteStartPhase("launch pass begun");
        (void)RunLaunchWorker(identity_.keys, tracker_, ticket, &supervisor_);
        if (then) then();
    });
}

bool ServiceHost::StartWorker(std::function<void()> work) {
    std::lock_guard<std::mutex> guard(workersLock_);
    std::erase_if(workers_, [](const Worker& worker) { return worker.Join(0); });
    Worker worker;
    if (!worker.Start([work = std::move(work)](HANDLE) { work(); })) return false;
    workers_.push_back(std::move(worker));
    return true;
}

void ServiceHost::EndWorkers(DWORD boundMs) {
    std::vector<Worker> ending;
    {
        std::lock_guard<std::mutex> guard(workersLock_);
        ending.swap(workers_);
    }
    for (Worker& worker : ending) worker.Cancel();
    const ULONGLONG deadline = GetTickCount64() + boundMs;
    for (const Worker& worker : ending) {
        const ULONGLONG now = GetTickCount64();
        (void)worker.Join(now < deadline ? static_cast<DWORD>(deadline - now) : 0);
    }
    // Those still at work are let go here; their threads run on until the process ends.
}

void ServiceHost::AdvanceCheckpoint() {
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    // A state that is not pending has no checkpoint: a wait that a continue or stop has just
    // overtaken says nothing more.
    const DWORD state = status_.dwCurrentState;
    if (state == SERVICE_RUNNING || state == SERVICE_PAUSED || state == SERVICE_STOPPED) return;
    ++status_.dwCheckPoint;
    status_.dwWaitHint = kPendingWaitHintMs;
    (void)SetServiceStatus(statusHandle_, &status_);
}

void WINAPI ServiceHost::ServiceMain(DWORD, char**) {
    NoteStartPhase("ServiceMain");
    ServiceHost& host = Host();
    {
        std::lock_guard<std::recursive_mutex> guard(host.stateLock_);
        host.status_.dwCurrentState = SERVICE_START_PENDING;
    }
    // This thread's message loop is the one a stop ends. Its queue is made after RUNNING (the
    // window library is not loaded before): a stop that comes first finds the state
    // STOP_PENDING before the loop begins.
    host.TakeMessageThread();

    const SERVICE_STATUS_HANDLE statusHandle =
        RegisterServiceCtrlHandlerExA(host.identity_.serviceName.c_str(), &ServiceHost::ServiceControlHandler, nullptr);
    if (!statusHandle) {
        LogEventText("Could not register service control handler");
        return;
    }
    NoteStartPhase("controls registered");
    {
        std::lock_guard<std::recursive_mutex> guard(host.stateLock_);
        host.statusHandle_ = statusHandle;
        host.statusBoard_.Open(GetCurrentProcessId());
        host.SetServiceState(SERVICE_START_PENDING);
        host.status_.dwWin32ExitCode = 0;
        host.status_.dwCheckPoint = 0;
        host.status_.dwWaitHint = 0;
    }

    ReportMalformedSettings(host.identity_.keys);  // once per start, as the launch pass reports an application's values
    // The pass's ticket is taken here, before RUNNING can be reported: a stop or pause that
    // comes before the worker runs still cancels its pass.
    const LaunchTracker::Ticket pass = host.tracker_.BeginPass();

    // RUNNING as soon as the controls can be answered: the reactions need nothing of this
    // thread. COM, the pass and the windows come after, and a stop or pause that came while the
    // service was starting has the last word.
    {
        std::lock_guard<std::recursive_mutex> guard(host.stateLock_);
        if (host.status_.dwCurrentState == SERVICE_START_PENDING) host.SetServiceState(SERVICE_RUNNING);
    }
    NoteStartPhase("RUNNING reported");
    // The process's apartment, which this thread holds until the service has stopped; its
    // security is set before the pass can create a server.
    const ComInitialization apartment(COINIT_MULTITHREADED);
    host.SecureCom();
    // The pre-shutdown time is asked for after the pass, off the way to the first programs.
    if (!host.StartLaunchWorker(pass, [&host] { host.AskForShutdownTime(); })) {
        // Report the failure as stopped rather than leave the service running without its programs.
        DWORD error = GetLastError();
        LogEventText("Could not create worker thread");
        std::lock_guard<std::recursive_mutex> guard(host.stateLock_);
        host.status_.dwWin32ExitCode = error;
        host.SetServiceState(SERVICE_STOPPED);
        return;
    }
    host.RegisterClassObjects();
    MSG message;
    PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
    if (host.ui_) host.mainWindow_ = host.ui_->CreateMainWindow(host);
    NoteStartPhase("windows made");

    // The queue exists: a stop from now on posts its quit to it, one before has set the state.
    const DWORD state = host.CurrentState();
    if (state != SERVICE_STOP_PENDING && state != SERVICE_STOPPED) host.RunMessageLoop();

    // A stop that ends the programs ends them here, on the service thread, so that the control
    // handler is never held up.
    if (host.stopTerminates_.exchange(false))
        host.EndApplications(host.stopGraceMs_.exchange(0), 0, [] { return true; });
    host.supervisor_.FinishExitReports(kExitReportsMs);

    // The stop cancelled every pass, which ends before its next launch. A launch in hand
    // (creating one process and tracking it) is given a bounded time to finish, so that the
    // process does not end between the two; a pass that is inside a server's method call is
    // not waited for: the process's end takes the call along.
    {
        const ULONGLONG started = GetTickCount64();
        while (!host.tracker_.WaitForLaunchesInFlight(kCheckpointMs) && GetTickCount64() - started < kLaunchGraceMs)
            host.AdvanceCheckpoint();
    }
    // The passes have been cancelled and a terminating pause gives way to the stop: the workers
    // end at once unless one is inside a server's method call, which is not waited for beyond
    // this bound (the process's end takes the call along).
    host.AdvanceCheckpoint();
    host.EndWorkers(kWorkerEndMs);
    if (host.mainWindow_) {
        WinHelpA(host.mainWindow_, host.identity_.helpFileName.c_str(), HELP_QUIT, 0);
        SendMessageA(host.mainWindow_, WM_CLOSE, 0, 0);
        host.mainWindow_ = nullptr;
    }
    // Revoked while this thread still holds the apartment that they were registered in.
    host.RevokeClassObjects();
    host.SetServiceState(SERVICE_STOPPED);
}

void ServiceHost::RunMessageLoop() {
    TakeMessageThread();
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (mainWindow_ && IsDialogMessageA(mainWindow_, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}

DWORD WINAPI ServiceHost::ServiceControlHandler(DWORD code, DWORD, void*, void*) {
    ServiceHost& host = Host();
    switch (code) {
    case SERVICE_CONTROL_PRESHUTDOWN:
    case SERVICE_CONTROL_SHUTDOWN:
        // The system is going down: as a stop, and nothing is started again. A service that
        // had the pre-shutdown notification is already stopping when the shutdown one comes.
        if (host.CurrentState() == SERVICE_STOP_PENDING || host.CurrentState() == SERVICE_STOPPED) break;
        [[fallthrough]];
    case SERVICE_CONTROL_STOP:
        host.OnServiceStop();
        PostThreadMessageA(host.messageThreadId_, WM_QUIT, 0, 0);
        break;
    case SERVICE_CONTROL_PAUSE:
        host.OnServicePause();
        break;
    case SERVICE_CONTROL_CONTINUE:
        host.OnServiceContinue();
        break;
    case SERVICE_CONTROL_INTERROGATE:
        break;
    default:
        LogEventText("Bad service request received.");
        return ERROR_CALL_NOT_IMPLEMENTED;
    }
    return NO_ERROR;
}

void ServiceHost::AskForShutdownTime() const {
    // Enough for the graceful end and the bounded sweep that follows it.
    SERVICE_PRESHUTDOWN_INFO info{GracefulStopTimeoutMs(identity_.keys) + kShutdownSweepMs};
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager ? OpenServiceA(manager.get(), identity_.serviceName.c_str(), SERVICE_CHANGE_CONFIG)
                                  : nullptr);
    if (!service || !ChangeServiceConfig2A(service.get(), SERVICE_CONFIG_PRESHUTDOWN_INFO, &info))
        LogEventText("The service could not ask for time at the system's shutdown (error " +
                     std::to_string(GetLastError()) + "); it gets the system's default.");
}

void ServiceHost::SetServiceState(DWORD state) {
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    status_.dwCurrentState = state;
    status_.dwCheckPoint = 0;
    // A pending state promises its next word within the wait hint; AdvanceCheckpoint keeps it.
    const bool pending = state != SERVICE_RUNNING && state != SERVICE_PAUSED && state != SERVICE_STOPPED;
    status_.dwWaitHint = pending ? kPendingWaitHintMs : 0;
    // The event is reported before the state: once the service manager sees STOPPED the
    // dispatcher returns and the process ends, possibly under a report still being written.
    switch (state) {
    case SERVICE_RUNNING:
        if (wasPaused_) {
            wasPaused_ = false;
            isRunning_ = true;
            LogEventById(MSG_SERVICE_RESUMED);
        } else {
            isRunning_ = true;
            LogEventById(MSG_SERVICE_STARTED);
        }
        break;
    case SERVICE_PAUSED:
        wasPaused_ = true;
        isRunning_ = false;
        LogEventById(MSG_SERVICE_PAUSED);
        break;
    case SERVICE_STOPPED:
        isRunning_ = false;
        LogEventById(MSG_SERVICE_STOPPED);
        break;
    default:
        break;
    }
    // Before the service manager hears of the stop, after which the process may end at once.
    if (state == SERVICE_STOPPED)
        statusBoard_.Close();
    else
        statusBoard_.ServiceState(state);
    if (!SetServiceStatus(statusHandle_, &status_) && GetLastError() == ERROR_INVALID_DATA &&
        (status_.dwControlsAccepted & SERVICE_ACCEPT_PRESHUTDOWN)) {
        // A system without the pre-shutdown notification refuses to hear of it: shutdown then.
        status_.dwControlsAccepted &= ~SERVICE_ACCEPT_PRESHUTDOWN;
        (void)SetServiceStatus(statusHandle_, &status_);
    }  // otherwise not examined: nothing better to do on failure
    if (ui_) ui_->ServiceStateChanged(*this, state);
}

bool ServiceHost::IsServiceRunning() const {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    if (!manager) return false;
    ServiceHandle service(OpenServiceA(manager.get(), identity_.serviceName.c_str(), SERVICE_QUERY_STATUS));
    if (!service) return false;
    SERVICE_STATUS current{};
    return QueryServiceStatus(service.get(), &current) && current.dwCurrentState == SERVICE_RUNNING;
}

void ServiceHost::WithStateHeld(const std::function<void()>& look) {
    std::lock_guard<std::recursive_mutex> guard(stateLock_);
    look();
}

void ServiceHost::UnregisterMainWindow(HWND window) {
    if (mainWindow_ == window) mainWindow_ = nullptr;
}
