// The user interface that the program hands to its host: in the service, the tray icon on a
// hidden window of its own and the Manage Applications dialog that its Open shows; for
// "-Configure", the Properties dialog; for "-Tray", the icon in the caller's own session.
#pragma once
#include "host/UserInterface.h"

#include <memory>

class MainWindow;
class ManageAppsDialog;
class TrayIcon;

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
    // What the icon shows for a state reported; on the main window's thread.
    static void FollowState(TrayIcon& tray, DWORD state);
    std::unique_ptr<HostTray> hostTray_;
    std::unique_ptr<TrayIcon> tray_;
    std::unique_ptr<MainWindow> window_;
    // Created when Open first shows it.
    std::unique_ptr<ManageAppsDialog> appsDialog_;
    // The main window as the reactions' threads see it, set under the host's state lock; a
    // post to it once it is gone at the end of the service fails harmlessly.
    HWND windowHandle_ = nullptr;
    // The state last reported, written under the host's state lock.
    DWORD state_ = SERVICE_STOPPED;
};
