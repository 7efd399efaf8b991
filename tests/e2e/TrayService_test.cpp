// The notification-area icon of corvane.exe, as the shell shows it: of the real service, and
// of "corvane -Tray" in the user's own session.
#include "base/Owners.h"
#include "resource.h"
#include "support/ServiceFixture.h"
#include "support/ShellTray.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"

#include <gtest/gtest.h>
#include <shellapi.h>

namespace {

constexpr char kRunning[] = "Corvane is running";
constexpr char kPaused[] = "Corvane is paused";
constexpr UINT kTrayNotify = WM_APP + 100;

bool ShellShows(const std::string& tip) {
    return Eventually([&] { return ProductTrayTip("Corvane") == tip; });
}

// The shell draws the icon lit while the service runs and unlit while it is paused.
void ExpectLook(TrayLook look) {
    std::optional<ShellTrayIcon> icon = ProductTrayIcon("Corvane");
    ASSERT_TRUE(icon);
    EXPECT_EQ(LookOf(*icon), look) << icon->tip;
}

class TrayServiceTest : public ProductServiceTest {
protected:
    void SetUp() override {
        RemoveEverything();
        CreateProductService();
        SetSetting("EnableTrayIcon", 1);
    }
    void TearDown() override { RemoveEverything(); }
    void RemoveEverything() {
        RemoveProductService();
        KillProcessesNamed("sleeper.exe");
    }
    // The service's main window: the owner of its icon, where its menu's commands arrive.
    static HWND ServiceWindow() {
        std::vector<DWORD> ids = ProcessIdsNamed("corvane.exe");
        return ids.size() == 1 ? ProductMainWindow(ids[0]) : nullptr;
    }
};

TEST_F(TrayServiceTest, TheIconFollowsStartPauseContinueAndStop) {
    Start();
    ASSERT_TRUE(ShellShows(kRunning));
    ExpectLook(TrayLook::Lit);
    Control(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
    EXPECT_TRUE(ShellShows(kPaused));
    ExpectLook(TrayLook::Unlit);
    Control(SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
    EXPECT_TRUE(ShellShows(kRunning));
    ExpectLook(TrayLook::Lit);
    Stop();
    EXPECT_EQ(ProductTrayTip("Corvane"), "");
}

TEST_F(TrayServiceTest, PauseAndContinueFromTheMenuDriveTheServiceReactions) {
    AddApplication("Sleeper", 1, BuildPath("sleeper.exe"), "--seconds 600 tray");
    SetSetting("TerminateOnPause", 1);
    SetSetting("RelaunchOnContinue", 1);
    Start();
    ASSERT_TRUE(ShellShows(kRunning));
    ASSERT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").size() == 1; }));
    const DWORD first = ProcessIdsNamed("sleeper.exe")[0];
    HWND window = ServiceWindow();
    ASSERT_NE(window, nullptr);

    PostMessageA(window, WM_COMMAND, ID_TRAY_PAUSE, 0);
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_PAUSED));
    EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }));
    EXPECT_TRUE(ShellShows(kPaused));

    PostMessageA(window, WM_COMMAND, ID_TRAY_CONTINUE, 0);
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));
    EXPECT_TRUE(Eventually([&] {
        std::vector<DWORD> ids = ProcessIdsNamed("sleeper.exe");
        return ids.size() == 1 && ids[0] != first;
    }));
    EXPECT_TRUE(ShellShows(kRunning));
}

