// What the launch engine started, and the reactions of the service to stop, pause and
// continue requests.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <cstddef>

// One lock guards both tables. A launch pass takes a ticket when it begins; a stop or pause
// cancels every pass that began before it, so the pass ends before its next launch. A launch
// in flight (between the check for cancellation and the tracking of what it started) holds a
// mark that a terminating sweep waits for; whatever a cancelled pass tracks after the sweep is
// ended at once. So nothing a pass started survives a stop or pause that terminates
// applications, even when the process ends right after the stop.
class LaunchTracker {
public:
    using Ticket = std::uint64_t;

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

    std::size_t ProcessCount();
    std::size_t ServerCount();

private:
    void EndLaunch(Ticket ticket);
};

LaunchTracker& Tracker();

// Releases every tracked server, then terminates every tracked program; returns 1.
int TerminateAllApplications();

// The reactions called by the service control handler and by the tray menu; each returns 1.
int OnServiceStop();
int OnServicePause();
int OnServiceContinue();
