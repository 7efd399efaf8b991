#include "launch/LaunchWorker.h"

#include "config/AppCatalog.h"
#include "config/Conversions.h"
#include "config/LaunchObject.h"
#include "config/RegistryKey.h"
#include "config/ServiceSettings.h"
#include "host/Owners.h"
#include "host/ServiceHost.h"
#include "launch/ActiveXServer.h"
#include "launch/Tracking.h"

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

BSTR ToBstrText(const std::string& text) {
    int length = MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0);
    BSTR converted = SysAllocStringLen(nullptr, static_cast<UINT>(length));
    if (converted && length > 0)
        MultiByteToWideChar(CP_ACP, 0, text.c_str(), static_cast<int>(text.size()), converted, length);
    return converted;
}

// Starts the instances of one standard program, each tracked by the pass's ticket. False when
// the pass was cancelled before one of its launches.
bool LaunchProgram(LaunchTracker::Ticket ticket, LaunchObject* launcher, const ApplicationValues& values) {
    Bstr path(ToBstrText(values.exePath));
    Variant arguments;
    arguments.get()->vt = VT_BSTR;
    arguments.get()->bstrVal = ToBstrText(values.cmdLineArgs);
    Variant show;
    show.get()->vt = VT_I4;
    show.get()->lVal = static_cast<LONG>(values.attrib);
    Variant startDir;
    startDir.get()->vt = VT_BSTR;
    startDir.get()->bstrVal = ToBstrText(values.startDir);

    for (DWORD instance = 0; instance < values.instances; ++instance) {
        LaunchTracker::PendingLaunch launch = Tracker().BeginLaunch(ticket);
        if (!launch) return false;
        DWORD processId = 0;
        // A failed start has reported itself; the pass goes on with the next instance.
        if (FAILED(launcher->StartApplication(path.get(), *arguments.get(), *show.get(), *startDir.get(),
                                              &processId)) ||
            processId == 0)
            continue;
        // A program that cannot be opened for termination keeps running untracked.
        launch.Track(OpenProcess(PROCESS_TERMINATE, FALSE, processId));
    }
    return true;
}

// Starts the instances of one ActiveX server: each is created, tracked by the pass's ticket and
// has the application's configured method called. False when the pass was cancelled before
// one of its launches.
bool LaunchServer(LaunchTracker::Ticket ticket, LaunchObject* launcher, AppCatalog* catalog, const std::string& name,
                  const ApplicationValues& values) {
    Bstr progId(ToBstr(values.progId));
    Bstr appName(ToBstr(name));
    for (DWORD instance = 0; instance < values.instances; ++instance) {
        if (Tracker().IsCancelled(ticket)) return false;
        ComPtr<IDispatch> server;
        // A server that cannot be created has reported itself; the pass goes on.
        if (FAILED(launcher->StartActiveXServer(progId.get(), server.ReleaseAndGetAddressOf()))) continue;
        // The table takes a reference of its own: a stop may release the tracked one at any
        // moment, while the pass still calls the method on it.
        server->AddRef();
        Tracker().TrackServer(ticket, server.Get());
        if (Tracker().IsCancelled(ticket)) return false;
        // The method's outcome is not looked at: the server stays started and tracked.
        (void)InvokeConfiguredMethod(catalog, server.Get(), appName.get());
    }
    return true;
}

}  // namespace

DWORD WINAPI RunLaunchWorker(void* ticket) {
    if (!IsSettingOn(ServiceSetting::EnableLaunch)) return 0;
    AppCatalog catalog;
    return LaunchAllApplications(&catalog, static_cast<LaunchTracker::Ticket>(reinterpret_cast<UINT_PTR>(ticket)));
}

DWORD LaunchAllApplications(AppCatalog* catalog, LaunchTracker::Ticket ticket) {
    const DWORD count = CountApplications();
    if (count == 0) return 0;

    // The catalogue serves only to load an ActiveX application's method; the Launch object
    // starts both kinds of application, in-process.
    AppCatalog ownCatalog;
    if (!catalog) catalog = &ownCatalog;
    ComPtr<LaunchObject> launcher;
    if (FAILED(NewInstance(launcher))) return 1;

    if (ticket == 0) ticket = Tracker().BeginPass();
    const std::string& modulesPath = Host().modulesKeyPath;
    RegistryKey modules;
    // A Modules key that cannot be opened fails the first enumeration, which ends the pass.
    (void)modules.Open(HKEY_LOCAL_MACHINE, modulesPath.c_str(), KEY_READ);

    for (DWORD index = 0; index < count; ++index) {
        std::string name;
        // A subkey deleted since the count was taken ends the pass here.
        if (!GetApplicationName(modules.get(), index, name)) return 1;
        const ApplicationValues values = ReadApplicationValues(modulesPath + "\\" + name);
        if (values.instances == 0) continue;

        // An ActiveX server whatever ExePath holds: its ExePath is never started.
        const bool launched = values.progId.empty() ? LaunchProgram(ticket, launcher.Get(), values)
                                                    : LaunchServer(ticket, launcher.Get(), catalog, name, values);
        if (!launched) return 1;
    }
    return 1;
}
