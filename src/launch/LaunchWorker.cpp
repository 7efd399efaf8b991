#include "launch/LaunchWorker.h"

#include "base/Conversions.h"
#include "base/Owners.h"
#include "base/RegistryKey.h"
#include "config/AppCatalog.h"
#include "config/ServiceSettings.h"
#include "launch/ActiveXServer.h"
#include "launch/StartApplication.h"

#include <string>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// The values of one application that the pass reads, each with its meaning when missing.
struct ApplicationValues {
    DWORD instances = 0;
    DWORD attrib = 0;
    std::string exePath;
    std::string cmdLineArgs;
    std::string startDir;
    std::string progId;
};

ApplicationValues ReadApplicationValues(const std::string& keyPath) {
    ApplicationValues values;
    ReadDwordValue(keyPath, "Instances", &values.instances);
    ReadDwordValue(keyPath, "Attrib", &values.attrib);
    values.exePath = ReadTextValue(keyPath, "ExePath");
    values.cmdLineArgs = ReadTextValue(keyPath, "CmdLineArgs");
    values.startDir = ReadTextValue(keyPath, "StartDir");
    values.progId = ReadTextValue(keyPath, "ProgId");
    return values;
}

// Starts the instances of one standard program, each tracked by the pass's ticket through the
// handle that created it. False when the pass was cancelled before one of its launches.
bool LaunchProgram(LaunchTracker& tracker, LaunchTracker::Ticket ticket, const ApplicationValues& values) {
    // A show value that does not fit a non-negative LONG is refused, as the Launch class
    // refuses it: no instance starts.
    const LONG show = static_cast<LONG>(values.attrib);
    for (DWORD instance = 0; instance < values.instances; ++instance) {
        LaunchTracker::PendingLaunch launch = tracker.BeginLaunch(ticket);
        if (!launch) return false;
        if (show < 0) continue;
        StartedProgram started;
        // A failed start has reported itself; the pass goes on with the next instance.
        if (FAILED(StartProgram(values.exePath, values.cmdLineArgs, show, values.startDir, started)))
            continue;
        launch.Track(started.process.release());
    }
    return true;
}

// Starts the instances of one ActiveX server: each is created, tracked by the pass's ticket and
// has the application's configured method called. False when the pass was cancelled before
// one of its launches.
bool LaunchServer(LaunchTracker& tracker, LaunchTracker::Ticket ticket, AppCatalog* catalog, const std::string& name,
                  const ApplicationValues& values) {
    Bstr progId(ToBstr(values.progId));
    Bstr appName(ToBstr(name));
    for (DWORD instance = 0; instance < values.instances; ++instance) {
        if (tracker.IsCancelled(ticket)) return false;
        ComPtr<IDispatch> server;
        // A server that cannot be created has reported itself; the pass goes on.
        if (FAILED(StartActiveXServer(progId.get(), server.ReleaseAndGetAddressOf()))) continue;
        // The table takes a reference of its own: a stop may release the tracked one at any
        // moment, while the pass still calls the method on it.
        server->AddRef();
        tracker.TrackServer(ticket, server.Get());
        if (tracker.IsCancelled(ticket)) return false;
        // The method's outcome is not looked at: the server stays started and tracked.
        (void)InvokeConfiguredMethod(catalog, server.Get(), appName.get());
    }
    return true;
}

}  // namespace

DWORD RunLaunchWorker(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket) {
    if (!IsSettingOn(keys, ServiceSetting::EnableLaunch)) return 0;
    return LaunchAllApplications(keys, tracker, ticket);
}

DWORD LaunchAllApplications(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket,
                            AppCatalog* catalog) {
    const DWORD count = CountApplications(keys);
    if (count == 0) return 0;

    // The catalogue serves only to load an ActiveX application's method.
    AppCatalog ownCatalog(keys);
    if (!catalog) catalog = &ownCatalog;

    if (ticket == 0) ticket = tracker.BeginPass();
    RegistryKey modules;
    // A Modules key that cannot be opened fails the first enumeration, which ends the pass.
    (void)modules.Open(HKEY_LOCAL_MACHINE, keys.modules.c_str(), KEY_READ);

    for (DWORD index = 0; index < count; ++index) {
        std::string name;
        // A subkey deleted since the count was taken ends the pass here.
        if (!GetApplicationName(modules.get(), index, name)) return 1;
        const ApplicationValues values = ReadApplicationValues(keys.Application(name));
        if (values.instances == 0) continue;

        // An ActiveX server whatever ExePath holds: its ExePath is never started.
        const bool launched = values.progId.empty() ? LaunchProgram(tracker, ticket, values)
                                                    : LaunchServer(tracker, ticket, catalog, name, values);
        if (!launched) return 1;
    }
    return 1;
}
