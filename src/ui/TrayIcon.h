// The service's icon in the shell's notification area: its two looks (running, paused), its
// tip, its menu and the menu's commands.
//
// The icon belongs to an owner window (the hidden main window), which receives the icon's
// callback message, the menu's commands and the shell's "TaskbarCreated" broadcast and hands
// them to HandleMessage. A taskbar that starts (after a log-off, a restart of the shell, or
// the first time when it was not there yet) broadcasts "TaskbarCreated": the icon asked for
// is added again then, so nothing needs to look at the shell on a timer. The icon operations may be called from any thread (the service's
// reactions run on the control handler's thread); one lock keeps the icon record whole.
#pragma once
#include "host/HostIdentity.h"

#include <windows.h>
#include <shellapi.h>

#include <atomic>
#include <functional>
#include <mutex>
#include <string>

// The icon's callback message on its owner window, and the icon's id there.
inline constexpr UINT WM_TRAYNOTIFY = WM_APP + 100;
inline constexpr UINT kTrayIconId = 100;

// The service as the tray sees it. The service process answers from its own state and calls
// its own reactions; the tray in a user's session asks the service control manager.
class TrayService {
public:
    virtual ~TrayService() = default;
    // RUNNING is the last state reported: Open, Pause and Properties are enabled, else Continue.
    virtual bool IsRunning() = 0;
    // The service control manager reports the service RUNNING.
    virtual bool IsServiceRunning() = 0;
    virtual void Pause() = 0;
    virtual void Continue() = 0;
    // Who the service is: the keys of its settings (EnableTrayIcon, and what the Properties
    // dialog shows) and its help file.
    virtual const HostIdentity& Identity() = 0;
};

class TrayIcon {
public:
    TrayIcon(HINSTANCE module, std::string productName, TrayService& service);
    TrayIcon(const TrayIcon&) = delete;
    TrayIcon& operator=(const TrayIcon&) = delete;

    // The window that owns the icon and the menu; Open shows it unless SetOpenWindow names
    // another one.
    void SetOwner(HWND owner);
    // The window that Open and a double-click show (the Manage Applications dialog), asked for
    // each time; null shows nothing.
    void SetOpenWindow(std::function<HWND()> openWindow) { openWindow_ = std::move(openWindow); }
    HWND Owner() const { return owner_; }

    // Adds the icon in the running or paused look unless EnableTrayIcon is 0. Returns the
    // shell's success; a refused icon is still asked for, and added at "TaskbarCreated".
    bool AddTrayIcon(bool running);
    // Changes look and tip of the icon shown; the shell refuses when none is shown.
    bool SetTrayIconState(bool running);
    // Deletes the icon, which is no longer asked for; the shell refuses when none is shown.
    bool RemoveTrayIcon();
    bool IsAdded() const { return trayIconAdded; }
    // The look last asked for: running (else paused).
    bool ShowsRunning() const { return showsRunning_; }

    // The tray's messages on the owner window: the icon's callback, the menu's commands and
    // "TaskbarCreated". False for every other message.
    bool HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    // Menu 201 with the item states for the service's state and "&Open" as default item;
    // null when it cannot be loaded. The caller destroys it.
    static HMENU LoadTrayMenu(HINSTANCE module, bool running);

    // The tip for a look: the product name and " is running" or " is paused", cut to 63
    // characters.
    static std::string TipText(const std::string& productName, bool running);

private:
    bool Notify(DWORD action, bool running);
    void OnTrayNotify(UINT mouseMessage);
    void OnCommand(UINT command);
    void OnTaskbarCreated();
    void ShowOwner();
    void ShowProperties();
    void AccessDenied(const std::string& text);

    HINSTANCE module_;
    std::string productName_;
    TrayService& service_;
    HWND owner_ = nullptr;
    UINT taskbarCreated_;

    std::mutex lock_;
    NOTIFYICONDATAA trayIconData{};
    std::atomic<bool> trayIconAdded{false};
    std::atomic<bool> showsRunning_{true};
    // Added with the setting on and not removed since, whether or not the shell took it.
    std::atomic<bool> wanted_{false};
    std::function<HWND()> openWindow_;
};
