#include "launch/Tracking.h"

#include "config/ServiceSettings.h"
#include "host/Owners.h"
#include "host/ServiceHost.h"
#include "launch/LaunchWorker.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <utility>
#include <vector>

namespace {

// The tables proper: handles and references appended in launch order.
struct ProcessTable {
    std::vector<UniqueHandle> handles;
};

// Each entry holds one counted reference. (Not ComPtr: its Attach adds a reference of its own,
// and its release may not throw.)
struct ServerTable {
    std::vector<IDispatch*> servers;
};

std::mutex tablesLock;
std::condition_variable launchEnded;
ProcessTable processTable;
ServerTable serverTable;
LaunchTracker::Ticket nextTicket = 1;
// Passes that began before the last stop or pause are cancelled; those that began before the
// last terminating one have what they track ended at once.
LaunchTracker::Ticket cancelledBefore = 0;
LaunchTracker::Ticket terminatedBefore = 0;
// Launches in flight, counted by the ticket of their pass.
std::map<LaunchTracker::Ticket, unsigned> launchesInFlight;

void ReleaseServer(IDispatch* server) {
    // A server that throws while it is released must not keep the others alive.
    if (!server) return;
    try {
        server->Release();
    } catch (...) {
    }
}

void EndProcess(UniqueHandle& process) {
    // A program that has already ended is passed over without notice.
    if (process) (void)TerminateProcess(process.get(), 0);
    process.reset();
}

}  // namespace

LaunchTracker& Tracker() {
    static LaunchTracker tracker;
    return tracker;
}

LaunchTracker::PendingLaunch::PendingLaunch(PendingLaunch&& other) noexcept
    : tracker_(other.tracker_), ticket_(other.ticket_), inFlight_(std::exchange(other.inFlight_, false)) {}

LaunchTracker::PendingLaunch::~PendingLaunch() {
    if (inFlight_) tracker_->EndLaunch(ticket_);
}

void LaunchTracker::PendingLaunch::Track(HANDLE process) {
    if (process) tracker_->TrackProcess(ticket_, process);
}

LaunchTracker::Ticket LaunchTracker::BeginPass() {
    std::lock_guard<std::mutex> guard(tablesLock);
    return nextTicket++;
}

bool LaunchTracker::IsCancelled(Ticket ticket) {
    std::lock_guard<std::mutex> guard(tablesLock);
    return ticket < cancelledBefore;
}

LaunchTracker::PendingLaunch LaunchTracker::BeginLaunch(Ticket ticket) {
    std::lock_guard<std::mutex> guard(tablesLock);
    if (ticket < cancelledBefore) return PendingLaunch(*this, ticket, false);
    ++launchesInFlight[ticket];
    return PendingLaunch(*this, ticket, true);
}

void LaunchTracker::EndLaunch(Ticket ticket) {
    {
        std::lock_guard<std::mutex> guard(tablesLock);
        auto entry = launchesInFlight.find(ticket);
        if (entry != launchesInFlight.end() && --entry->second == 0) launchesInFlight.erase(entry);
    }
    launchEnded.notify_all();
}

void LaunchTracker::TrackProcess(Ticket ticket, HANDLE process) {
    UniqueHandle handle(process);
    {
        std::lock_guard<std::mutex> guard(tablesLock);
        if (ticket >= terminatedBefore) {
            processTable.handles.push_back(std::move(handle));
            return;
        }
    }
    EndProcess(handle);
}

void LaunchTracker::TrackServer(Ticket ticket, IDispatch* server) {
    if (!server) return;
    {
        std::lock_guard<std::mutex> guard(tablesLock);
        if (ticket >= terminatedBefore) {
            serverTable.servers.push_back(server);
            return;
        }
    }
    ReleaseServer(server);
}

void LaunchTracker::Cancel(bool terminate) {
    ServerTable servers;
    ProcessTable processes;
    {
        std::unique_lock<std::mutex> guard(tablesLock);
        cancelledBefore = nextTicket;
        if (!terminate) return;
        terminatedBefore = nextTicket;
        // A launch in flight may have created a process that it has not tracked yet; if the
        // sweep went on without it, the process could outlive the service. Passes that begin
        // after this point are not waited for.
        launchEnded.wait(guard, [] {
            return launchesInFlight.empty() || launchesInFlight.begin()->first >= terminatedBefore;
        });
        std::swap(servers, serverTable);
        std::swap(processes, processTable);
    }
    // Servers are released before any program is terminated.
    for (IDispatch* server : servers.servers) ReleaseServer(server);
    for (auto& process : processes.handles) EndProcess(process);
}

std::size_t LaunchTracker::ProcessCount() {
    std::lock_guard<std::mutex> guard(tablesLock);
    return processTable.handles.size();
}

std::size_t LaunchTracker::ServerCount() {
    std::lock_guard<std::mutex> guard(tablesLock);
    return serverTable.servers.size();
}

int TerminateAllApplications() {
    Tracker().Cancel(true);
    return 1;
}

int OnServicePause() {
    ServiceHost& host = Host();
    host.SetServiceState(SERVICE_PAUSE_PENDING);
    if (IsSettingOn(ServiceSetting::TerminateOnPause))
        TerminateAllApplications();
    else
        Tracker().Cancel(false);
    host.SetServiceState(SERVICE_PAUSED);
    return 1;
}

int OnServiceStop() {
    Host().SetServiceState(SERVICE_STOP_PENDING);
    if (IsSettingOn(ServiceSetting::TerminateOnStop))
        TerminateAllApplications();
    else
        Tracker().Cancel(false);
    return 1;
}

int OnServiceContinue() {
    ServiceHost& host = Host();
    host.SetServiceState(SERVICE_CONTINUE_PENDING);
    if (IsSettingOn(ServiceSetting::RelaunchOnContinue)) (void)RunLaunchWorker(nullptr);
    host.SetServiceState(SERVICE_RUNNING);
    return 1;
}
