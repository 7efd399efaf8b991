#include "ui/ProgramUi.h"

#include "host/ServiceHost.h"
#include "ui/MainWindow.h"
#include "ui/ManageAppsDialog.h"
#include "ui/PropertiesDialog.h"
#include "ui/SessionTray.h"
#include "ui/TrayIcon.h"

#include <mutex>

namespace {
constexpr UINT_PTR kTrayTimerId = 1;
}  // namespace

// The service process as its tray sees it: the host's own state and reactions.
class ProgramUi::HostTray final : public TrayService {
public:
    explicit HostTray(ServiceHost& host) : host_(host) {}
    bool IsRunning() override { return host_.isRunning; }
    bool IsServiceRunning() override { return host_.IsServiceRunning(); }
    // The same reactions as the service manager's controls, under the same lock.
    void Pause() override { host_.OnServicePause(); }
    void Continue() override { host_.OnServiceContinue(); }
    const ServiceKeys& Keys() override { return host_.keys; }

private:
    ServiceHost& host_;
};

ProgramUi::ProgramUi() = default;
ProgramUi::~ProgramUi() = default;

HWND ProgramUi::CreateMainWindow(ServiceHost& host) {
    // The main window is the Manage Applications dialog, created hidden (its template is not
    // visible); the tray's Open shows it. It lives until the service ends, when the host
    // closes it.
    auto appsDialog = std::make_unique<ManageAppsDialog>(host);
    const HWND mainWindow = appsDialog->Create(nullptr);
    if (!mainWindow) return nullptr;

    auto hostTray = std::make_unique<HostTray>(host);
    auto tray = std::make_unique<TrayIcon>(host.instance, host.serviceName, *hostTray);
    TrayIcon* icon = tray.get();
    auto window = std::make_unique<MainWindow>(host.instance, host.serviceName,
                                               [&host, icon](UINT message, WPARAM wParam, LPARAM lParam) {
        if (message == WM_TIMER && wParam == kTrayTimerId) {
            // Under the state lock, so that a pause cannot come between the check that the
            // service runs and the icon's running look.
            std::lock_guard<std::recursive_mutex> guard(host.stateLock);
            icon->OnTrayTimer(host.logoffSeen);
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
    std::lock_guard<std::recursive_mutex> guard(host.stateLock);
    hostTray_ = std::move(hostTray);
    tray_ = std::move(tray);
    window_ = std::move(window);
    appsDialog_ = std::move(appsDialog);
    return mainWindow;
}

void ProgramUi::ServiceStateChanged(ServiceHost&, DWORD state) {
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

void ProgramUi::ShowConfiguration(ServiceHost& host) {
    // This process shows no icon: a save with the tray box unchecked has none to remove, and
    // the service's icon is the service's own.
    PropertiesDialog dialog(host.instance, host.keys, host.serviceName, host.helpFileName, nullptr);
    (void)dialog.RunModal(GetActiveWindow());
}

DWORD ProgramUi::RunTray(ServiceHost& host) {
    return RunSessionTray(host);
}
