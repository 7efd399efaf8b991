// What the program shows on the desktop, handed to the host through its UserInterface seam:
// the service's main window is the Manage Applications dialog, created hidden.
#pragma once
#include "host/UserInterface.h"
#include "ui/ManageAppsDialog.h"

#include <memory>

class DesktopInterface : public UserInterface {
public:
    HWND CreateMainWindow(ServiceHost& host) override;
    void ServiceStateChanged(ServiceHost& host, DWORD state) override;
    void ShowConfiguration(ServiceHost& host) override;

    // The dialog behind the main window; null before CreateMainWindow.
    ManageAppsDialog* MainDialog() const { return mainDialog_.get(); }

private:
    std::unique_ptr<ManageAppsDialog> mainDialog_;
};
