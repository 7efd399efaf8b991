// The Properties dialog over this process's own Parameters key: the initial check states, what
// OK and Cancel write, and a key that cannot be written.
#include "base/MessageBox.h"
#include "host/ServiceHost.h"
#include "resource.h"
#include "support/ShellTray.h"
#include "support/TestSupport.h"
#include "ui/MainWindow.h"
#include "ui/PropertiesDialog.h"
#include "ui/TrayIcon.h"

#include <gtest/gtest.h>

#include <optional>

namespace {

struct Box {
    int id;
    const char* value;
    bool onUnlessZero;  // else on only when exactly 1
};
constexpr Box kBoxes[] = {
    {IDC_ENABLE_LAUNCH, "EnableLaunch", true},         {IDC_RELAUNCH_ON_CONTINUE, "RelaunchOnContinue", false},
    {IDC_ENABLE_TRAY_ICON, "EnableTrayIcon", true},    {IDC_TERMINATE_ON_PAUSE, "TerminateOnPause", false},
    {IDC_TERMINATE_ON_STOP, "TerminateOnStop", false},
};

class NoService : public TrayService {
public:
    bool IsRunning() override { return true; }
    bool IsServiceRunning() override { return true; }
    void Pause() override {}
    void Continue() override {}
    const HostIdentity& Identity() override { return Host().Identity(); }
};

class PropertiesDialogTest : public testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxResponder([this](const MessageBoxRequest& request) {
            boxes.push_back(request);
            return IDOK;
        });
    }
    void TearDown() override {
        dialog.reset();
        SetMessageBoxResponder(nullptr);
        (void)tray.RemoveTrayIcon();
        for (const Box& box : kBoxes) WriteDword(HKEY_LOCAL_MACHINE, parameters, box.value, 0);
        WriteDword(HKEY_LOCAL_MACHINE, parameters, "EnableLaunch", 1);
        WriteDword(HKEY_LOCAL_MACHINE, parameters, "EnableTrayIcon", 1);
    }
    // Every setting stored as value of type, or deleted when none.
    void StoreAll(std::optional<DWORD> value, DWORD type = REG_DWORD) {
        for (const Box& box : kBoxes)
            if (value)
                WriteRawValue(HKEY_LOCAL_MACHINE, parameters, box.value, type,
                              std::string(reinterpret_cast<const char*>(&*value), sizeof *value));
            else
                RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, parameters.c_str(), box.value);
    }
    // Opens the dialog modeless, so that the test thread can drive it; OK and Cancel end it as
    // they end the modal one.
    HWND Open(TrayIcon* icon = nullptr) {
        dialog = std::make_unique<PropertiesDialog>(GetModuleHandleA(nullptr), Host().Identity().keys, "CorvaneTest", "", icon);
        return dialog->Create(nullptr);
    }
    bool Checked(HWND window, int id) { return SendMessageA(GetDlgItem(window, id), BM_GETCHECK, 0, 0) == BST_CHECKED; }

    const std::string parameters = Host().Identity().keys.parameters;
    std::unique_ptr<PropertiesDialog> dialog;
    std::vector<MessageBoxRequest> boxes;
    NoService service;
    TrayIcon tray{GetModuleHandleA(nullptr), "CorvaneTest", service};
};

// A value that is not a REG_DWORD counts as missing, as it does for the service.
TEST_F(PropertiesDialogTest, TheBoxesShowTheStoredValuesByTheServicesRules) {
    const std::pair<std::optional<DWORD>, DWORD> cases[] = {{0, REG_DWORD},  {1, REG_DWORD},  {2, REG_DWORD},
                                                            {{}, REG_DWORD}, {0, REG_BINARY}, {1, REG_BINARY}};
    for (const auto& [stored, type] : cases) {
        SCOPED_TRACE((stored ? std::to_string(*stored) : "missing") + " of type " + std::to_string(type));
        StoreAll(stored, type);
        const bool read = stored && type == REG_DWORD;
        HWND window = Open();
        ASSERT_NE(window, nullptr);
        char caption[64] = "";
        GetWindowTextA(window, caption, sizeof caption);
        EXPECT_STREQ(caption, "Corvane - Properties");
        for (const Box& box : kBoxes) {
            const bool expected = box.onUnlessZero ? !(read && *stored == 0) : read && *stored == 1;
            EXPECT_EQ(Checked(window, box.id), expected) << box.value;
        }
        // The tray box only shows the setting.
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, IDC_ENABLE_TRAY_ICON)));
        dialog.reset();
    }
}

