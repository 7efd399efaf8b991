#include "ui/TrayIcon.h"

#include "base/MessageBox.h"
#include "base/Owners.h"
#include "base/SystemLibrary.h"
#include "config/ServiceSettings.h"
#include "host/Security.h"
#include "resource.h"
#include "ui/PropertiesDialog.h"

#include <utility>

namespace {

// The shell's DLL is loaded for each change of the icon and let go after it: the icon changes
// a few times in a service's life, and an idle service does not carry the DLL and those it
// loads in turn (about 1 MB of working set under Wine). A service without an icon never loads it.
bool NotifyShell(DWORD action, NOTIFYICONDATAA* data) {
    const ModuleHandle shell = LoadSystemLibrary("shell32.dll");
    const auto notify = ModuleFunction<decltype(&Shell_NotifyIconA)>(shell.get(), "Shell_NotifyIconA");
    return notify && notify(action, data) != FALSE;
}

// Each item is enabled in one state of the service and grayed in the other.
struct MenuItemState {
    UINT command;
    bool enabledWhileRunning;
};
constexpr MenuItemState kMenuItemStates[] = {
    {ID_TRAY_OPEN, true}, {ID_TRAY_PAUSE, true}, {ID_TRAY_CONTINUE, false}, {ID_TRAY_PROPERTIES, true}};

}  // namespace

TrayIcon::TrayIcon(HINSTANCE module, std::string productName, TrayService& service)
    : module_(module), productName_(std::move(productName)), service_(service),
      taskbarCreated_(RegisterWindowMessageA("TaskbarCreated")) {}

void TrayIcon::SetOwner(HWND owner) {
    std::lock_guard<std::mutex> guard(lock_);
    owner_ = owner;
}

std::string TrayIcon::TipText(const std::string& productName, bool running) {
    std::string tip = productName + (running ? " is running" : " is paused");
    if (tip.size() > 63) tip.resize(63);
    return tip;
}

bool TrayIcon::Notify(DWORD action, bool running) {
    // The shell keeps its own copy of the image: the handle is destroyed right after the call.
    // The small image is loaded, the size the notification area shows.
    IconHandle icon(static_cast<HICON>(LoadImageA(module_,
                                                  MAKEINTRESOURCEA(running ? IDI_TRAY_RUNNING : IDI_TRAY_PAUSED),
                                                  IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                  GetSystemMetrics(SM_CYSMICON), 0)));
    trayIconData.hIcon = icon.get();
    lstrcpynA(trayIconData.szTip, TipText(productName_, running).c_str(), sizeof trayIconData.szTip);
    showsRunning_ = running;
    return NotifyShell(action, &trayIconData);
}

bool TrayIcon::AddTrayIcon(bool running) {
    if (!IsSettingOn(service_.Identity().keys, ServiceSetting::EnableTrayIcon)) return false;
    std::lock_guard<std::mutex> guard(lock_);
    wanted_ = true;
    trayIconData.cbSize = NOTIFYICONDATAA_V1_SIZE;
    trayIconData.hWnd = owner_;
    trayIconData.uID = kTrayIconId;
    trayIconData.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    trayIconData.uCallbackMessage = WM_TRAYNOTIFY;
    const bool added = Notify(NIM_ADD, running);
    if (added) trayIconAdded = true;
    return added;
}

bool TrayIcon::SetTrayIconState(bool running) {
    std::lock_guard<std::mutex> guard(lock_);
    return Notify(NIM_MODIFY, running);
}

bool TrayIcon::RemoveTrayIcon() {
    std::lock_guard<std::mutex> guard(lock_);
    wanted_ = false;
    const bool removed = NotifyShell(NIM_DELETE, &trayIconData);
    if (removed) trayIconAdded = false;
    return removed;
}

