// What the launch engine started, and the reactions of the service to stop, pause and
// continue requests.
#pragma once
#include <windows.h>
#include <oaidl.h>
#include <cstdint>
#include <cstddef>

// One lock guards both tables. A launch pass takes a ticket when it begins; a stop or pause
// cancels every pass that holds an older ticket, so the pass ends before its next launch. A
// process or server that a cancelled pass appends after a terminating sweep is ended at once,
// so nothing a pass started survives a stop or pause that terminates applications.
class LaunchTracker {
public:
    using Ticket = std::uint64_t;

    Ticket BeginPass();
    bool IsCancelled(Ticket ticket);

    // Take ownership of a process handle opened for termination / of one server reference.
    void TrackProcess(Ticket ticket, HANDLE process);
    void TrackServer(Ticket ticket, IDispatch* server);

    // Ends every pass in progress; with terminate, releases every tracked server and then
    // terminates every tracked process with exit code 0, and empties both tables.
    void Cancel(bool terminate);

    std::size_t ProcessCount();
    std::size_t ServerCount();
};

LaunchTracker& Tracker();

// Releases every tracked server, then terminates every tracked program; returns 1.
int TerminateAllApplications();

// The reactions called by the service control handler and by the tray menu; each returns 1.
int OnServiceStop();
int OnServicePause();
int OnServiceContinue();
