#include "ui/DesktopInterface.h"

HWND DesktopInterface::CreateMainWindow(ServiceHost& host) {
    // The template is not visible: the window stays hidden until it is asked for. It lives
    // until the service ends, when the host closes it.
    mainDialog_ = std::make_unique<ManageAppsDialog>(host);
    return mainDialog_->Create(nullptr);
}

void DesktopInterface::ServiceStateChanged(ServiceHost&, DWORD) {
    // Nothing of the dialogs depends on the service's state.
}

void DesktopInterface::ShowConfiguration(ServiceHost&) {
    // "-Configure" shows the service's settings (the Properties dialog), which the
    // application dialogs do not provide.
}
