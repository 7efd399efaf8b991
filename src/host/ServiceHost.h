// The one process-wide object of the service host: the service's identity, status and
// configuration keys, the COM server it serves, the launch tracker, and the reactions to the
// service manager's controls.
#pragma once
#include "base/Owners.h"
#include "com/ServerLifetime.h"
#include "config/ServiceKeys.h"
#include "config/ServiceSettings.h"
#include "launch/Supervisor.h"
#include "launch/Tracking.h"

#include <windows.h>
#include <atomic>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

class UserInterface;

class ServiceHost {
public:
    // Identity and configuration, fixed by InitHost.
    HINSTANCE instance = nullptr;
    std::string serviceName;
    ServiceKeys keys;
    std::string helpFileName;
    UserInterface* ui = nullptr;

    // The COM server (its lifetime and the keys its Module class serves) and the cookies of
    // its registered class objects.
    ComServer comServer;
    std::vector<DWORD> classCookies;

    // What the launch passes started, and the supervision of the programs among it.
    LaunchTracker tracker;
    Supervisor supervisor{keys, tracker};

    // Service status. SetServiceState and the reactions run under stateLock.
    SERVICE_STATUS_HANDLE statusHandle = nullptr;
    SERVICE_STATUS status{};
    std::recursive_mutex stateLock;
    std::atomic<DWORD> messageThreadId{0};
    std::atomic<bool> isService{false};
    std::atomic<bool> isRunning{false};
    std::atomic<bool> startedByCom{false};
    std::atomic<bool> logoffSeen{false};
    std::atomic<bool> wasPaused{false};
    // The last server lock went while the process still tried to become the service, so no
    // quit was posted: a plain COM server that finds no lock afterwards ends at once.
    std::atomic<bool> lastReleaseUnanswered{false};
    // Counts the reactions, so that the end of a graceful pause knows whether another control
    // has come since.
    std::atomic<unsigned> controlCount{0};
    // Whether the stop ends the applications, and the grace time it gives them (0: none); the
    // service thread ends them once its message loop has ended.
    std::atomic<bool> stopTerminates{false};
    std::atomic<DWORD> stopGraceMs{0};
    HWND mainWindow = nullptr;

    void InitHost(HINSTANCE module, UINT serviceNameId, UserInterface* userInterface = nullptr);
    int PrepareRun();
    void StartHost();
    void EndRun();
    void SetServiceState(DWORD state);
    void RunMessageLoop();
    bool IsServiceRunning() const;

    // The reactions to the service manager's controls and to the tray's commands; each
    // returns 1. Serialised by stateLock, and none waits for a launch.
    int OnServiceStop();
    int OnServicePause();
    int OnServiceContinue();
    // Ends the tracked applications: first asks them to end and waits up to graceMs (0: not
    // asked), then releases every tracked server, terminates every tracked program and what is
    // left in the service's job, each wait bounded and the pending state's checkpoint advancing
    // meanwhile, and reports endState (0: none). Ends nothing once stillWanted says that
    // another control has taken over.
    void EndApplications(DWORD graceMs, DWORD endState, const std::function<bool()>& stillWanted);
    // Tells the service manager that a pending state is progressing.
    void AdvanceCheckpoint();

    static void WINAPI ServiceMain(DWORD argc, char** argv);
    static void WINAPI ServiceControlHandler(DWORD code);
    static BOOL WINAPI ConsoleControlHandler(DWORD type);

private:
    // Starts a launch pass with ticket on a thread of its own; false (last error set) when the
    // thread cannot be created.
    bool StartLaunchWorker(LaunchTracker::Ticket ticket);
    // Runs work on a thread of its own; false (last error set) when the thread cannot be created.
    static bool StartThread(std::function<void()> work);
    static DWORD WINAPI RunThread(void* parameter);
};

ServiceHost& Host();
