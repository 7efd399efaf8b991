#include "support/DialogDriver.h"

#include "support/TestSupport.h"

BoxAnswers::BoxAnswers(int answer) : answer(answer) {
    SetMessageBoxResponder([this](const MessageBoxRequest& request) {
        boxes.push_back(request);
        return (request.style & 0xF) == MB_YESNO ? this->answer : IDOK;
    });
}

BoxAnswers::~BoxAnswers() {
    SetMessageBoxResponder(nullptr);
}

HWND FindOwnWindow(const std::string& caption) {
    struct Search {
        const std::string* caption;
        HWND found;
    } search{&caption, nullptr};
    EnumWindows(
        [](HWND window, LPARAM parameter) -> BOOL {
            auto* s = reinterpret_cast<Search*>(parameter);
            DWORD process = 0;
            GetWindowThreadProcessId(window, &process);
            if (process != GetCurrentProcessId()) return TRUE;
            char text[256] = "";
            GetWindowTextA(window, text, sizeof text);
            if (*s->caption != text) return TRUE;
            s->found = window;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

WhenShown::WhenShown(std::string caption, std::function<void(HWND)> actions)
    : thread_([caption = std::move(caption), actions = std::move(actions)] {
          HWND window = nullptr;
          Eventually([&] {
              window = FindOwnWindow(caption);
              return window && IsWindowVisible(window);
          });
          actions(window);
      }) {}

WhenShown::~WhenShown() {
    thread_.join();
}

std::string ItemText(HWND dialog, int id) {
    char text[1024] = "";
    GetDlgItemTextA(dialog, id, text, sizeof text);
    return text;
}

void SetItemText(HWND dialog, int id, const std::string& text) {
    SetDlgItemTextA(dialog, id, text.c_str());
}

void Click(HWND dialog, int id) {
    // Bounded: a dialog of another process that shows a box nobody answers fails the test
    // instead of holding it.
    DWORD_PTR result = 0;
    SendMessageTimeoutA(GetDlgItem(dialog, id), BM_CLICK, 0, 0, SMTO_NORMAL, 30000, &result);
}

void Choose(HWND dialog, int id, const std::string& entry) {
    const LRESULT index =
        entry.empty() ? CB_ERR
                      : SendDlgItemMessageA(dialog, id, CB_FINDSTRINGEXACT, static_cast<WPARAM>(-1),
                                            reinterpret_cast<LPARAM>(entry.c_str()));
    SendDlgItemMessageA(dialog, id, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string ChosenText(HWND dialog, int id) {
    const LRESULT index = SendDlgItemMessageA(dialog, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return "";
    char text[1024] = "";
    SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

std::vector<std::string> Entries(HWND dialog, int id) {
    std::vector<std::string> entries;
    const LRESULT count = SendDlgItemMessageA(dialog, id, CB_GETCOUNT, 0, 0);
    for (LRESULT index = 0; index < count; ++index) {
        char text[1024] = "";
        SendDlgItemMessageA(dialog, id, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
        entries.push_back(text);
    }
    return entries;
}

bool IsEnabled(HWND dialog, int id) {
    return IsWindowEnabled(GetDlgItem(dialog, id)) != FALSE;
}

int FocusedItem(HWND dialog) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info)) return 0;
    for (HWND window = info.hwndFocus; window && window != dialog; window = GetParent(window))
        if (GetParent(window) == dialog) return GetDlgCtrlID(window);
    return 0;
}
