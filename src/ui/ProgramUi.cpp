#include "ui/ProgramUi.h"

#include "config/ServiceSettings.h"
#include "ui/MainWindow.h"
#include "ui/ManageAppsDialog.h"
#include "ui/PropertiesDialog.h"
#include "ui/SessionTray.h"
#include "ui/TrayIcon.h"

namespace {

// Posted to the main window with the state the service has reported (wParam): the icon follows
// it on the window's own thread.
constexpr UINT WM_SERVICESTATE = WM_APP + 101;

// Whether anyone can see this process's windows: its session is the console's active one and
// its window station is interactive. A service on Windows Vista and later runs in a session of
// its own without an interactive desktop; there "-Tray" shows the icon in the user's session.
bool HasInteractiveDesktop() {
    DWORD session = 0;
    if (ProcessIdToSessionId(GetCurrentProcessId(), &session) && session != WTSGetActiveConsoleSessionId())
        return false;
    USEROBJECTFLAGS flags{};
    DWORD needed = 0;
    if (!GetUserObjectInformationA(GetProcessWindowStation(), UOI_FLAGS, &flags, sizeof flags, &needed)) return true;
    return (flags.dwFlags & WSF_VISIBLE) != 0;
}

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
    // Without an icon to show, or where no one would see it, the service creates no window.
    const HostIdentity& identity = host.Identity();
    if (!IsSettingOn(identity.keys, ServiceSetting::EnableTrayIcon) || !HasInteractiveDesktop()) return nullptr;

    auto hostTray = std::make_unique<HostTray>(host);
    auto tray = std::make_unique<TrayIcon>(identity.instance, identity.serviceName, *hostTray);
    TrayIcon* icon = tray.get();
    auto window = std::make_unique<MainWindow>(
        identity.instance, identity.serviceName, [icon](UINT message, WPARAM wParam, LPARAM lParam) {
            if (message != WM_SERVICESTATE) return icon->HandleMessage(message, wParam, lParam);
            FollowState(*icon, static_cast<DWORD>(wParam));
            return true;
        });
    const HWND handle = window->Window();
    if (!handle) return nullptr;
    tray->SetOwner(handle);
    // The Manage Applications dialog is created when Open first shows it, hidden (its template
    // is not visible) and modeless, on this thread; from then on the host's message loop
    // dispatches its dialog messages and the end of the service closes it.
    tray->SetOpenWindow([this, &host]() -> HWND {
        if (!appsDialog_) {
            auto dialog = std::make_unique<ManageAppsDialog>(host);
            if (!dialog->Create(nullptr)) return nullptr;
            host.RegisterMainWindow(dialog->Window());
            appsDialog_ = std::move(dialog);
        }
        return appsDialog_->Window();
    });
    // The reactions may run on another thread from now on. The icon shows the state last
    // reported: a pause or a stop may have come while the window was being created.
    host.WithStateHeld([&] {
        hostTray_ = std::move(hostTray);
        tray_ = std::move(tray);
        window_ = std::move(window);
        windowHandle_ = handle;
        if (state_ == SERVICE_RUNNING || state_ == SERVICE_PAUSED) (void)tray_->AddTrayIcon(state_ == SERVICE_RUNNING);
    });
    return handle;
}

void ProgramUi::ServiceStateChanged(UiHost&, DWORD state) {
    state_ = state;
    // The shell is told on the window's thread: the caller holds the host's state lock, and the
    // shell's answer may take its time (seen: 2 s for a removal under Wine), which would hold
    // up the control and every reaction behind it. A stop's removal comes before the quit that
    // ends the window's message loop, so the icon is gone before the service reports STOPPED.
    if (windowHandle_) (void)PostMessageA(windowHandle_, WM_SERVICESTATE, state, 0);
}

void ProgramUi::FollowState(TrayIcon& tray, DWORD state) {
    // The icon follows the state the service reports. A change or removal that the shell
    // refuses (no icon shown) is no failure here; an icon not shown yet (the setting was off,
    // or the shell refused it) is added.
    switch (state) {
    case SERVICE_PAUSED:
    case SERVICE_RUNNING:
        if (tray.IsAdded())
            (void)tray.SetTrayIconState(state == SERVICE_RUNNING);
        else
            (void)tray.AddTrayIcon(state == SERVICE_RUNNING);
        break;
    case SERVICE_STOP_PENDING:
        (void)tray.RemoveTrayIcon();
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
