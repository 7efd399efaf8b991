// What the launch engine started: the tables of launched programs and servers.
#pragma once
#include "base/Owners.h"

#include <windows.h>
#include <oaidl.h>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <vector>

// One lock guards both tables. A launch pass takes a ticket when it begins; a stop or pause
// cancels every pass that began before it, so the pass ends before its next launch. A launch
// in flight (between the check for cancellation and the tracking of what it started) holds a
// mark that a terminating sweep waits for; whatever a cancelled pass tracks after the sweep is
// ended at once. So nothing a pass started survives a stop or pause that terminates
// applications, even when the process ends right after the stop.
class LaunchTracker {
public:
    using Ticket = std::uint64_t;

    LaunchTracker() = default;
    LaunchTracker(const LaunchTracker&) = delete;
    LaunchTracker& operator=(const LaunchTracker&) = delete;
    // Going away ends nothing: the programs keep running and the server references are
    // released. Call Cancel(true) first to end what is tracked.
    ~LaunchTracker() = default;

    // One launch in flight. It is false when its pass is cancelled: nothing may be launched
    // then. Hold it only around short steps (creating one process and opening it): a
    // terminating sweep waits until it goes.
    class PendingLaunch {
    public:
        PendingLaunch(PendingLaunch&& other) noexcept;
        PendingLaunch(const PendingLaunch&) = delete;
        PendingLaunch& operator=(const PendingLaunch&) = delete;
        PendingLaunch& operator=(PendingLaunch&&) = delete;
        ~PendingLaunch();

        explicit operator bool() const { return inFlight_; }
        // Takes ownership of a process handle opened for termination (null: nothing started).
        void Track(HANDLE process);

    private:
        friend class LaunchTracker;
        PendingLaunch(LaunchTracker& tracker, Ticket ticket, bool inFlight)
            : tracker_(&tracker), ticket_(ticket), inFlight_(inFlight) {}
        LaunchTracker* tracker_;
        Ticket ticket_;
        bool inFlight_;
    };

    Ticket BeginPass();
    bool IsCancelled(Ticket ticket);
    [[nodiscard]] PendingLaunch BeginLaunch(Ticket ticket);

    // Take ownership of a process handle opened for termination / of one server reference.
    void TrackProcess(Ticket ticket, HANDLE process);
    void TrackServer(Ticket ticket, IDispatch* server);

    // Ends every pass in progress; with terminate, waits for the launches in flight, releases
    // every tracked server and then terminates every tracked process with exit code 0, and
    // empties both tables.
    void Cancel(bool terminate);

    // Waits up to timeoutMs until no launch is in flight; true when none is.
    bool WaitForLaunchesInFlight(DWORD timeoutMs);

    // Copies of the tracked process handles, each with the access it was tracked with, for a
    // caller that waits for the programs without holding the lock.
    std::vector<UniqueHandle> DuplicateProcesses();

    std::size_t ProcessCount();
    std::size_t ServerCount();

private:
    // One counted server reference. (Not ComPtr: its Attach adds a reference of its own.)
    struct ServerReferenceTraits {
        using Type = IDispatch*;
        static Type Invalid() { return nullptr; }
        static bool IsValid(Type server) { return server != nullptr; }
        static void Close(Type server);
    };
    using ServerReference = UniqueResource<ServerReferenceTraits>;

    void EndLaunch(Ticket ticket);

    std::mutex lock_;  // guards everything below
    std::condition_variable launchEnded_;
    std::vector<UniqueHandle> processes_;  // in launch order
    std::vector<ServerReference> servers_;
    Ticket nextTicket_ = 1;
    // Passes that began before the last stop or pause are cancelled; those that began before
    // the last terminating one have what they track ended at once.
    Ticket cancelledBefore_ = 0;
    Ticket terminatedBefore_ = 0;
    // Launches in flight, counted by the ticket of their pass.
    std::map<Ticket, unsigned> launchesInFlight_;
};
