// Hosts a dialog object on a window that the system's dialog manager makes from a dialog
// template. The object is bound to its window while the window is being created, before the
// first message reaches it, and every message is looked up in the object's message table.
//
//   class MyDialog : public Dialog<MyDialog> {
//   public:
//       explicit MyDialog(HINSTANCE module) : Dialog(module, IDD_MY) {}
//       static std::span<const Entry> MessageTable();
//   private:
//       bool OnInit(WindowMessage& message);   // sets message.result, returns true if taken
//       void Save();                           // an action: always takes the message
//   };
//   std::span<const MyDialog::Entry> MyDialog::MessageTable() {
//       static const Entry table[] = {{WM_INITDIALOG, kAny, kAny, &MyDialog::OnInit},
//                                     {WM_COMMAND, IDOK, kAny, &MyDialog::Save}};
//       return table;
//   }
//
// A dialog object runs modally (RunModal) or modeless (Create, then the owner's message loop
// passes messages through IsDialogMessageA). It is used on the thread that created its window.
#pragma once
#include <windows.h>

#include <initializer_list>
#include <span>
#include <string>
#include <utility>
#include <vector>

// A message as the dialog receives it, and what the dialog answers when a handler takes it.
struct WindowMessage {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    LRESULT result = 0;
};

// Matches any control id, command or notification code in a message-table entry.
inline constexpr UINT kAny = ~0u;

class DialogHost {
public:
    DialogHost(HINSTANCE module, UINT templateId);
    // Destroys a modeless window that is still open.
    virtual ~DialogHost();
    DialogHost(const DialogHost&) = delete;
    DialogHost& operator=(const DialogHost&) = delete;

    // Creates the window as a modeless dialog; it is visible only when the template says so.
    // Null when it cannot be created (GetLastError tells why).
    HWND Create(HWND owner, LPARAM parameter = 0);
    // Runs the dialog modally; returns the value given to End, or -1 when it cannot be created.
    INT_PTR RunModal(HWND owner, LPARAM parameter = 0);
    // Ends a modal dialog; RunModal returns result.
    void End(INT_PTR result);

    // The bound window; null before creation and once it is destroyed.
    HWND Window() const { return window_; }
    HWND Item(int id) const { return GetDlgItem(window_, id); }
    UINT TemplateId() const { return templateId_; }
    // The module that holds the template and the dialog's other resources.
    HINSTANCE Module() const { return module_; }

    // The whole text of a control.
    std::string ItemText(int id) const;
    void SetItemText(int id, const std::string& text) const;
    // The text of a combo box's selected entry; empty when none is selected.
    std::string SelectedText(int id) const;

protected:
    // Hands the message to the table's handler; false when no entry takes it (the dialog
    // manager then does what it does by default).
    virtual bool Dispatch(WindowMessage& message) = 0;

private:
    static INT_PTR CALLBACK DialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HINSTANCE module_;
    UINT templateId_;
    HWND window_ = nullptr;
};

// A dialog whose messages are dispatched through the table that Owner::MessageTable() gives.
// The first entry that matches a message decides: its handler's answer is the dialog's.
template <typename Owner>
class Dialog : public DialogHost {
public:
    // A handler either decides whether it takes the message and what the dialog answers, or
    // is an action that takes every message its entry matches (the answer is 0).
    struct Entry {
        using Handler = bool (Owner::*)(WindowMessage& message);
        using Action = void (Owner::*)();
        constexpr Entry(UINT message, UINT id, UINT code, Handler handler)
            : message(message), id(id), code(code), handler(handler) {}
        constexpr Entry(UINT message, UINT id, UINT code, Action action)
            : message(message), id(id), code(code), action(action) {}

        UINT message;
        UINT id;    // WM_COMMAND: control or command id; WM_SYSCOMMAND: the command; else kAny
        UINT code;  // WM_COMMAND: notification code; else kAny
        Handler handler = nullptr;
        Action action = nullptr;
    };

protected:
    using DialogHost::DialogHost;

private:
    bool Dispatch(WindowMessage& message) final {
        for (const Entry& entry : Owner::MessageTable()) {
            if (!Matches(entry, message)) continue;
            Owner& owner = static_cast<Owner&>(*this);
            if (entry.handler) return (owner.*entry.handler)(message);
            (owner.*entry.action)();
            return true;
        }
        return false;
    }
    static bool Matches(const Entry& entry, const WindowMessage& message) {
        if (entry.message != message.message) return false;
        UINT id = kAny, code = kAny;
        if (message.message == WM_COMMAND) {
            id = LOWORD(message.wParam);
            code = HIWORD(message.wParam);
        } else if (message.message == WM_SYSCOMMAND) {
            id = static_cast<UINT>(message.wParam & 0xFFF0);  // the low four bits are the system's own
        }
        return (entry.id == kAny || entry.id == id) && (entry.code == kAny || entry.code == code);
    }
};

// The help contexts of a dialog's controls, laid out as the table that WinHelpA's
// HELP_WM_HELP and HELP_CONTEXTMENU take: the context of a control is
// 0x80000000 + template id * 65536 + the control's id, and a label takes its field's.
class HelpContexts {
public:
    struct Control {
        int id;
        int labelId = 0;  // 0: no label
    };
    HelpContexts(UINT templateId, std::initializer_list<Control> controls);

    // The context of a control or label; 0 when the table does not list it.
    DWORD ContextOf(int id) const;
    // Help for the control of a WM_HELP message (WinHelpA with HELP_WM_HELP); false when the
    // request is not for a control window.
    bool ShowControlHelp(const std::string& helpFile, LPARAM helpInfo) const;
    // The dialog's help menu for a WM_CONTEXTMENU (WinHelpA with HELP_CONTEXTMENU).
    void ShowContextHelp(const std::string& helpFile, HWND dialog) const;

private:
    std::vector<DWORD> pairs_;  // id, context, ..., 0, 0
};