TEST_F(PropertiesDialogTest, OkWritesOneOrZeroForEveryBoxAndTakesTheIconAwayWhenItsBoxIsClear) {
    struct Case {
        std::optional<DWORD> stored;
        DWORD launch, relaunch, trayIcon, onPause, onStop;
    };
    const Case cases[] = {{2, 1, 0, 1, 0, 0}, {std::nullopt, 1, 0, 1, 0, 0}, {1, 1, 1, 1, 1, 1}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? std::to_string(*c.stored) : "missing");
        StoreAll(c.stored);
        WriteDword(HKEY_LOCAL_MACHINE, parameters, "EnableTrayIcon", c.stored ? *c.stored : 1);
        MainWindow owner(GetModuleHandleA(nullptr), "CorvaneTest", nullptr);
        tray.SetOwner(owner.Window());
        ASSERT_TRUE(tray.AddTrayIcon(true));
        if (!c.stored) RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, parameters.c_str(), "EnableTrayIcon");

        HWND window = Open(&tray);
        ASSERT_NE(window, nullptr);
        SendMessageA(window, WM_COMMAND, IDOK, 0);
        const DWORD expected[] = {c.launch, c.relaunch, c.trayIcon, c.onPause, c.onStop};
        for (std::size_t i = 0; i < std::size(kBoxes); ++i) {
            DWORD type = 0;
            EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters, kBoxes[i].value), expected[i]) << kBoxes[i].value;
            ReadString(HKEY_LOCAL_MACHINE, parameters, kBoxes[i].value, &type);
            EXPECT_EQ(type, static_cast<DWORD>(REG_DWORD)) << kBoxes[i].value;
        }
        EXPECT_FALSE(IsWindowVisible(window));
        EXPECT_EQ(ProductTrayTip("CorvaneTest"), c.trayIcon ? "CorvaneTest is running" : "");
        EXPECT_TRUE(boxes.empty());
        dialog.reset();
        (void)tray.RemoveTrayIcon();
    }
}

TEST_F(PropertiesDialogTest, CancelWritesNothing) {
    StoreAll(2);
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    for (const Box& box : kBoxes) SendMessageA(GetDlgItem(window, box.id), BM_SETCHECK, BST_UNCHECKED, 0);
    SendMessageA(window, WM_COMMAND, IDCANCEL, 0);
    for (const Box& box : kBoxes) EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters, box.value), 2u) << box.value;
}

TEST_F(PropertiesDialogTest, AKeyThatCannotBeWrittenKeepsTheDialogOpenAndWritesNothing) {
    DeleteKeyTree(HKEY_LOCAL_MACHINE, parameters);
    HWND window = Open();
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_SHOW);
    SendMessageA(GetDlgItem(window, IDC_TERMINATE_ON_STOP), BM_SETCHECK, BST_CHECKED, 0);
    SendMessageA(window, WM_COMMAND, IDOK, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unable to save properties at this time. Please try later.");
    EXPECT_EQ(boxes[0].caption, "CorvaneTest");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONWARNING));
    EXPECT_EQ(boxes[0].owner, window);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, parameters));
    EXPECT_TRUE(IsWindowVisible(window));
    // Once the key can be written, OK again saves.
    WriteDword(HKEY_LOCAL_MACHINE, parameters, "EnableLaunch", 0);
    SendMessageA(window, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters, "TerminateOnStop"), 1u);
    EXPECT_FALSE(IsWindowVisible(window));
}

}  // namespace
