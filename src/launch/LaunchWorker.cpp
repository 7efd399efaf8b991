#include "launch/LaunchWorker.h"

#include "base/Conversions.h"
#include "base/EventLog.h"
#include "base/Owners.h"
#include "base/RegistryKey.h"
#include "config/AppCatalog.h"
#include "config/ServiceSettings.h"
#include "launch/ActiveXServer.h"
#include "launch/StartApplication.h"
#include "launch/Supervisor.h"

#include <string>
#include <wrl/client.h>

using Microsoft::WRL::ComPtr;

namespace {

// The values of an ActiveX application that its method call uses (the catalogue loads them).
constexpr const char* kMethodValues[] = {
    "MethodName", "ParamOne", "ParamOneType", "ParamTwo", "ParamTwoType",
    "ParamThree", "ParamThreeType", "ParamFour", "ParamFourType"};

// Reads the values of one application's open subkey. A value of the wrong type or size counts
// as missing; when asked to, the reader reports it, naming the application and the value.
class ValueReader {
public:
    ValueReader(HKEY key, const std::string& application, bool report)
        : key_(key), application_(application), report_(report) {}

    void Number(const char* name, DWORD& value) const {
        Check(name, ReadDword(key_, name, value), "a REG_DWORD of 4 bytes");
    }
    void Text(const char* name, std::string& value) const {
        Check(name, ReadText(key_, name, value), "a REG_SZ or REG_EXPAND_SZ text");
    }

private:
    void Check(const char* name, ValueRead found, const char* expected) const {
        if (!report_ || (found != ValueRead::WrongType && found != ValueRead::TooLong)) return;
        const std::string what = found == ValueRead::TooLong
                                     ? "is longer than " + std::to_string(kMaxValueText) + " characters"
                                     : std::string("is not ") + expected;
        LogEventText("Application \"" + application_ + "\": value \"" + name + "\" " + what +
                     "; it counts as missing.");
    }

    HKEY key_;
    const std::string& application_;
    bool report_;
};

}  // namespace

ApplicationValues ReadApplicationValues(const ServiceKeys& keys, const std::string& name, bool reportFaults) {
    ApplicationValues values;
    RegistryKey key;
    // A subkey that cannot be opened reads as an application without values.
    if (key.Open(HKEY_LOCAL_MACHINE, keys.Application(name).c_str(), KEY_READ) != ERROR_SUCCESS) return values;
    const ValueReader read(key.get(), name, reportFaults);
    read.Number("Instances", values.instances);
    read.Number("Attrib", values.attrib);
    read.Text("ExePath", values.exePath);
    read.Text("CmdLineArgs", values.cmdLineArgs);
    read.Text("StartDir", values.startDir);
    read.Text("ProgId", values.progId);
    // The catalogue loads the method's values for the call; they are checked here, once.
    if (reportFaults && !values.progId.empty()) {
        std::string unused;
        for (const char* value : kMethodValues) read.Text(value, unused);
    }
    return values;
}

namespace {

// Starts the instances of one standard program, each tracked by the pass's ticket through the
// handle that created it. False when the pass was cancelled before one of its launches.
bool LaunchProgram(LaunchTracker& tracker, LaunchTracker::Ticket ticket, const std::string& name,
                   const ApplicationValues& values, Supervisor* supervisor) {
    // A show value that does not fit a non-negative LONG is refused, as the Launch class
    // refuses it: no instance starts.
    const LONG show = static_cast<LONG>(values.attrib);
    const HANDLE job = supervisor ? supervisor->JobForNewPrograms() : nullptr;
    for (DWORD instance = 0; instance < values.instances; ++instance) {
        LaunchTracker::PendingLaunch launch = tracker.BeginLaunch(ticket);
        if (!launch) return false;
        if (show < 0) continue;
        StartedProgram started;
        // A failed start has reported itself; the pass goes on with the next instance.
        if (FAILED(StartProgram(values.exePath, values.cmdLineArgs, show, values.startDir, started, job)))
            continue;
        if (supervisor) supervisor->Adopt(name, started);
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

DWORD RunLaunchWorker(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket,
                      Supervisor* supervisor) {
    if (!IsSettingOn(keys, ServiceSetting::EnableLaunch)) return 0;
    return LaunchAllApplications(keys, tracker, ticket, nullptr, supervisor);
}

DWORD LaunchAllApplications(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket,
                            AppCatalog* catalog, Supervisor* supervisor) {
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
        const ApplicationValues values = ReadApplicationValues(keys, name, true);
        if (values.instances == 0) continue;

        // An ActiveX server whatever ExePath holds: its ExePath is never started.
        const bool launched = values.progId.empty() ? LaunchProgram(tracker, ticket, name, values, supervisor)
                                                    : LaunchServer(tracker, ticket, catalog, name, values);
        if (!launched) return 1;
    }
    return 1;
}
