#include "launch/Tracking.h"

#include "base/FaultGuard.h"

#include <chrono>
#include <utility>

namespace {

void EndProcess(UniqueHandle& process) {
    // A program that has already ended is passed over without notice.
    if (process) (void)TerminateProcess(process.get(), 0);
    process.reset();
}

}  // namespace

void LaunchTracker::ServerReferenceTraits::Close(IDispatch* server) {
    // A server that throws or faults while it is released must keep neither the other servers
    // from their release nor the programs from their end.
    (void)CallSurvivingFaults(
        [](void* reference) {
            try {
                static_cast<IDispatch*>(reference)->Release();
            } catch (...) {
            }
        },
        server);
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
    std::lock_guard<std::mutex> guard(lock_);
    return nextTicket_++;
}

bool LaunchTracker::IsCancelled(Ticket ticket) {
    std::lock_guard<std::mutex> guard(lock_);
    return ticket < cancelledBefore_;
}

LaunchTracker::PendingLaunch LaunchTracker::BeginLaunch(Ticket ticket) {
    std::lock_guard<std::mutex> guard(lock_);
    if (ticket < cancelledBefore_) return PendingLaunch(*this, ticket, false);
    ++launchesInFlight_[ticket];
    return PendingLaunch(*this, ticket, true);
}

void LaunchTracker::EndLaunch(Ticket ticket) {
    {
        std::lock_guard<std::mutex> guard(lock_);
        auto entry = launchesInFlight_.find(ticket);
        if (entry != launchesInFlight_.end() && --entry->second == 0) launchesInFlight_.erase(entry);
    }
    launchEnded_.notify_all();
}

void LaunchTracker::TrackProcess(Ticket ticket, HANDLE process) {
    UniqueHandle handle(process);
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (ticket >= terminatedBefore_) {
            processes_.push_back(std::move(handle));
            return;
        }
    }
    EndProcess(handle);
}

void LaunchTracker::TrackServer(Ticket ticket, IDispatch* server) {
    ServerReference reference(server);
    if (!reference) return;
    std::lock_guard<std::mutex> guard(lock_);
    if (ticket >= terminatedBefore_) servers_.push_back(std::move(reference));
    // else the reference is released on the way out, after the lock
}

void LaunchTracker::Cancel(bool terminate) {
    std::vector<ServerReference> servers;
    std::vector<UniqueHandle> processes;
    {
        std::unique_lock<std::mutex> guard(lock_);
        cancelledBefore_ = nextTicket_;
        if (!terminate) return;
        terminatedBefore_ = nextTicket_;
        // A launch in flight may have created a process that it has not tracked yet; if the
        // sweep went on without it, the process could outlive the service. Passes that begin
        // after this point are not waited for.
        launchEnded_.wait(guard, [this] {
            return launchesInFlight_.empty() || launchesInFlight_.begin()->first >= terminatedBefore_;
        });
        std::swap(servers, servers_);
        std::swap(processes, processes_);
    }
    // Servers are released before any program is terminated.
    servers.clear();
    for (auto& process : processes) EndProcess(process);
}

bool LaunchTracker::WaitForLaunchesInFlight(DWORD timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return launchEnded_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                 [this] { return launchesInFlight_.empty(); });
}

std::vector<UniqueHandle> LaunchTracker::DuplicateProcesses() {
    std::vector<UniqueHandle> copies;
    std::lock_guard<std::mutex> guard(lock_);
    for (const UniqueHandle& process : processes_) {
        HANDLE copy = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), process.get(), GetCurrentProcess(), &copy, 0, FALSE,
                            DUPLICATE_SAME_ACCESS))
            copies.emplace_back(copy);
    }
    return copies;
}

std::size_t LaunchTracker::ProcessCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return processes_.size();
}

std::size_t LaunchTracker::ServerCount() {
    std::lock_guard<std::mutex> guard(lock_);
    return servers_.size();
}
