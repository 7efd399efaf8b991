// The tray icon in this process, read back through the shell's notification area: its looks
// and tips, the EnableTrayIcon setting, "TaskbarCreated" (also after a log-off),
// the menu's item states and commands, and the access checks.
#include "base/MessageBox.h"
#include "host/Security.h"
#include "host/ServiceHost.h"
#include "resource.h"
#include "support/ShellTray.h"
#include "support/TestSupport.h"
#include "ui/MainWindow.h"
#include "ui/TrayIcon.h"

#include <gtest/gtest.h>
#include <shellapi.h>

#include <memory>
#include <stdexcept>

namespace {

const std::string kRunningTip = "CorvaneTest is running";
const std::string kPausedTip = "CorvaneTest is paused";

class FakeService : public TrayService {
public:
    bool IsRunning() override { return running; }
    bool IsServiceRunning() override {
        if (queryFails) throw std::runtime_error("no answer");
        return serviceRunning;
    }
    void Pause() override { ++pauses; }
    void Continue() override { ++continues; }
    const HostIdentity& Identity() override { return Host().Identity(); }

    bool running = true;
    bool serviceRunning = true;
    bool queryFails = false;
    int pauses = 0;
    int continues = 0;
};

std::string ShellTip() { return ProductTrayTip("CorvaneTest"); }

std::size_t ShellIconsTipped(const std::string& tip) {
    std::size_t count = 0;
    for (const ShellTrayIcon& icon : ShellTrayIcons()) count += icon.tip == tip;
    return count;
}

class TrayTest : public testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxResponder([this](const MessageBoxRequest& request) {
            boxes.push_back(request);
            return IDOK;
        });
        WriteDword(HKEY_LOCAL_MACHINE, Host().Identity().keys.parameters, "EnableTrayIcon", 1);
        window = std::make_unique<MainWindow>(GetModuleHandleA(nullptr), "CorvaneTest",
                                              [this](UINT message, WPARAM wParam, LPARAM lParam) {
                                                  return tray.HandleMessage(message, wParam, lParam);
                                              });
        ASSERT_NE(window->Window(), nullptr);
        tray.SetOwner(window->Window());
    }
    void TearDown() override {
        (void)tray.RemoveTrayIcon();
        window.reset();
        SetMessageBoxResponder(nullptr);
        SetAdministratorCheckForTesting(nullptr);
        WriteDword(HKEY_LOCAL_MACHINE, Host().Identity().keys.parameters, "EnableTrayIcon", 1);
    }
    // Deletes the icon in the shell without the program knowing, as a taskbar that goes away
    // takes its icons along.
    void ShellForgetsTheIcon() {
        NOTIFYICONDATAA icon{};
        icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
        icon.hWnd = window->Window();
        icon.uID = kTrayIconId;
        ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
        ASSERT_EQ(ShellTip(), "");
    }
    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
        return SendMessageA(window->Window(), message, wParam, lParam);
    }

    FakeService service;
    TrayIcon tray{GetModuleHandleA(nullptr), "CorvaneTest", service};
    std::unique_ptr<MainWindow> window;
    std::vector<MessageBoxRequest> boxes;
};

TEST_F(TrayTest, TheIconShowsItsLookAndTipUntilItIsRemoved) {
    ASSERT_TRUE(tray.AddTrayIcon(false));
    EXPECT_TRUE(tray.IsAdded());
    std::optional<ShellTrayIcon> icon = ProductTrayIcon("CorvaneTest");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->tip, kPausedTip);
    EXPECT_EQ(LookOf(*icon), TrayLook::Unlit);

    ASSERT_TRUE(tray.SetTrayIconState(true));
    icon = ProductTrayIcon("CorvaneTest");
    ASSERT_TRUE(icon);
    EXPECT_EQ(icon->tip, kRunningTip);
    EXPECT_EQ(LookOf(*icon), TrayLook::Lit);

    EXPECT_TRUE(tray.RemoveTrayIcon());
    EXPECT_FALSE(tray.IsAdded());
    EXPECT_EQ(ShellTip(), "");
    // Without an icon the shell refuses both a change and a second removal.
    EXPECT_FALSE(tray.SetTrayIconState(false));
    EXPECT_FALSE(tray.RemoveTrayIcon());
    EXPECT_EQ(ShellTip(), "");
}

TEST_F(TrayTest, OnlyAStoredZeroKeepsTheIconAway) {
    struct Case {
        const char* stored;  // null: the value is missing
        bool shown;
    };
    const Case cases[] = {{nullptr, true}, {"1", true}, {"2", true}, {"0", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored ? c.stored : "missing");
        if (c.stored)
            WriteDword(HKEY_LOCAL_MACHINE, Host().Identity().keys.parameters, "EnableTrayIcon", std::stoul(c.stored));
        else
            RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, Host().Identity().keys.parameters.c_str(), "EnableTrayIcon");
        EXPECT_EQ(tray.AddTrayIcon(true), c.shown);
        EXPECT_EQ(ShellTip(), c.shown ? kRunningTip : "");
        // A pause later leaves a tray without icon untouched.
        (void)tray.SetTrayIconState(false);
        EXPECT_EQ(ShellTip(), c.shown ? kPausedTip : "");
        (void)tray.RemoveTrayIcon();
    }
}

