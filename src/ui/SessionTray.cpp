#include "ui/SessionTray.h"

#include "base/ErrorReporting.h"
#include "base/MessageBox.h"
#include "base/Owners.h"
#include "host/UserInterface.h"
#include "ui/MainWindow.h"
#include "ui/ManageAppsDialog.h"
#include "ui/TrayIcon.h"

#include <string>

namespace {

constexpr UINT_PTR kFollowTimerId = 1;

// The installed service as the service manager reports it.
class ServiceManagerTray final : public TrayService {
public:
    explicit ServiceManagerTray(UiHost& host) : host_(host) {}
    void SetTray(TrayIcon* tray) { tray_ = tray; }

    bool IsRunning() override { return State() == SERVICE_RUNNING; }
    bool IsServiceRunning() override { return host_.IsServiceRunning(); }
    void Pause() override { Control(SERVICE_CONTROL_PAUSE, "pause"); }
    void Continue() override { Control(SERVICE_CONTROL_CONTINUE, "continue"); }
    const HostIdentity& Identity() override { return host_.Identity(); }

    // Shows the icon in the look of the service's state, or removes it while the service is
    // stopped or not installed. A state in between changes nothing.
    void Follow() {
        const DWORD state = State();
        if (state == SERVICE_RUNNING || state == SERVICE_PAUSED) {
            const bool running = state == SERVICE_RUNNING;
            if (!tray_->IsAdded())
                (void)tray_->AddTrayIcon(running);
            else if (tray_->ShowsRunning() != running)
                (void)tray_->SetTrayIconState(running);
        } else if ((state == 0 || state == SERVICE_STOPPED) && tray_->IsAdded()) {
            (void)tray_->RemoveTrayIcon();
        }
    }

private:
    // The service's current state; 0 when it is not installed or cannot be asked.
    DWORD State() const {
        ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        if (!manager) return 0;
        ServiceHandle service(OpenServiceA(manager.get(), Name().c_str(), SERVICE_QUERY_STATUS));
        SERVICE_STATUS status{};
        if (!service || !QueryServiceStatus(service.get(), &status)) return 0;
        return status.dwCurrentState;
    }

    // Asks the service manager for the control; a refusal (a user without the right, a service
    // that is not running) is shown with the system's words and changes nothing.
    void Control(DWORD control, const char* verb) {
        ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        ServiceHandle service;
        if (manager) service.reset(OpenServiceA(manager.get(), Name().c_str(), SERVICE_PAUSE_CONTINUE));
        SERVICE_STATUS status{};
        if (!service || !ControlService(service.get(), control, &status)) {
            ShowMessageBox(tray_->Owner(),
                           GetSystemErrorText("Could not " + std::string(verb) + " " + Name() + "."),
                           Name(), MB_ICONERROR);
            return;
        }
        Follow();
    }

    const std::string& Name() const { return host_.Identity().serviceName; }

    UiHost& host_;
    TrayIcon* tray_ = nullptr;
};

}  // namespace

DWORD RunSessionTray(UiHost& host) {
    const HostIdentity& identity = host.Identity();
    // One per session: the name lives in the session's own namespace.
    UniqueHandle onePerSession(CreateMutexA(nullptr, FALSE, ("Local\\" + identity.serviceName + ".Tray").c_str()));
    if (!onePerSession) return GetLastError();
    if (GetLastError() == ERROR_ALREADY_EXISTS) return 0;

    ServiceManagerTray service(host);
    TrayIcon tray(identity.instance, identity.serviceName, service);
    service.SetTray(&tray);
    MainWindow window(identity.instance, identity.serviceName, [&](UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_TIMER && wParam == kFollowTimerId) {
            service.Follow();
            return true;
        }
        if (message == WM_DESTROY) PostQuitMessage(0);
        return tray.HandleMessage(message, wParam, lParam);
    });
    if (!window.Window()) return GetLastError();
    tray.SetOwner(window.Window());
    // Open shows the Manage Applications dialog here too; it edits the same registry keys.
    ManageAppsDialog appsDialog(host);
    const HWND appsWindow = appsDialog.Create(nullptr);
    if (appsWindow) tray.SetOpenWindow([appsWindow] { return appsWindow; });
    const HWND mainWindow = window.Window();
    host.RegisterMainWindow(mainWindow);
    SetTimer(window.Window(), kFollowTimerId, kSessionTrayFollowMs, nullptr);
    service.Follow();

    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        if (IsDialogMessageA(window.Window(), &message)) continue;
        if (appsWindow && IsDialogMessageA(appsWindow, &message)) continue;
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    (void)tray.RemoveTrayIcon();
    host.UnregisterMainWindow(mainWindow);
    return 0;
}
