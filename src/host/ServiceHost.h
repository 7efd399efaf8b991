// The one process-wide object of the service host: the service's identity, status and
// configuration keys, the COM server it serves, the launch tracker, the workers it starts, and
// the reactions to the service manager's controls.
//
// Threads: the service thread (ServiceMain and its message loop, which is the process's main
// thread when COM starts a plain server), the control handler's thread, the workers, and the
// threads of the COM calls. The identity is fixed by InitHost before any of them runs; what
// changes afterwards is private and says who owns it or which lock guards it.
#pragma once
#include "base/Owners.h"
#include "base/Worker.h"
#include "com/ServerLifetime.h"
#include "config/ServiceSettings.h"
#include "host/HostIdentity.h"
#include "host/UserInterface.h"
#include "launch/ProgramOutput.h"
#include "launch/Supervisor.h"
#include "launch/Tracking.h"

#include <windows.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <vector>

// The service-specific exit code of a stop that a program given up asked for (StopServiceOnGiveUp).
inline constexpr DWORD kGiveUpExitCode = 1;
// What a stop needs beside the graceful end: the bounded waits of its sweep and of the workers.
inline constexpr DWORD kShutdownSweepMs = 20000;

class ServiceHost final : public UiHost {
public:
    // Fixes the identity, prepares the status and makes the calling thread the message thread.
    // Called once, before any other thread of the host runs.
    void InitHost(HINSTANCE module, UINT serviceNameId, UserInterface* userInterface = nullptr);
    const HostIdentity& Identity() const override { return identity_; }

    // How the run serves, chosen by the entry point before PrepareRun: as the service (else as
    // a plain COM server), and whether COM started the process. A last release not yet answered
    // is forgotten: none can have come before the class objects are registered.
    void SetRunMode(bool asService, bool startedByCom);
    // From now on RegisterClassObjects registers the class objects. Joins the multithreaded
    // apartment and sets COM security, except in the service that the service manager started,
    // which does both on its own thread after RUNNING. Always 1.
    int PrepareRun();
    // Once per run prepared: registers the class objects and makes sure of the configuration
    // keys. The service does it on its own thread just after it reports RUNNING, a plain COM
    // server before it serves: neither the controls nor the first launch wait for it, and the
    // COM runtime holds a client's activation until the class is registered.
    void RegisterClassObjects();
    // Becomes the service when the service manager started the process, else serves COM until
    // the last release when COM started it.
    void StartHost();
    // Revokes the class objects and leaves the apartment if PrepareRun or StartHost joined it.
    void EndRun();
    // The exit code that the service last reported.
    DWORD ExitCode() const;

    // Reports state to the service manager, with its event, and tells the user interface.
    void SetServiceState(DWORD state);
    // The state last reported, and whether the last RUNNING came after a pause.
    DWORD CurrentState() const;
    bool WasPaused() const { return wasPaused_; }
    // Makes the calling thread the one whose message loop the last release of a plain COM
    // server ends; its message queue must exist.
    void TakeMessageThread() { messageThreadId_ = GetCurrentThreadId(); }
    // Dispatches the calling thread's messages until WM_QUIT.
    void RunMessageLoop();
    // The COM server: its lifetime and the keys its Module class serves.
    ComServer& Server() { return comServer_; }

    // The face the user interface sees.
    bool IsRunning() const override { return isRunning_; }
    bool IsServiceRunning() const override;
    void Pause() override { OnServicePause(); }
    void Continue() override { OnServiceContinue(); }
    void WithStateHeld(const std::function<void()>& look) override;
    void RegisterMainWindow(HWND window) override { mainWindow_ = window; }
    void UnregisterMainWindow(HWND window) override;

