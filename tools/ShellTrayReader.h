// Reads the icons that the shell's notification area shows from the shell's own windows: the
// tips that the tray's tooltip controls hold (read across processes, in the shell's memory)
// and the pixels where the shell draws each icon. Shared by the tests and the tools.
#pragma once
#include <windows.h>
#include <commctrl.h>

#include <string>
#include <vector>

struct ShellTrayIcon {
    std::string tip;
    RECT screen;  // where the shell draws the icon
};

// How the shell draws an icon: lit (yellow pixels), unlit (white pixels, none yellow), or
// neither (the screen could not be read there).
enum class TrayLook { Lit, Unlit, Unseen };

namespace shelltray {

struct RemoteMemory {
    HANDLE process;
    void* address;
    RemoteMemory(HANDLE p, SIZE_T size)
        : process(p), address(VirtualAllocEx(p, nullptr, size, MEM_COMMIT, PAGE_READWRITE)) {}
    ~RemoteMemory() {
        if (address) VirtualFreeEx(process, address, 0, MEM_RELEASE);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;
};

inline std::vector<HWND> TooltipsOf(DWORD processId) {
    struct Search {
        DWORD processId;
        std::vector<HWND> found;
    } search{processId, {}};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            char name[64] = "";
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            if (owner == s->processId && GetClassNameA(window, name, sizeof name) && lstrcmpA(name, TOOLTIPS_CLASSA) == 0)
                s->found.push_back(window);
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

}  // namespace shelltray

inline std::vector<ShellTrayIcon> ShellTrayIcons() {
    std::vector<ShellTrayIcon> icons;
    HWND taskbar = FindWindowA("Shell_TrayWnd", nullptr);
    if (!taskbar) return icons;
    DWORD shellProcessId = 0;
    GetWindowThreadProcessId(taskbar, &shellProcessId);
    HANDLE shell = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, shellProcessId);
    if (!shell) return icons;
    {
        // The tool record and its text live in the shell's memory: a tooltip control fills
        // what the pointers it is given point to in its own process.
        constexpr SIZE_T kTextOffset = 512, kTextSize = 512;
        shelltray::RemoteMemory remote(shell, kTextOffset + kTextSize);
        char* base = static_cast<char*>(remote.address);
        for (HWND tooltip : shelltray::TooltipsOf(shellProcessId)) {
            const LRESULT count = SendMessageA(tooltip, TTM_GETTOOLCOUNT, 0, 0);
            for (LRESULT index = 0; base && index < count; ++index) {
                TTTOOLINFOA tool{};
                tool.cbSize = sizeof tool;
                tool.lpszText = base + kTextOffset;
                char text[kTextSize] = "";
                if (!WriteProcessMemory(shell, base, &tool, sizeof tool, nullptr) ||
                    !WriteProcessMemory(shell, base + kTextOffset, text, sizeof text, nullptr) ||
                    !SendMessageA(tooltip, TTM_ENUMTOOLSA, index, reinterpret_cast<LPARAM>(base)) ||
                    !ReadProcessMemory(shell, base, &tool, sizeof tool, nullptr) ||
                    !ReadProcessMemory(shell, base + kTextOffset, text, sizeof text - 1, nullptr) || !text[0])
                    continue;
                // A tool either names an area of the taskbar or is a window of its own.
                RECT screen = tool.rect;
                if (IsRectEmpty(&screen)) {
                    GetWindowRect(reinterpret_cast<HWND>(tool.uId), &screen);
                } else {
                    MapWindowPoints(tool.hwnd, nullptr, reinterpret_cast<POINT*>(&screen), 2);
                }
                icons.push_back({text, screen});
            }
        }
    }
    CloseHandle(shell);
    return icons;
}

inline TrayLook LookOf(const ShellTrayIcon& icon) {
    const int width = icon.screen.right - icon.screen.left, height = icon.screen.bottom - icon.screen.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;  // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, icon.screen.left, icon.screen.top, SRCCOPY);
    int yellow = 0, white = 0;
    for (int i = 0; bits && i < width * height; ++i) {
        const DWORD pixel = static_cast<const DWORD*>(bits)[i] & 0xFFFFFF;  // 0xRRGGBB
        yellow += pixel == 0xFFFF00;
        white += pixel == 0xFFFFFF;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return yellow > 0 ? TrayLook::Lit : white > 0 ? TrayLook::Unlit : TrayLook::Unseen;
}
