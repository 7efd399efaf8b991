// The dialog host: a dialog object is bound to its window before its first message, messages
// reach the handler of the first matching table entry, answers reach the sender, and modal
// and modeless dialogs end as asked. Runs on a template of the program (the Method dialog).
#include "ui/DialogHost.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

class ProbeDialog : public Dialog<ProbeDialog> {
public:
    ProbeDialog() : Dialog(GetModuleHandleA(nullptr), IDD_METHOD) {}
    static std::span<const Entry> MessageTable();

    std::string seen;             // names of the handlers called, in order
    HWND windowAtInit = nullptr;  // Window() as WM_INITDIALOG found it
    LPARAM parameterAtInit = 0;
    std::unique_ptr<ProbeDialog> inner;  // created inside WM_INITDIALOG when asked
    bool createInner = false;
    INT_PTR endWith = 0;  // a modal dialog ends with this at its first OK

private:
    bool OnInit(WindowMessage& m) {
        windowAtInit = Window();
        parameterAtInit = m.lParam;
        if (createInner) {
            inner = std::make_unique<ProbeDialog>();
            inner->Create(Window());
        }
        if (endWith) PostMessageA(Window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
        return Note("init", m);
    }
    bool OnOk(WindowMessage& m) {
        if (endWith) End(endWith);
        return Note("ok", m);
    }
    bool OnParamChange(WindowMessage& m) { return Note("change", m); }
    bool OnCancel(WindowMessage& m) { return Note("cancel", m); }
    bool OnClose(WindowMessage& m) { return Note("close", m); }
    bool OnUser(WindowMessage& m) {
        m.result = 42;
        return Note("user", m);
    }
    bool Note(const char* name, WindowMessage&) {
        seen += std::string(seen.empty() ? "" : " ") + name;
        return true;
    }
};

std::span<const ProbeDialog::Entry> ProbeDialog::MessageTable() {
    static const Entry table[] = {
        {WM_INITDIALOG, kAny, kAny, &ProbeDialog::OnInit},
        {WM_COMMAND, IDOK, BN_CLICKED, &ProbeDialog::OnOk},
        {WM_COMMAND, IDC_PARAM1, EN_CHANGE, &ProbeDialog::OnParamChange},
        {WM_COMMAND, IDCANCEL, kAny, &ProbeDialog::OnCancel},
        {WM_SYSCOMMAND, SC_CLOSE, kAny, &ProbeDialog::OnClose},
        {WM_USER + 7, kAny, kAny, &ProbeDialog::OnUser},
    };
    return table;
}

TEST(DialogHost, AModelessDialogIsBoundAtCreationAndUnboundWhenDestroyed) {
    ProbeDialog dialog;
    HWND window = dialog.Create(nullptr, 1234);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(dialog.Window(), window);
    EXPECT_EQ(dialog.windowAtInit, window);
    EXPECT_EQ(dialog.parameterAtInit, 1234);
    EXPECT_FALSE(IsWindowVisible(window)) << "the template is not visible";
    DestroyWindow(window);
    EXPECT_EQ(dialog.Window(), nullptr);
}

TEST(DialogHost, MessagesReachTheFirstMatchingEntryAndItsAnswerReachesTheSender) {
    struct Case {
        UINT message;
        WPARAM wParam;
        const char* handler;  // "" when no entry takes it
        LRESULT answer;
    } cases[] = {
        {WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), "ok", 0},
        {WM_COMMAND, MAKEWPARAM(IDOK, BN_SETFOCUS), "", 0},  // the code does not match
        {WM_COMMAND, MAKEWPARAM(IDC_PARAM1, EN_CHANGE), "change", 0},
        {WM_COMMAND, MAKEWPARAM(IDC_PARAM2, EN_CHANGE), "", 0},  // nor the id
        {WM_COMMAND, MAKEWPARAM(IDCANCEL, 0x1234), "cancel", 0},
        {WM_SYSCOMMAND, SC_CLOSE | 2, "close", 0},  // the low four bits are ignored
        {WM_USER + 7, 0, "user", 42},
    };
    ProbeDialog dialog;
    ASSERT_NE(dialog.Create(nullptr), nullptr);
    for (const Case& c : cases) {
        dialog.seen.clear();
        const LRESULT answer = SendMessageA(dialog.Window(), c.message, c.wParam, 0);
        EXPECT_EQ(dialog.seen, c.handler) << std::hex << c.message << " " << c.wParam;
        EXPECT_EQ(answer, c.answer) << std::hex << c.message << " " << c.wParam;
    }
}

TEST(DialogHost, ADialogCreatedDuringAnotherOnesCreationIsBoundToItsOwnWindow) {
    ProbeDialog outer;
    outer.createInner = true;
    ASSERT_NE(outer.Create(nullptr), nullptr);
    ASSERT_TRUE(outer.inner && outer.inner->Window());
    EXPECT_NE(outer.inner->Window(), outer.Window());
    EXPECT_EQ(outer.inner->windowAtInit, outer.inner->Window());
    outer.seen.clear();
    SendMessageA(outer.inner->Window(), WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    EXPECT_EQ(outer.inner->seen, "init ok");
    EXPECT_EQ(outer.seen, "");
}

TEST(DialogHost, AModalDialogReturnsTheValueItEndsWith) {
    ProbeDialog dialog;
    dialog.endWith = 7;
    EXPECT_EQ(dialog.RunModal(nullptr, 55), 7);
    EXPECT_EQ(dialog.parameterAtInit, 55);
    EXPECT_EQ(dialog.seen, "init ok");
    EXPECT_EQ(dialog.Window(), nullptr);
}

TEST(DialogHost, HelpContextsNumberControlsAndLabelsByTemplate) {
    const HelpContexts contexts(108, {{202, 203}, {271}});
    EXPECT_EQ(contexts.ContextOf(202), 0x806C00CAu);
    EXPECT_EQ(contexts.ContextOf(203), 0x806C00CAu);
    EXPECT_EQ(contexts.ContextOf(271), 0x806C010Fu);
    EXPECT_EQ(contexts.ContextOf(204), 0u);
}

}  // namespace