    // The callbacks that the system calls without a context; they find the host by Host().
    static void WINAPI ServiceMain(DWORD argc, char** argv);
    static DWORD WINAPI ServiceControlHandler(DWORD code, DWORD eventType, void* eventData, void* context);

private:
    // The reactions to the service manager's controls and to the tray's commands; each
    // returns 1. Serialised by stateLock_, and none waits for a launch.
    int OnServiceStop();
    int OnServicePause();
    int OnServiceContinue();
    // A program given up with StopServiceOnGiveUp 1 stops the service as a stop control does,
    // and the service reports kGiveUpExitCode as its service-specific exit code, so that the
    // service manager's recovery actions apply.
    void StopAfterGiveUp();
    // Asks the service manager for the time a stop needs at the system's shutdown; reports a
    // refusal.
    void AskForShutdownTime() const;
    // Ends the tracked applications: first asks them to end and waits up to graceMs (0: not
    // asked), then releases every tracked server, terminates every tracked program and what is
    // left in the service's job, each wait bounded and the pending state's checkpoint advancing
    // meanwhile, and reports endState (0: none). Ends nothing once stillWanted says that
    // another control has taken over.
    void EndApplications(DWORD graceMs, DWORD endState, const std::function<bool()>& stillWanted);
    // Tells the service manager that a pending state is progressing.
    void AdvanceCheckpoint();
    // Starts a launch pass with ticket on a worker of its own; false (last error set) when the
    // worker's thread cannot be created.
    // then, when given, runs on the worker after the pass.
    bool StartLaunchWorker(LaunchTracker::Ticket ticket, std::function<void()> then = {});
    // Runs work on a worker of the host's own; false (last error set) when its thread cannot be
    // created. Workers that have ended are let go here.
    bool StartWorker(std::function<void()> work);
    // Signals every worker to cancel and waits for their ends, at most boundMs in all. One that
    // is still at work then (inside a server's method call) is left to the process's end.
    void EndWorkers(DWORD boundMs);

    // Fixed by InitHost, read by every thread.
    HostIdentity identity_;
    UserInterface* ui_ = nullptr;

    // The COM server and the cookies of its class objects, which classLock_ guards: the service
    // thread registers them, the process's main thread revokes them in EndRun. Classes are
    // registered only between PrepareRun and EndRun (classesWanted_).
    ComServer comServer_;
    std::mutex classLock_;
    bool classesWanted_ = false;
    std::vector<DWORD> classCookies_;
    // Whether the process's main thread has joined the apartment, and whether the process's
    // COM security is set: by the main thread, or by the service thread in the service that the
    // service manager started, never by both.
    bool comJoined_ = false;
    bool comSecured_ = false;
    // The calling (main) thread joins the apartment and sets the security.
    void JoinCom();
    // Sets the process's COM security, once; the calling thread is in the apartment.
    void SecureCom();
    void RevokeClassObjects();

    // What the launch passes started, and the supervision of the programs among it; each
    // guards itself.
    LaunchTracker tracker_;
    StatusBoard statusBoard_{identity_.keys};  // the live status, while the service runs
    // The standard output and error of the programs, written to their logs by its own thread.
    ProgramOutput output_;
    Supervisor supervisor_{identity_.keys, tracker_, &output_, [this] { StopAfterGiveUp(); }, &statusBoard_};

    // The service's status; SetServiceState, the reactions and AdvanceCheckpoint run under
    // stateLock_, and so does ServiceMain when it sets the handle and the exit code.
    mutable std::recursive_mutex stateLock_;
    SERVICE_STATUS_HANDLE statusHandle_ = nullptr;
    SERVICE_STATUS status_{};
    // Written under stateLock_, read without it.
    std::atomic<bool> isRunning_{false};
    std::atomic<bool> wasPaused_{false};
    // Counts the reactions (under stateLock_), so that the end of a graceful pause knows
    // whether another control has come since.
    std::atomic<unsigned> controlCount_{0};
    // Whether the stop ends the applications, and the grace time it gives them (0: none); set
    // by the stop's reaction, taken by the service thread once its message loop has ended.
    std::atomic<bool> stopTerminates_{false};
    std::atomic<DWORD> stopGraceMs_{0};

    // The thread whose message loop a plain server's last release ends, and how the run
    // serves; set by the entry point and the service thread, read by the COM threads.
    std::atomic<DWORD> messageThreadId_{0};
    std::atomic<bool> isService_{false};
    std::atomic<bool> startedByCom_{false};
    // The last server lock went while the process still tried to become the service, so no
    // quit was posted: a plain COM server that finds no lock afterwards ends at once.
    std::atomic<bool> lastReleaseUnanswered_{false};
    // The main window; only the thread that runs the message loop (which created the window)
    // touches it.
    HWND mainWindow_ = nullptr;

    // The launch passes and the terminating pauses; started from the service thread and the
    // control handler's thread, under workersLock_.
    std::mutex workersLock_;
    std::vector<Worker> workers_;
};

// The process's host, for the entry point and the callbacks that the system calls without a
// context. Never destroyed.
ServiceHost& Host();