TEST_F(TrayServiceTest, ATaskbarCreatedBroadcastBringsTheIconBackInItsLook) {
    Start();
    ASSERT_TRUE(ShellShows(kRunning));
    HWND window = ServiceWindow();
    ASSERT_NE(window, nullptr);
    const UINT taskbarCreated = RegisterWindowMessageA("TaskbarCreated");
    for (const char* tip : {kRunning, kPaused}) {
        if (tip == kPaused) {
            Control(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
            ASSERT_TRUE(ShellShows(kPaused));
        }
        // A taskbar that restarts forgets its icons: delete the service's icon behind its back.
        NOTIFYICONDATAA icon{};
        icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
        icon.hWnd = window;
        icon.uID = 100;
        ASSERT_TRUE(Shell_NotifyIconA(NIM_DELETE, &icon));
        ASSERT_EQ(ProductTrayTip("Corvane"), "");
        DWORD_PTR answer = 0;
        SendMessageTimeoutA(HWND_BROADCAST, taskbarCreated, 0, 0, SMTO_ABORTIFHUNG, 5000, &answer);
        EXPECT_TRUE(ShellShows(tip)) << tip;
    }
}

TEST_F(TrayServiceTest, TheRightButtonAndOpenShowTheMenuAndTheDialogOfTheService) {
    AddApplication("Sleeper", 1, BuildPath("sleeper.exe"), "--seconds 600 tray");
    Start();
    ASSERT_TRUE(ShellShows(kRunning));
    HWND window = ServiceWindow();
    ASSERT_NE(window, nullptr);
    DWORD serviceId = 0;
    GetWindowThreadProcessId(window, &serviceId);
    PostMessageA(window, kTrayNotify, 100, WM_RBUTTONDOWN);
    HWND menu = nullptr;
    ASSERT_TRUE(Eventually([&] {
        menu = TopLevelWindowOf(serviceId, "#32768", nullptr);
        return menu && IsWindowVisible(menu);
    }));
    // Escape closes it; the service goes on.
    PostMessageA(menu, WM_KEYDOWN, VK_ESCAPE, 0);
    EXPECT_TRUE(Eventually([&] { return !IsWindowVisible(menu); }));
    EXPECT_EQ(QueryServiceState(kService), static_cast<DWORD>(SERVICE_RUNNING));

    // The first Open makes the dialog, the second shows it again; Cancel hides it each time.
    for (int open = 0; open < 2; ++open) {
        PostMessageA(window, WM_COMMAND, ID_TRAY_OPEN, 0);
        HWND dialog = nullptr;
        ASSERT_TRUE(Eventually([&] {
            dialog = TopLevelWindowOf(serviceId, nullptr, "Corvane - Manage Applications");
            return dialog && IsWindowVisible(dialog);
        }));
        EXPECT_EQ(SendDlgItemMessageA(dialog, IDC_NAME, CB_GETCOUNT, 0, 0), 2) << "{New} and Sleeper, open " << open;
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        EXPECT_TRUE(Eventually([&] { return !IsWindowVisible(dialog); }));
    }
}

TEST_F(TrayServiceTest, ConfigureSavedWithTheTrayBoxUncheckedLeavesTheServicesIcon) {
    Start();
    ASSERT_TRUE(ShellShows(kRunning));
    SetSetting("EnableTrayIcon", 0);
    const std::string configure = "\"" + BuildPath("corvane.exe") + "\" -Configure";
    EXPECT_EQ(RunAndAnswer(configure, "Corvane - Properties", IDOK), 0u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kParameters, "EnableTrayIcon"), 0u);
    EXPECT_EQ(ProductTrayTip("Corvane"), kRunning);
}

// "corvane -Tray" in the user's session: the same icon, following the service from outside.
class SessionTrayTest : public TrayServiceTest {
protected:
    void SetUp() override {
        TrayServiceTest::SetUp();
        // The service runs apart from the user's desktop, as services do since Windows Vista:
        // its own icon is never seen, only the session's.
        ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
        ServiceHandle service(OpenServiceA(manager.get(), kService.c_str(), SERVICE_CHANGE_CONFIG));
        ASSERT_TRUE(ChangeServiceConfigA(service.get(), SERVICE_WIN32_OWN_PROCESS, SERVICE_NO_CHANGE,
                                         SERVICE_NO_CHANGE, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                                         nullptr));
    }
    void TearDown() override {
        if (tray.get()) {
            PostThreadMessageA(trayThreadId, WM_QUIT, 0, 0);
            if (WaitForSingleObject(tray.get(), 20000) != WAIT_OBJECT_0) TerminateProcess(tray.get(), 1);
        }
        TrayServiceTest::TearDown();
    }
    void StartSessionTray() {
        DWORD processId = 0;
        tray.reset(StartProcess("\"" + BuildPath("corvane.exe") + "\" -Tray", &processId));
        ASSERT_TRUE(tray);
        trayWindow = ProductMainWindow(processId);
        ASSERT_NE(trayWindow, nullptr);
        trayThreadId = GetWindowThreadProcessId(trayWindow, nullptr);
    }
    UniqueHandle tray;
    DWORD trayThreadId = 0;
    HWND trayWindow = nullptr;
};

TEST_F(SessionTrayTest, TheIconFollowsTheServiceAndItsMenuControlsIt) {
    StartSessionTray();
    const std::string line = "\"" + BuildPath("corvane.exe") + "\" -Tray";
    // One per session: a second one ends at once.
    EXPECT_EQ(RunAndWait(line, 20000), 0u);

    Start();
    ASSERT_TRUE(ShellShows(kRunning));
    Control(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
    EXPECT_TRUE(ShellShows(kPaused));
    Control(SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
    EXPECT_TRUE(ShellShows(kRunning));

    PostMessageA(trayWindow, WM_COMMAND, ID_TRAY_PAUSE, 0);
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_PAUSED));
    EXPECT_TRUE(ShellShows(kPaused));
    PostMessageA(trayWindow, WM_COMMAND, ID_TRAY_CONTINUE, 0);
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));
    EXPECT_TRUE(ShellShows(kRunning));

    // Stopped, the service has no icon. (Stop() would wait for every corvane.exe to end.)
    Control(SERVICE_CONTROL_STOP, SERVICE_STOPPED);
    EXPECT_TRUE(ShellShows(""));
}

}  // namespace
