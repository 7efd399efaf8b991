#include "ui/DialogHost.h"

namespace {
// The dialog whose window this thread is creating. The dialog manager sends a few messages
// (WM_SETFONT, WM_INITDIALOG) before CreateDialogParamA or DialogBoxParamA gives the window
// to the caller; the first of them binds the window to this object.
thread_local DialogHost* dialogBeingCreated = nullptr;

// Sets the dialog being created for the length of one creation; a dialog created while another
// is being created (inside its WM_INITDIALOG) restores the outer one when done.
class CreationScope {
public:
    explicit CreationScope(DialogHost* dialog) : outer_(std::exchange(dialogBeingCreated, dialog)) {}
    ~CreationScope() { dialogBeingCreated = outer_; }
    CreationScope(const CreationScope&) = delete;
    CreationScope& operator=(const CreationScope&) = delete;

private:
    DialogHost* outer_;
};

// Messages whose answer a dialog procedure returns itself instead of through DWLP_MSGRESULT.
bool AnswersDirectly(UINT message) {
    switch (message) {
    case WM_INITDIALOG:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
        return true;
    default:
        return false;
    }
}
}  // namespace

DialogHost::DialogHost(HINSTANCE module, UINT templateId) : module_(module), templateId_(templateId) {}

DialogHost::~DialogHost() {
    if (window_) DestroyWindow(window_);
}

HWND DialogHost::Create(HWND owner, LPARAM parameter) {
    CreationScope scope(this);
    return CreateDialogParamA(module_, MAKEINTRESOURCEA(templateId_), owner, &DialogHost::DialogProc, parameter);
}

INT_PTR DialogHost::RunModal(HWND owner, LPARAM parameter) {
    CreationScope scope(this);
    return DialogBoxParamA(module_, MAKEINTRESOURCEA(templateId_), owner, &DialogHost::DialogProc, parameter);
}

void DialogHost::End(INT_PTR result) {
    EndDialog(window_, result);
}

std::string DialogHost::ItemText(int id) const {
    std::string text(static_cast<std::size_t>(GetWindowTextLengthA(Item(id))), '\0');
    text.resize(static_cast<std::size_t>(GetDlgItemTextA(window_, id, text.data(), static_cast<int>(text.size() + 1))));
    return text;
}

void DialogHost::SetItemText(int id, const std::string& text) const {
    SetDlgItemTextA(window_, id, text.c_str());
}

std::string DialogHost::SelectedText(int id) const {
    const LRESULT index = SendDlgItemMessageA(window_, id, CB_GETCURSEL, 0, 0);
    if (index == CB_ERR) return {};
    const LRESULT length = SendDlgItemMessageA(window_, id, CB_GETLBTEXTLEN, index, 0);
    if (length == CB_ERR) return {};
    std::string text(static_cast<std::size_t>(length), '\0');
    const LRESULT copied =
        SendDlgItemMessageA(window_, id, CB_GETLBTEXT, index, reinterpret_cast<LPARAM>(text.data()));
    text.resize(copied == CB_ERR ? 0 : static_cast<std::size_t>(copied));
    return text;
}

INT_PTR CALLBACK DialogHost::DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto* dialog = reinterpret_cast<DialogHost*>(GetWindowLongPtrA(window, DWLP_USER));
    if (!dialog) {
        dialog = std::exchange(dialogBeingCreated, nullptr);
        if (!dialog) return FALSE;  // not a window of ours
        dialog->window_ = window;
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(dialog));
    }

    WindowMessage received{message, wParam, lParam};
    const bool handled = dialog->Dispatch(received);
    if (message == WM_NCDESTROY) {
        // The window's last message: the object may outlive it, or be created again.
        SetWindowLongPtrA(window, DWLP_USER, 0);
        dialog->window_ = nullptr;
    }
    if (!handled) return FALSE;
    if (AnswersDirectly(message)) return static_cast<INT_PTR>(received.result);
    SetWindowLongPtrA(window, DWLP_MSGRESULT, received.result);
    return TRUE;
}

HelpContexts::HelpContexts(UINT templateId, std::initializer_list<Control> controls) {
    for (const Control& control : controls) {
        const DWORD context = 0x80000000u + templateId * 0x10000u + static_cast<DWORD>(control.id);
        pairs_.insert(pairs_.end(), {static_cast<DWORD>(control.id), context});
        if (control.labelId) pairs_.insert(pairs_.end(), {static_cast<DWORD>(control.labelId), context});
    }
    pairs_.insert(pairs_.end(), {0, 0});
}

DWORD HelpContexts::ContextOf(int id) const {
    for (std::size_t i = 0; pairs_[i] != 0; i += 2)
        if (pairs_[i] == static_cast<DWORD>(id)) return pairs_[i + 1];
    return 0;
}

bool HelpContexts::ShowControlHelp(const std::string& helpFile, LPARAM helpInfo) const {
    const auto* info = reinterpret_cast<const HELPINFO*>(helpInfo);
    if (!info || info->iContextType != HELPINFO_WINDOW) return false;
    // No help file ships; without one the help system shows nothing harmful.
    (void)WinHelpA(static_cast<HWND>(info->hItemHandle), helpFile.c_str(), HELP_WM_HELP,
                   reinterpret_cast<ULONG_PTR>(pairs_.data()));
    return true;
}

void HelpContexts::ShowContextHelp(const std::string& helpFile, HWND dialog) const {
    (void)WinHelpA(dialog, helpFile.c_str(), HELP_CONTEXTMENU, reinterpret_cast<ULONG_PTR>(pairs_.data()));
}
