#include "launch/Tracking.h"

#include "base/FaultGuard.h"
#include "base/Waiting.h"
#include "base/Worker.h"

#include <algorithm>
#include <chrono>
#include <memory>
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
            processes_.push_back({ticket, std::move(handle)});
            return;
        }
    }
    EndProcess(handle);
}

void LaunchTracker::TrackServer(Ticket ticket, IDispatch* server) {
    ServerReference reference(server);
    if (!reference) return;
    std::lock_guard<std::mutex> guard(lock_);
    if (ticket >= terminatedBefore_) servers_.push_back({ticket, std::move(reference)});
    // else the reference is released on the way out, after the lock
}

void LaunchTracker::Cancel(bool terminate) {
    if (terminate) {
        (void)Sweep(BeginTermination(), SweepBounds{}, {});
        return;
    }
    std::lock_guard<std::mutex> guard(lock_);
    cancelledBefore_ = nextTicket_;
}

LaunchTracker::Ticket LaunchTracker::BeginTermination() {
    std::lock_guard<std::mutex> guard(lock_);
    cancelledBefore_ = nextTicket_;
    terminatedBefore_ = nextTicket_;
    return terminatedBefore_;
}

LaunchTracker::SweepOutcome LaunchTracker::Sweep(Ticket mark, const SweepBounds& bounds,
                                                 const std::function<void()>& progress) {
    const auto tick = [&progress] {
        if (progress) progress();
        return true;
    };
    // A stop that comes while a pause's sweep runs waits for it (it is bounded too), so that the
    // service does not end while the programs that sweep took are still to be terminated.
    std::unique_lock<std::timed_mutex> serial(sweeping_, std::defer_lock);
    while (!serial.try_lock_for(std::chrono::milliseconds(kWaitTickMs))) tick();

    SweepOutcome outcome;
    // A launch in flight may have created a process that it has not tracked yet; if the sweep
    // went on without it, the process could outlive the service. One that takes longer than
    // its bound is passed over: what it tracks later is ended at once.
    outcome.launchesLeft = !WaitForLaunchesBefore(mark, bounds.launchesMs, tick);
    std::vector<ServerReference> servers;
    std::vector<UniqueHandle> processes;
    TakeBefore(mark, servers, processes);

    // Servers are released before any program is terminated, on a thread of their own: a
    // server that never answers (hung in its Release, or its process suspended) holds only
    // that thread. Without a thread the release is made here.
    if (!servers.empty()) {
        auto owned = std::make_shared<std::vector<ServerReference>>(std::move(servers));
        // The worker is a member of the multithreaded apartment, in which the references were
        // taken; one that is abandoned keeps its share of them.
        Worker releasing;
        if (releasing.Start([owned](HANDLE) { owned->clear(); /* in the order they were tracked */ }))
            outcome.serversLeft = WaitForAllWithin({releasing.Thread()}, bounds.serversMs, tick) > 0;
        else
            owned->clear();
    }

    // Termination is asynchronous: the sweep waits until the programs have ended, so that
    // whoever reports their exits finds them ended.
    std::vector<HANDLE> ending;
    for (UniqueHandle& process : processes) {
        if (!process) continue;
        (void)TerminateProcess(process.get(), 0);  // one that has already ended is passed over
        ending.push_back(process.get());
    }
    outcome.programsLeft = WaitForAllWithin(ending, bounds.exitsMs, tick);
    return outcome;
}

bool LaunchTracker::WaitForLaunchesBefore(Ticket mark, DWORD boundMs, const std::function<void()>& progress) {
    const ULONGLONG deadline = GetTickCount64() + boundMs;
    std::unique_lock<std::mutex> guard(lock_);
    const auto noneBefore = [this, mark] {
        return launchesInFlight_.empty() || launchesInFlight_.begin()->first >= mark;
    };
    for (;;) {
        const ULONGLONG now = GetTickCount64();
        if (noneBefore()) return true;
        if (now >= deadline) return false;
        const ULONGLONG slice = std::min<ULONGLONG>(deadline - now, kWaitTickMs);
        if (launchEnded_.wait_for(guard, std::chrono::milliseconds(slice), noneBefore)) return true;
        guard.unlock();
        if (progress) progress();
        guard.lock();
    }
}

void LaunchTracker::TakeBefore(Ticket mark, std::vector<ServerReference>& servers,
                               std::vector<UniqueHandle>& processes) {
    std::lock_guard<std::mutex> guard(lock_);
    const auto take = [mark](auto& table, auto& taken) {
        const auto before = std::stable_partition(table.begin(), table.end(),
                                                  [mark](const auto& entry) { return entry.ticket >= mark; });
        for (auto entry = before; entry != table.end(); ++entry) taken.push_back(std::move(entry->resource));
        table.erase(before, table.end());
    };
    take(servers_, servers);
    take(processes_, processes);
}

bool LaunchTracker::WaitForLaunchesInFlight(DWORD timeoutMs) {
    std::unique_lock<std::mutex> guard(lock_);
    return launchEnded_.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                 [this] { return launchesInFlight_.empty(); });
}

std::vector<UniqueHandle> LaunchTracker::DuplicateProcesses() {
    std::vector<UniqueHandle> copies;
    std::lock_guard<std::mutex> guard(lock_);
    for (const auto& entry : processes_) {
        HANDLE copy = nullptr;
        if (DuplicateHandle(GetCurrentProcess(), entry.resource.get(), GetCurrentProcess(), &copy, 0, FALSE,
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
