// The running service's live status, published below its service key in a volatile key (gone
// at the next boot, removed when the service stops) so that any tool can read it without
// talking to the service. Only the service writes it, through one StatusBoard; it is readable
// by whoever may read the configuration.
//
// Layout: the Status key holds the service's State (its SERVICE_* state), ProcessId and Started;
// its subkey Instances holds one numbered subkey per instance of an application with the values
// Application, Instance (from 1), Kind ("program" or "activex"), State, ProcessId, Started,
// Restarts and, once it has ended, LastExitCode and LastExit; NextRestart while a restart is
// due. Times are UTC, as "2026-12-10T10:15:00Z".
#pragma once
#include "config/ServiceKeys.h"

#include <windows.h>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

enum class InstanceState { Running, WaitingToRestart, GivenUp, Ended, Created };
// "running", "waiting to restart", "given up", "ended", "created" (an ActiveX server).
const char* InstanceStateName(InstanceState state);

struct InstanceStatus {
    std::string application;
    DWORD instance = 0;
    bool activeX = false;
    DWORD processId = 0;
    std::string started;
    std::string state;
    DWORD restarts = 0;
    std::optional<DWORD> lastExitCode;
    std::string lastExit;
    std::string nextRestart;
};

struct LiveStatus {
    bool published = false;  // false: the service is not running (or publishes nothing)
    DWORD state = 0;
    DWORD processId = 0;
    std::string started;
    std::vector<InstanceStatus> instances;  // by application, then instance
};

// The time now plus laterMs, as the status writes it.
std::string UtcText(ULONGLONG laterMs = 0);

// Reads what the service has published.
LiveStatus ReadLiveStatus(const ServiceKeys& keys);

class StatusBoard {
public:
    explicit StatusBoard(const ServiceKeys& keys) : keys_(keys) {}

    // Begins afresh for the service's process (nothing when PublishStatus is 0).
    void Open(DWORD processId);
    void ServiceState(DWORD state);
    // Removes the whole status: nothing is listed once the service has stopped.
    void Close();
    bool IsOpen();

    // An instance started by a pass (its restarts counted from 0), or started again.
    void Started(const std::string& application, DWORD instance, bool activeX, DWORD processId);
    void Restarted(const std::string& application, DWORD instance, DWORD processId);
    // Its program ended with code; what follows is next (restartInMs: when it is started again).
    void Exited(const std::string& application, DWORD instance, DWORD code, InstanceState next,
                DWORD restartInMs = 0);
    // The servers of the ActiveX applications have been released.
    void ServersEnded();

private:
    using Key = std::pair<std::string, DWORD>;
    void Write(const InstanceStatus& status, DWORD slot);

    const ServiceKeys& keys_;
    std::mutex mutex_;  // guards what follows and orders the writes
    bool open_ = false;
    std::map<Key, std::pair<InstanceStatus, DWORD>> instances_;  // with its numbered subkey
};
