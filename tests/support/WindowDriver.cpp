#include "support/WindowDriver.h"

#include "base/Owners.h"
#include "support/TestSupport.h"

HWND TopLevelWindowOf(DWORD processId, const char* className, const char* caption) {
    struct Search {
        DWORD processId;
        const char* className;
        const char* caption;
        HWND found;
    } search{processId, className, caption, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD owner = 0;
            GetWindowThreadProcessId(window, &owner);
            char name[128] = "", text[256] = "";
            GetClassNameA(window, name, sizeof name);
            GetWindowTextA(window, text, sizeof text);
            if (owner == s->processId && (!s->className || lstrcmpA(name, s->className) == 0) &&
                (!s->caption || lstrcmpA(text, s->caption) == 0)) {
                s->found = window;
                return FALSE;
            }
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND ProductMainWindow(DWORD processId) {
    HWND window = nullptr;
    Eventually([&] { return (window = TopLevelWindowOf(processId, "CorvaneMainWindow", nullptr)) != nullptr; });
    return window;
}

DWORD RunAndAnswer(const std::string& commandLine, const char* caption, WORD command,
                   const std::function<void(HWND)>& act) {
    DWORD processId = 0;
    UniqueHandle process(StartProcess(commandLine, &processId));
    if (!process) return ~0u;
    HWND window = nullptr;
    if (!Eventually([&] { return (window = TopLevelWindowOf(processId, nullptr, caption)) != nullptr; })) {
        TerminateProcess(process.get(), 1);
        return ~0u;
    }
    if (act) act(window);
    PostMessageA(window, WM_COMMAND, command, 0);
    return WaitForExitCode(process.get(), 20000);
}
