// What the launch engine started: the tables of launched programs and servers.
#pragma once
#include "base/Owners.h"

#include <windows.h>
#include <oaidl.h>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

// One lock guards both tables. A launch pass takes a ticket when it begins; a stop or pause
// cancels every pass that began before it, so the pass ends before its next launch. A launch
// in flight (between the check for cancellation and the tracking of what it started) holds a
// mark that a terminating sweep waits for; whatever a cancelled pass tracks after the sweep is
// ended at once. So nothing a pass started survives a stop or pause that terminates
// applications, even when the process ends right after the stop.
//
// Every wait of a sweep has a bound, whatever a program or a server does: a launch in flight that
// does not end in time is passed over (what it tracks later is ended at once), the servers are
// released on a thread of their own that is abandoned when it does not finish in time (a server
// that never answers holds that thread only, which the process's end takes along), and the
// programs are terminated whether or not that release has finished.
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

    // The bounds of a sweep's three waits, in milliseconds.
    struct SweepBounds {
        DWORD launchesMs = 5000;  // for the launches in flight to track what they started
        DWORD serversMs = 5000;   // for the tracked servers to be released
        DWORD exitsMs = 5000;     // for the terminated programs to have ended
    };
    // What a sweep left behind when a bound ran out.
    struct SweepOutcome {
        bool launchesLeft = false;     // a launch was still in flight
        bool serversLeft = false;      // the release of the servers had not finished
        std::size_t programsLeft = 0;  // terminated programs that had not ended yet
    };

    // Ends every pass in progress; with terminate, sweeps as Sweep(BeginTermination()) does
    // with the default bounds.
    void Cancel(bool terminate);
    // Ends every pass in progress and marks what they started for the sweep: what those passes
    // track from now on is ended at once. Returns the mark for Sweep; passes that begin later
    // are not affected.
    Ticket BeginTermination();
    // Ends what the passes before mark started: waits for their launches in flight, releases
    // their servers and then terminates their processes with exit code 0 and waits until they
    // have ended, each wait within its bound, calling progress about once a second while it
    // waits. Sweeps run one after the other.
    SweepOutcome Sweep(Ticket mark, const SweepBounds& bounds, const std::function<void()>& progress);

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

    // A table entry, with the ticket of the pass that tracked it.
    template <class Resource>
    struct Tracked {
        Ticket ticket;
        Resource resource;
    };

    void EndLaunch(Ticket ticket);
    // Waits until no launch of a pass before mark is in flight, or the bound has passed.
    bool WaitForLaunchesBefore(Ticket mark, DWORD boundMs, const std::function<void()>& progress);
    // Takes out of the tables what the passes before mark tracked.
    void TakeBefore(Ticket mark, std::vector<ServerReference>& servers, std::vector<UniqueHandle>& processes);

    std::timed_mutex sweeping_;  // held by the sweep in progress
    std::mutex lock_;  // guards everything below
    std::condition_variable launchEnded_;
    std::vector<Tracked<UniqueHandle>> processes_;  // in launch order
    std::vector<Tracked<ServerReference>> servers_;
    Ticket nextTicket_ = 1;
    // Passes that began before the last stop or pause are cancelled; those that began before
    // the last terminating one have what they track ended at once.
    Ticket cancelledBefore_ = 0;
    Ticket terminatedBefore_ = 0;
    // Launches in flight, counted by the ticket of their pass.
    std::map<Ticket, unsigned> launchesInFlight_;
};
