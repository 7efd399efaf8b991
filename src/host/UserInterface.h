// What the host and its user interface know of each other. The ui layer implements
// UserInterface and the program's entry hands it to the host; the host shows itself to the ui
// as a UiHost, never as the whole host. Every call is optional in effect: a host without a user
// interface runs the same service.
#pragma once
#include "host/HostIdentity.h"

#include <windows.h>
#include <functional>

// The host as its user interface sees it.
class UiHost {
public:
    virtual const HostIdentity& Identity() const = 0;
    // This process's service has last reported RUNNING.
    virtual bool IsRunning() const = 0;
    // The service manager reports the installed service RUNNING.
    virtual bool IsServiceRunning() const = 0;
    // The same reactions as the service manager's pause and continue, under the same lock.
    virtual void Pause() = 0;
    virtual void Continue() = 0;
    // Runs look while no reaction can change the service's state. look must not wait for
    // another thread.
    virtual void WithStateHeld(const std::function<void()>& look) = 0;
    // The window whose dialog messages the service thread's message loop dispatches, and which
    // the end of the service closes. Called on the thread that runs that loop; unregistering
    // a window that is not the registered one changes nothing.
    virtual void RegisterMainWindow(HWND window) = 0;
    virtual void UnregisterMainWindow(HWND window) = 0;

protected:
    ~UiHost() = default;
};

// What the host asks of the user interface, without depending on it.
class UserInterface {
public:
    virtual ~UserInterface() = default;

    // On the service thread, once RUNNING is reported and before its message loop: creates
    // the hidden main window (and what it owns, such as the tray icon). Null when there is
    // none.
    virtual HWND CreateMainWindow(UiHost& host) = 0;
    // The service's state has just been reported to the service manager. Called with the
    // host's state lock held, from the control handler's thread, the service thread or a ui
    // thread: it must not wait for another thread (post to a window instead).
    virtual void ServiceStateChanged(UiHost& host, DWORD state) = 0;
    // "-Configure": shows the configuration and returns when it is closed.
    virtual void ShowConfiguration(UiHost& host) = 0;
    // "-Tray": shows the service's icon in the caller's own session, following the installed
    // service through the service manager, until the session ends; returns the exit code.
    virtual DWORD RunTray(UiHost& host) = 0;
};
