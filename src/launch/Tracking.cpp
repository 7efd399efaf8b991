#include "launch/Tracking.h"

#include "config/ServiceSettings.h"
#include "host/Owners.h"
#include "host/ServiceHost.h"
#include "launch/LaunchWorker.h"

#include <mutex>
#include <vector>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// The tables proper: handles and references appended in launch order.
struct ProcessTable {
    std::vector<UniqueHandle> handles;
};

struct ServerTable {
    std::vector<ComPtr<IDispatch>> servers;
};

std::mutex tablesLock;
ProcessTable processTable;
ServerTable serverTable;
LaunchTracker::Ticket currentTicket = 0;
// The ticket that the last terminating sweep cancelled up to.
LaunchTracker::Ticket terminatedBefore = 0;

void ReleaseServer(ComPtr<IDispatch>& server) {
    // A server that faults while it is released must not keep the others alive.
    try {
        server.Reset();
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

LaunchTracker::Ticket LaunchTracker::BeginPass() {
    std::lock_guard<std::mutex> guard(tablesLock);
    return ++currentTicket;
}

bool LaunchTracker::IsCancelled(Ticket ticket) {
    std::lock_guard<std::mutex> guard(tablesLock);
    return ticket != currentTicket;
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
    ComPtr<IDispatch> reference;
    reference.Attach(server);
    {
        std::lock_guard<std::mutex> guard(tablesLock);
        if (ticket >= terminatedBefore) {
            serverTable.servers.push_back(std::move(reference));
            return;
        }
    }
    ReleaseServer(reference);
}

void LaunchTracker::Cancel(bool terminate) {
    ServerTable servers;
    ProcessTable processes;
    {
        std::lock_guard<std::mutex> guard(tablesLock);
        ++currentTicket;
        if (!terminate) return;
        terminatedBefore = currentTicket;
        std::swap(servers, serverTable);
        std::swap(processes, processTable);
    }
    // Servers are released before any program is terminated.
    for (auto& server : servers.servers) ReleaseServer(server);
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
