// The notification area for the demo and the screenshots:
//   trayctl show        prints every icon the shell shows: its tip, and whether it is drawn lit
//   trayctl menu        puts the cursor on the notification area and right-clicks corvane's icon
//                       as the shell would tell it
//   trayctl properties  closes that menu and chooses its Properties command
//   trayctl quit        ends the "corvane -Tray" of this session
#include "ShellTrayReader.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr UINT kTrayNotify = WM_APP + 100;
constexpr UINT kTrayIconId = 100;
constexpr WPARAM kPropertiesCommand = 32773;

HWND FindWindowOfClass(const char* className) {
    struct Search {
        const char* className;
        HWND found;
    } search{className, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            char name[64] = "";
            GetClassNameA(window, name, sizeof name);
            if (lstrcmpA(name, s->className) != 0) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 1;
    // The first window of a session brings up the desktop with its taskbar.
    HWND first = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
    for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&message);
    DestroyWindow(first);
    if (std::strcmp(argv[1], "show") == 0) {
        std::vector<ShellTrayIcon> icons = ShellTrayIcons();
        if (icons.empty()) std::printf("(no icon in the notification area)\n");
        for (const ShellTrayIcon& icon : icons) {
            const TrayLook look = LookOf(icon);
            std::printf("\"%s\", drawn %s\n", icon.tip.c_str(),
                        look == TrayLook::Lit ? "lit" : look == TrayLook::Unlit ? "unlit" : "(not seen)");
        }
        return 0;
    }
    HWND owner = FindWindowOfClass("CorvaneMainWindow");
    if (!owner) return 1;
    if (std::strcmp(argv[1], "menu") == 0) {
        RECT taskbar{};
        GetWindowRect(FindWindowA("Shell_TrayWnd", nullptr), &taskbar);
        // Just above the icons: the menu opens there, and no tip covers it.
        SetCursorPos(taskbar.right - 12, taskbar.top - 2);
        PostMessageA(owner, kTrayNotify, kTrayIconId, WM_RBUTTONDOWN);
        return 0;
    }
    if (std::strcmp(argv[1], "quit") == 0) {
        PostThreadMessageA(GetWindowThreadProcessId(owner, nullptr), WM_QUIT, 0, 0);
        return 0;
    }
    if (std::strcmp(argv[1], "properties") == 0) {
        if (HWND menu = FindWindowOfClass("#32768")) PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
        Sleep(500);
        PostMessageA(owner, WM_COMMAND, kPropertiesCommand, 0);
        return 0;
    }
    return 1;
}
