// The entry point: the option scanner, the help text, and what "-Configure" and "-?" do.
#include "host/EntryPoint.h"
#include "base/MessageBox.h"
#include "host/Security.h"
#include "host/ServiceHost.h"
#include "host/UserInterface.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(FindNextOption, StopsJustAfterEachSeparatorInTurn) {
    const char* line = "C:\\my-tools\\corvane.exe /Install -x";
    const char* first = FindNextOption(line, "-/");
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "tools\\corvane.exe /Install -x");
    const char* second = FindNextOption(first, "-/");
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second, "Install -x");
    const char* third = FindNextOption(second, "-/");
    ASSERT_NE(third, nullptr);
    EXPECT_STREQ(third, "x");
    EXPECT_EQ(FindNextOption(third, "-/"), nullptr);
    EXPECT_EQ(FindNextOption("", "-/"), nullptr);
    EXPECT_EQ(FindNextOption("no options here", "-/"), nullptr);
}

TEST(FindNextOption, ASeparatorAtTheEndLeavesAnEmptyRemainder) {
    const char* position = FindNextOption("corvane.exe -", "-/");
    ASSERT_NE(position, nullptr);
    EXPECT_STREQ(position, "");
    EXPECT_EQ(FindNextOption(position, "-/"), nullptr);
}

TEST(HelpText, ListsTheThreeMainOptions) {
    EXPECT_EQ(HelpText("Corvane"),
              "Following command line arguments are available for Corvane:\n"
              "\n-Install        [Installs the service and registers its COM components]"
              "\n-Remove    [Uninstalls the service and unregisters its COM components]"
              "\n-Configure  [Allows you to change properties of the service]");
    EXPECT_GT(HelpText("Corvane").size(), 256u);
}

// Records what the host asks of its user interface.
class RecordingInterface : public UserInterface {
public:
    HWND CreateMainWindow(UiHost&) override { return nullptr; }
    void ServiceStateChanged(UiHost&, DWORD) override {}
    DWORD RunTray(UiHost&) override { return ++traysRun; }
    void ShowConfiguration(UiHost& host) override {
        ++configurationsShown;
        // The configuration is shown over prepared keys.
        preparedWhenShown = KeyExists(HKEY_LOCAL_MACHINE, host.Identity().keys.modules);
    }
    int configurationsShown = 0;
    DWORD traysRun = 0;
    bool preparedWhenShown = false;
};

class EntryPointOptions : public testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxResponder([this](const MessageBoxRequest& request) {
            boxes.push_back(request);
            return IDOK;
        });
        DeleteKeyTree(HKEY_LOCAL_MACHINE, Host().Identity().keys.parameters);
    }
    void TearDown() override {
        SetMessageBoxResponder(nullptr);
        SetAdministratorCheckForTesting(nullptr);
    }
    std::vector<MessageBoxRequest> boxes;
    RecordingInterface ui;
};

TEST_F(EntryPointOptions, ANonAdministratorIsToldAccessIsDenied) {
    SetAdministratorCheckForTesting([] { return false; });
    EXPECT_EQ(RunEntry(GetModuleHandleA(nullptr), "corvane.exe -Configure", &ui), 0u);
    EXPECT_EQ(ui.configurationsShown, 0);
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text,
              "Access denied. You must be a member of local administrators group\nto configure Corvane.");
    EXPECT_EQ(boxes[0].caption, "CorvaneTest");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONERROR | MB_SERVICE_NOTIFICATION));
    EXPECT_EQ(boxes[0].owner, nullptr);
    // Nothing was prepared.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Host().Identity().keys.parameters));
}

TEST_F(EntryPointOptions, AnAdministratorGetsTheConfigurationPrepared) {
    SetAdministratorCheckForTesting([] { return true; });
    EXPECT_EQ(RunEntry(GetModuleHandleA(nullptr), "corvane.exe /configure", &ui), 0u);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(ui.configurationsShown, 1);
    EXPECT_TRUE(ui.preparedWhenShown);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, Host().Identity().keys.parameters, "EnableLaunch"), 1u);
}

TEST_F(EntryPointOptions, TrayRunsTheSessionsIconWithoutPreparingARun) {
    EXPECT_EQ(RunEntry(GetModuleHandleA(nullptr), "corvane.exe /tray", &ui), 1u);
    EXPECT_EQ(ui.traysRun, 1u);
    EXPECT_EQ(ui.configurationsShown, 0);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Host().Identity().keys.parameters));
}

TEST_F(EntryPointOptions, QuestionMarkAfterEitherSeparatorShowsTheHelp) {
    EXPECT_EQ(RunEntry(GetModuleHandleA(nullptr), "corvane.exe -?", &ui), 0u);
    EXPECT_EQ(RunEntry(GetModuleHandleA(nullptr), "corvane.exe /?", &ui), 0u);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, HelpText("CorvaneTest"));
    EXPECT_EQ(boxes[0].caption, "CorvaneTest");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(boxes[1].text, boxes[0].text);
}

}  // namespace
