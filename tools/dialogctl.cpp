// Drives a dialog of another process from the command line, for the screenshot script:
//   dialogctl show CAPTION [NAME]   shows the (hidden) dialog, chooses NAME in its Name list
//   dialogctl wait CAPTION          waits (up to 20 s) until a visible window has the caption
//   dialogctl press CAPTION ID      presses the button with this id without waiting for it
// show and wait print the window's rectangle on the screen as "x y width height".
#include "resource.h"

#include <windows.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HWND WaitForWindow(const char* caption, bool visible) {
    for (int waited = 0; waited < 20000; waited += 100) {
        HWND window = FindWindowA(nullptr, caption);
        if (window && (!visible || IsWindowVisible(window))) return window;
        Sleep(100);
    }
    return nullptr;
}

int PrintRectangle(HWND window) {
    RECT r{};
    GetWindowRect(window, &r);
    std::printf("%ld %ld %ld %ld\n", r.left, r.top, r.right - r.left, r.bottom - r.top);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: dialogctl show|wait|press CAPTION [NAME|ID]\n");
        return 2;
    }
    const char* command = argv[1];
    HWND window = WaitForWindow(argv[2], std::strcmp(command, "show") != 0);
    if (!window) {
        std::fprintf(stderr, "dialogctl: no window \"%s\"\n", argv[2]);
        return 1;
    }
    if (std::strcmp(command, "show") == 0) {
        ShowWindow(window, SW_SHOWNORMAL);
        SetForegroundWindow(window);
        if (argc > 3) {
            SendDlgItemMessageA(window, IDC_NAME, CB_SELECTSTRING, static_cast<WPARAM>(-1),
                                reinterpret_cast<LPARAM>(argv[3]));
            SendMessageA(window, WM_COMMAND, MAKEWPARAM(IDC_NAME, CBN_SELCHANGE),
                         reinterpret_cast<LPARAM>(GetDlgItem(window, IDC_NAME)));
        }
        return PrintRectangle(window);
    }
    if (std::strcmp(command, "wait") == 0) return PrintRectangle(window);
    if (std::strcmp(command, "press") == 0 && argc > 3) {
        // Posted: the button may open a modal dialog that would hold a sent message.
        PostMessageA(window, WM_COMMAND, MAKEWPARAM(std::atoi(argv[3]), BN_CLICKED), 0);
        return 0;
    }
    std::fprintf(stderr, "dialogctl: unknown command %s\n", command);
    return 2;
}
