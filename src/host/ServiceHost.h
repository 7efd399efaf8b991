// The one process-wide object of the service host: the service's identity, status and
// configuration keys, the COM server it serves, the launch tracker, and the reactions to the
// service manager's controls.
#pragma once
#include "base/Owners.h"
#include "com/ServerLifetime.h"
#include "config/ServiceKeys.h"
#include "launch/Tracking.h"

#include <windows.h>
#include <atomic>
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

    // What the launch passes started.
    LaunchTracker tracker;

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
    // Releases every tracked server, then terminates every tracked program; returns 1.
    int TerminateAllApplications();

    static void WINAPI ServiceMain(DWORD argc, char** argv);
    static void WINAPI ServiceControlHandler(DWORD code);
    static BOOL WINAPI ConsoleControlHandler(DWORD type);

private:
    // Starts a launch pass with ticket on a thread of its own; false (last error set) when the
    // thread cannot be created.
    bool StartLaunchWorker(LaunchTracker::Ticket ticket);
    static DWORD WINAPI LaunchWorkerThread(void* parameter);
};

ServiceHost& Host();
