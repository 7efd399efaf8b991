#include "host/EntryPoint.h"

#include "base/MessageBox.h"
#include "base/ProgramName.h"
#include "base/RegistryKey.h"
#include "base/StartTimings.h"
#include "host/Installation.h"
#include "host/Security.h"
#include "host/ServiceHost.h"
#include "host/UserInterface.h"
#include "Guids.h"
#include "resource.h"

#include <iterator>
#include <optional>

namespace {

enum class Action { Help, Install, Remove, InstallService, RemoveService, InstallComServer, RemoveComServer,
                    Configure, Tray, Embedding };

// The action of each option of kProgramOptions, in its order.
constexpr Action kActions[] = {Action::Help,           Action::Install,         Action::Remove,
                               Action::InstallService, Action::RemoveService,   Action::InstallComServer,
                               Action::RemoveComServer, Action::Configure,      Action::Tray,
                               Action::Embedding,      Action::Embedding};
static_assert(std::size(kActions) == std::size(kProgramOptions), "every option has its action");

std::optional<Action> MatchOption(const char* remainder) {
    for (std::size_t index = 0; index < std::size(kProgramOptions); ++index)
        if (lstrcmpiA(remainder, kProgramOptions[index]) == 0) return kActions[index];
    return std::nullopt;
}

DWORD RunConfigure(ServiceHost& host, UserInterface* ui) {
    if (!IsLocalAdministrator()) {
        ShowMessageBox(nullptr,
                       "Access denied. You must be a member of local administrators group\nto configure Corvane.",
                       host.Identity().serviceName, MB_ICONERROR | MB_SERVICE_NOTIFICATION);
        return 0;
    }
    // The class objects stay registered while the configuration is open, so COM requests are
    // served meanwhile.
    host.PrepareRun();
    host.RegisterClassObjects();
    if (ui) ui->ShowConfiguration(host);
    host.EndRun();
    return 0;
}

DWORD RunServiceOrServer(ServiceHost& host, bool startedByCom) {
    RegistryKey appIdRoot;
    LONG result = appIdRoot.Open(HKEY_CLASSES_ROOT, "AppID", KEY_READ);
    if (result != ERROR_SUCCESS) return static_cast<DWORD>(result);
    RegistryKey appId;
    result = appId.Open(appIdRoot.get(), kAppIdText, KEY_READ);
    if (result != ERROR_SUCCESS) return static_cast<DWORD>(result);

    // Only the presence of the value matters.
    char localService[260];
    DWORD size = sizeof localService;
    const bool asService = RegQueryValueExA(appId.get(), kLocalServiceValue, nullptr, nullptr,
                                            reinterpret_cast<BYTE*>(localService), &size) == ERROR_SUCCESS;
    host.SetRunMode(asService, startedByCom);
    host.PrepareRun();
    host.StartHost();
    host.EndRun();
    return host.ExitCode();
}

// The next character of ANSI text (a lead byte and its trail byte are one), as CharNextA steps,
// without the window library that a service's start does not load.
const char* NextCharacter(const char* position) {
    if (!*position) return position;
    return IsDBCSLeadByte(static_cast<BYTE>(*position)) && position[1] ? position + 2 : position + 1;
}

}  // namespace

const char* FindNextOption(const char* position, const char* separators) {
    while (position && *position) {
        for (const char* s = separators; *s; ++s)
            if (*position == *s) return NextCharacter(position);
        position = NextCharacter(position);
    }
    return nullptr;
}

std::string HelpText(const std::string& serviceName) {
    return "Following command line arguments are available for " + serviceName + ":\n" +
           "\n-Install        [Installs the service and registers its COM components]" +
           "\n-Remove    [Uninstalls the service and unregisters its COM components]" +
           "\n-Configure  [Allows you to change properties of the service]";
}

DWORD RunEntry(HINSTANCE instance, const char* commandLine, UserInterface* ui) {
    NoteStartPhase("entry");
    if (GetVersion() & 0x80000000u) {
        ShowMessageBox(nullptr, "Corvane requires Windows NT.\nCannot continue.", "Corvane", MB_ICONERROR);
        return 0;
    }

    ServiceHost& host = Host();
    host.InitHost(instance, IDS_SERVICENAME, ui);
    const HostIdentity& identity = host.Identity();
    bool startedByCom = false;

    for (const char* position = FindNextOption(commandLine, "-/"); position;
         position = FindNextOption(position, "-/")) {
        const std::optional<Action> action = MatchOption(position);
        if (!action) continue;
        switch (*action) {
        case Action::Help:
            ShowMessageBox(nullptr, HelpText(identity.serviceName), identity.serviceName, MB_ICONINFORMATION);
            return 0;
        case Action::Install:
            return static_cast<DWORD>(RegisterHost(identity, true, true));
        case Action::Remove:
            return static_cast<DWORD>(UnregisterHost(identity, true, true));
        case Action::InstallService:
            return static_cast<DWORD>(RegisterHost(identity, false, true));
        case Action::RemoveService:
            return static_cast<DWORD>(UnregisterHost(identity, false, true));
        case Action::InstallComServer:
            return static_cast<DWORD>(RegisterHost(identity, true, false));
        case Action::RemoveComServer:
            return static_cast<DWORD>(UnregisterHost(identity, true, false));
        case Action::Configure:
            return RunConfigure(host, ui);
        case Action::Tray:
            // Neither a service nor a COM server: the icon in the caller's own session.
            return ui ? ui->RunTray(host) : 0;
        case Action::Embedding:
            startedByCom = true;
            break;
        }
    }
    return RunServiceOrServer(host, startedByCom);
}