bool TrayIcon::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_TRAYNOTIFY) {
        OnTrayNotify(static_cast<UINT>(lParam));
        return true;
    }
    if (message == WM_COMMAND) {
        switch (LOWORD(wParam)) {
        case ID_TRAY_OPEN:
        case ID_TRAY_PAUSE:
        case ID_TRAY_CONTINUE:
        case ID_TRAY_PROPERTIES:
            OnCommand(LOWORD(wParam));
            return true;
        default:
            return false;
        }
    }
    if (message == taskbarCreated_ && taskbarCreated_ != 0) {
        OnTaskbarCreated();
        return true;
    }
    return false;
}

HMENU TrayIcon::LoadTrayMenu(HINSTANCE module, bool running) {
    HMENU menu = LoadMenuA(module, MAKEINTRESOURCEA(IDR_TRAY_MENU));
    if (!menu) return nullptr;
    for (const auto& [command, enabledWhileRunning] : kMenuItemStates) {
        const bool enabled = enabledWhileRunning == running;
        EnableMenuItem(menu, command, MF_BYCOMMAND | (enabled ? MF_ENABLED : MF_GRAYED));
    }
    SetMenuDefaultItem(GetSubMenu(menu, 0), ID_TRAY_OPEN, FALSE);
    return menu;
}

void TrayIcon::OnTrayNotify(UINT mouseMessage) {
    try {
        if (mouseMessage == WM_LBUTTONDBLCLK) {
            if (!service_.IsServiceRunning()) return;
            if (IsLocalAdministrator())
                ShowOwner();
            else
                AccessDenied("Access denied. You must be a member of local administrators group\nto configure " +
                             productName_ + ".");
        } else if (mouseMessage == WM_RBUTTONDOWN) {
            POINT cursor{};
            GetCursorPos(&cursor);
            MenuHandle menu(LoadTrayMenu(module_, service_.IsRunning()));
            if (!menu) return;
            // The foreground call and the post after tracking let the menu close when the user
            // clicks elsewhere.
            SetForegroundWindow(owner_);
            TrackPopupMenu(GetSubMenu(menu.get(), 0), TPM_RIGHTBUTTON, cursor.x, cursor.y, 0, owner_, nullptr);
            PostMessageA(owner_, WM_USER, 0, 0);
        }
    } catch (...) {
        ShowMessageBox(owner_, "Unexpected error encountered.", productName_, MB_ICONERROR);
    }
}

void TrayIcon::OnCommand(UINT command) {
    switch (command) {
    case ID_TRAY_OPEN:
        if (IsLocalAdministrator())
            ShowOwner();
        else
            AccessDenied("Access denied. You must be a member of local administrators group\nto manage "
                         "applications for this service.");
        break;
    case ID_TRAY_PAUSE:
        service_.Pause();
        break;
    case ID_TRAY_CONTINUE:
        service_.Continue();
        break;
    case ID_TRAY_PROPERTIES:
        if (IsLocalAdministrator())
            ShowProperties();
        else
            AccessDenied("Access denied. You must be a member of local administrators group\nto configure this "
                         "service.");
        break;
    }
}

void TrayIcon::OnTaskbarCreated() {
    // A new taskbar knows no icon: the one asked for is added again in its look.
    bool running;
    {
        std::lock_guard<std::mutex> guard(lock_);
        if (!wanted_) return;
        trayIconAdded = false;
        running = showsRunning_;
    }
    (void)AddTrayIcon(running);
}

void TrayIcon::ShowOwner() {
    const HWND shown = openWindow_ ? openWindow_() : owner_;
    if (!shown) return;
    ShowWindow(shown, SW_SHOWNORMAL);
    SetForegroundWindow(shown);
}

void TrayIcon::ShowProperties() {
    const HostIdentity& identity = service_.Identity();
    PropertiesDialog dialog(module_, identity.keys, productName_, identity.helpFileName, this);
    dialog.RunModal(GetActiveWindow());
}

void TrayIcon::AccessDenied(const std::string& text) {
    ShowMessageBox(owner_, text, productName_, MB_SERVICE_NOTIFICATION | MB_ICONERROR);
}
