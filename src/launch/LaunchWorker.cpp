#include "launch/LaunchWorker.h"

#include "base/Conversions.h"
#include "base/EventLog.h"
#include "base/Owners.h"
#include "base/RegistryKey.h"
#include "base/StartTimings.h"
#include "config/Application.h"
#include "config/ServiceSettings.h"
#include "launch/ActiveXServer.h"
#include "launch/StartApplication.h"
#include "launch/Supervisor.h"

#include <string>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// Starts the instances of one standard program, each tracked by the pass's ticket through the
// handle that created it. False when the pass was cancelled before one of its launches.
bool LaunchProgram(LaunchTracker& tracker, LaunchTracker::Ticket ticket, const std::string& name,
                   const Application& record, Supervisor* supervisor) {
    // A show value that does not fit a non-negative LONG is refused, as the Launch class
    // refuses it: no instance starts.
    const HANDLE job = supervisor ? supervisor->JobForNewPrograms() : nullptr;
    for (DWORD instance = 0; instance < static_cast<DWORD>(record.instances); ++instance) {
        LaunchTracker::PendingLaunch launch = tracker.BeginLaunch(ticket);
        if (!launch) return false;
        if (record.attrib < 0) continue;
        StartedProgram started;
        // A failed start has reported itself; the pass goes on with the next instance.
        if (FAILED(StartProgram(record, started, job, supervisor ? supervisor->Output() : nullptr, instance + 1)))
            continue;
        NoteStartPhase("first program created");
        if (supervisor) supervisor->Adopt(name, started);
        launch.Track(started.process.release());
    }
    return true;
}

// Starts the instances of one ActiveX server: each is created, tracked by the pass's ticket and
// has the application's configured method called. False when the pass was cancelled before
// one of its launches.
bool LaunchServer(LaunchTracker& tracker, LaunchTracker::Ticket ticket, const std::string& name,
                  const Application& record, StatusBoard* board) {
    Bstr progId(SysAllocString(record.progId.c_str()));
    for (DWORD instance = 0; instance < static_cast<DWORD>(record.instances); ++instance) {
        if (tracker.IsCancelled(ticket)) return false;
        ComPtr<IDispatch> server;
        // A server that cannot be created has reported itself; the pass goes on.
        if (FAILED(StartActiveXServer(progId.get(), server.ReleaseAndGetAddressOf()))) continue;
        // The table takes a reference of its own: a stop may release the tracked one at any
        // moment, while the pass still calls the method on it.
        server->AddRef();
        tracker.TrackServer(ticket, server.Get());
        if (board) board->Started(name, instance + 1, true, 0);
        if (tracker.IsCancelled(ticket)) return false;
        // The method's outcome is not looked at: the server stays started and tracked.
        (void)InvokeConfiguredMethod(record, server.Get());
    }
    return true;
}

}  // namespace

DWORD RunLaunchWorker(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket,
                      Supervisor* supervisor) {
    if (!IsSettingOn(keys, ServiceSetting::EnableLaunch)) return 0;
    return LaunchAllApplications(keys, tracker, ticket, supervisor);
}

DWORD LaunchAllApplications(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket,
                            Supervisor* supervisor) {
    const DWORD count = CountApplications(keys);
    if (count == 0) return 0;

    if (ticket == 0) ticket = tracker.BeginPass();
    RegistryKey modules;
    // A Modules key that cannot be opened fails the first enumeration, which ends the pass.
    (void)modules.Open(HKEY_LOCAL_MACHINE, keys.modules.c_str(), KEY_READ);

    for (DWORD index = 0; index < count; ++index) {
        std::string name;
        // A subkey deleted since the count was taken ends the pass here.
        if (!GetApplicationName(modules.get(), index, name)) return 1;
        const Application record = ReadApplication(keys, name, true);
        if (record.instances == 0) continue;

        // An ActiveX server whatever ExePath holds: its ExePath is never started.
        const bool launched = record.IsActiveX() ? LaunchServer(tracker, ticket, name, record, supervisor ? supervisor->Board() : nullptr)
                                                 : LaunchProgram(tracker, ticket, name, record, supervisor);
        if (!launched) return 1;
    }
    return 1;
}
