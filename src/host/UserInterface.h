// What the host asks of the user interface, without depending on it: the ui layer implements
// this and the program's entry hands it to the host. Every call is optional in effect: a host
// without a user interface runs the same service.
#pragma once
#include <windows.h>

class ServiceHost;

class UserInterface {
public:
    virtual ~UserInterface() = default;

    // On the service thread, before its message loop: creates the hidden main window (and
    // whatever it drives, such as the tray icon's timer). Null when there is none.
    virtual HWND CreateMainWindow(ServiceHost& host) = 0;
    // The service's state has just been reported to the service manager. Called with the
    // host's state lock held, from the control handler's thread, the service thread or a ui
    // thread: it must not wait for another thread (post to a window instead).
    virtual void ServiceStateChanged(ServiceHost& host, DWORD state) = 0;
    // "-Configure": shows the configuration and returns when it is closed.
    virtual void ShowConfiguration(ServiceHost& host) = 0;
    // "-Tray": shows the service's icon in the caller's own session, following the installed
    // service through the service manager, until the session ends; returns the exit code.
    virtual DWORD RunTray(ServiceHost& host) = 0;
};
