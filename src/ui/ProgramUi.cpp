#include "ui/ProgramUi.h"

#include "ui/MainWindow.h"
#include "ui/ManageAppsDialog.h"
#include "ui/PropertiesDialog.h"
#include "ui/SessionTray.h"
#include "ui/TrayIcon.h"

#include <atomic>

namespace {
constexpr UINT_PTR kTrayTimerId = 1;
}  // namespace

// The service process as its tray sees it: the host's own state and reactions.
class ProgramUi::HostTray final : public TrayService {
public:
    explicit HostTray(UiHost& host) : host_(host) {}
    bool IsRunning() override { return host_.IsRunning(); }
    bool IsServiceRunning() override { return host_.IsServiceRunning(); }
    // The same reactions as the service manager's controls, under the same lock.
    void Pause() override { host_.Pause(); }
    void Continue() override { host_.Continue(); }
    const HostIdentity& Identity() override { return host_.Identity(); }

private:
    UiHost& host_;
};

ProgramUi::ProgramUi() = default;
ProgramUi::~ProgramUi() = default;

HWND ProgramUi::CreateMainWindow(UiHost& host) {
    // The main window is the Manage Applications dialog, created hidden (its template is not
    // visible); the tray's Open shows it. It lives until the service ends, when the host
    // closes it.
    auto appsDialog = std::make_unique<ManageAppsDialog>(host);
    const HWND mainWindow = appsDialog->Create(nullptr);
    if (!mainWindow) return nullptr;

    auto hostTray = std::make_unique<HostTray>(host);
    const HostIdentity& identity = host.Identity();
    auto tray = std::make_unique<TrayIcon>(identity.instance, identity.serviceName, *hostTray);
    TrayIcon* icon = tray.get();
    auto window = std::make_unique<MainWindow>(identity.instance, identity.serviceName,
                                               [&host, icon](UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_TIMER && wParam == kTrayTimerId) {
            // Under the state lock, so that a pause cannot come between the check that the
            // service runs and the icon's running look.
            host.WithStateHeld([icon](std::atomic<bool>& logoffSeen) { icon->OnTrayTimer(logoffSeen); });
            return true;
        }
        return icon->HandleMessage(message, wParam, lParam);
    });
    const HWND handle = window->Window();
    if (!handle) return nullptr;
    tray->SetOwner(handle);
    tray->SetOpenWindow(mainWindow);
    SetTimer(handle, kTrayTimerId, kTrayTimerMs, nullptr);
    // The reactions may run on another thread from now on.
    host.WithStateHeld([&](std::atomic<bool>&) {
        hostTray_ = std::move(hostTray);
        tray_ = std::move(tray);
        window_ = std::move(window);
        appsDialog_ = std::move(appsDialog);
    });
    return mainWindow;
}

void ProgramUi::ServiceStateChanged(UiHost&, DWORD state) {
    if (!tray_) return;
    // The shell refuses a change or removal when no icon is shown; that is no failure here.
    switch (state) {
    case SERVICE_PAUSED:
        (void)tray_->SetTrayIconState(false);
        break;
    case SERVICE_RUNNING:
        (void)tray_->SetTrayIconState(true);
        break;
    case SERVICE_STOP_PENDING:
        (void)tray_->RemoveTrayIcon();
        break;
    default:
        break;
    }
}

void ProgramUi::ShowConfiguration(UiHost& host) {
    // This process shows no icon: a save with the tray box unchecked has none to remove, and
    // the service's icon is the service's own.
    const HostIdentity& identity = host.Identity();
    PropertiesDialog dialog(identity.instance, identity.keys, identity.serviceName, identity.helpFileName, nullptr);
    (void)dialog.RunModal(GetActiveWindow());
}

DWORD ProgramUi::RunTray(UiHost& host) {
    return RunSessionTray(host);
}
