// The user interface that the program hands to its host: in the service, the hidden Manage
// Applications dialog as the main window, and the tray icon on a hidden window of its own; for "-Configure", the Properties dialog; for "-Tray", the icon in
// the caller's own session.
#pragma once
#include "host/UserInterface.h"

#include <memory>

class MainWindow;
class ManageAppsDialog;
class TrayIcon;

// How often the tray timer of the service ticks.
inline constexpr UINT kTrayTimerMs = 4000;

class ProgramUi final : public UserInterface {
public:
    ProgramUi();
    ~ProgramUi() override;

    HWND CreateMainWindow(UiHost& host) override;
    void ServiceStateChanged(UiHost& host, DWORD state) override;
    void ShowConfiguration(UiHost& host) override;
    DWORD RunTray(UiHost& host) override;

    // The service's icon; null until the main window exists.
    TrayIcon* Tray() const { return tray_.get(); }

private:
    class HostTray;
    std::unique_ptr<HostTray> hostTray_;
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<MainWindow> window_;
    std::unique_ptr<ManageAppsDialog> appsDialog_;
};