TEST(TrayTip, IsTheNameAndTheStateCutTo63Characters) {
    EXPECT_EQ(TrayIcon::TipText("Corvane", true), "Corvane is running");
    EXPECT_EQ(TrayIcon::TipText("Corvane", false), "Corvane is paused");
    const std::string name(60, 'n');
    EXPECT_EQ(TrayIcon::TipText(name, true), name + " is");
}

TEST(TrayMenu, ItemStatesFollowTheServicesState) {
    struct Case {
        bool running;
        UINT open, pause, resume, properties;
    };
    const Case cases[] = {{true, MF_ENABLED, MF_ENABLED, MF_GRAYED, MF_ENABLED},
                          {false, MF_GRAYED, MF_GRAYED, MF_ENABLED, MF_GRAYED}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.running ? "running" : "paused");
        HMENU menu = TrayIcon::LoadTrayMenu(GetModuleHandleA(nullptr), c.running);
        ASSERT_NE(menu, nullptr);
        HMENU popup = GetSubMenu(menu, 0);
        const UINT order[] = {ID_TRAY_OPEN, 0, ID_TRAY_PAUSE, ID_TRAY_CONTINUE, 0, ID_TRAY_PROPERTIES};
        ASSERT_EQ(GetMenuItemCount(popup), 6);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(GetMenuItemID(popup, i), order[i] ? order[i] : 0u) << i;
        const auto grayed = [&](UINT id) { return GetMenuState(menu, id, MF_BYCOMMAND) & (MF_GRAYED | MF_DISABLED); };
        EXPECT_EQ(grayed(ID_TRAY_OPEN), c.open);
        EXPECT_EQ(grayed(ID_TRAY_PAUSE), c.pause);
        EXPECT_EQ(grayed(ID_TRAY_CONTINUE), c.resume);
        EXPECT_EQ(grayed(ID_TRAY_PROPERTIES), c.properties);
        // "&Open" stays the default item, grayed or not.
        EXPECT_EQ(GetMenuDefaultItem(popup, FALSE, GMDI_USEDISABLED), static_cast<UINT>(ID_TRAY_OPEN));
        DestroyMenu(menu);
    }
}

TEST_F(TrayTest, ANewTaskbarGetsTheIconAskedForInItsLastLookAndNoOther) {
    // A taskbar that goes away (a log-off, a restart of the shell) takes the icon along; the
    // change made meanwhile is refused but kept as the look the new taskbar's broadcast shows.
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    ASSERT_TRUE(tray.AddTrayIcon(true));
    ShellForgetsTheIcon();
    EXPECT_FALSE(tray.SetTrayIconState(false));
    Send(taskbarCreated, 0, 0);
    EXPECT_EQ(ShellTip(), kPausedTip);
    EXPECT_EQ(ShellIconsTipped(kPausedTip), 1u);
    // An icon removed is not asked for: a new taskbar shows none.
    ASSERT_TRUE(tray.RemoveTrayIcon());
    Send(taskbarCreated, 0, 0);
    EXPECT_EQ(ShellTip(), "");
}

TEST_F(TrayTest, OpenPropertiesAndDoubleClickAreRefusedToANonAdministrator) {
    SetAdministratorCheckForTesting([] { return false; });
    struct Case {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
        const char* text;
    };
    const Case cases[] = {
        {WM_COMMAND, ID_TRAY_OPEN, 0,
         "Access denied. You must be a member of local administrators group\nto manage applications for this service."},
        {WM_COMMAND, ID_TRAY_PROPERTIES, 0,
         "Access denied. You must be a member of local administrators group\nto configure this service."},
        {WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDBLCLK,
         "Access denied. You must be a member of local administrators group\nto configure CorvaneTest."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        boxes.clear();
        Send(c.message, c.wParam, c.lParam);
        ASSERT_EQ(boxes.size(), 1u);
        EXPECT_EQ(boxes[0].text, c.text);
        EXPECT_EQ(boxes[0].caption, "CorvaneTest");
        EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_SERVICE_NOTIFICATION | MB_ICONERROR));
        EXPECT_EQ(boxes[0].owner, window->Window());
        EXPECT_FALSE(IsWindowVisible(window->Window()));
    }
    // Pause and Continue ask no one.
    Send(WM_COMMAND, ID_TRAY_PAUSE, 0);
    Send(WM_COMMAND, ID_TRAY_CONTINUE, 0);
    EXPECT_EQ(service.pauses, 1);
    EXPECT_EQ(service.continues, 1);
    EXPECT_EQ(boxes.size(), 1u);
}

TEST_F(TrayTest, AnAdministratorOpensTheMainWindowWhileTheServiceRuns) {
    SetAdministratorCheckForTesting([] { return true; });
    service.serviceRunning = false;
    Send(WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_FALSE(IsWindowVisible(window->Window()));
    service.serviceRunning = true;
    Send(WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDBLCLK);
    EXPECT_TRUE(IsWindowVisible(window->Window()));
    ShowWindow(window->Window(), SW_HIDE);
    Send(WM_COMMAND, ID_TRAY_OPEN, 0);
    EXPECT_TRUE(IsWindowVisible(window->Window()));
    EXPECT_TRUE(boxes.empty());
}

TEST_F(TrayTest, AFailureInsideTheIconsHandlerIsReportedAndTheTrayGoesOn) {
    service.queryFails = true;
    Send(WM_TRAYNOTIFY, kTrayIconId, WM_LBUTTONDBLCLK);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unexpected error encountered.");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONERROR));
    EXPECT_EQ(boxes[0].owner, window->Window());
    EXPECT_TRUE(tray.AddTrayIcon(true));
}

}  // namespace
