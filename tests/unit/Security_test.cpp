// The administrator check, the COM security descriptor, and the configure road that they guard.
#include "host/EntryPoint.h"
#include "base/MessageBox.h"
#include "host/Security.h"
#include "host/ServiceHost.h"
#include "host/UserInterface.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(Security, ThePrefixUserIsALocalAdministrator) { EXPECT_TRUE(IsLocalAdministrator()); }

TEST(Security, DescriptorHasANullDaclAndTheTokensOwnerAndGroup) {
    ComSecurityDescriptor holder;
    ASSERT_EQ(BuildComSecurityDescriptor(holder, false, true), S_OK);
    PSECURITY_DESCRIPTOR descriptor = holder.get();
    ASSERT_NE(descriptor, nullptr);
    EXPECT_TRUE(IsValidSecurityDescriptor(descriptor));

    BOOL present = FALSE, defaulted = TRUE;
    PACL dacl = reinterpret_cast<PACL>(1);
    ASSERT_TRUE(GetSecurityDescriptorDacl(descriptor, &present, &dacl, &defaulted));
    EXPECT_TRUE(present);
    EXPECT_EQ(dacl, nullptr);  // present and null: everyone may call

    PSID owner = nullptr, group = nullptr;
    ASSERT_TRUE(GetSecurityDescriptorOwner(descriptor, &owner, &defaulted));
    EXPECT_FALSE(defaulted);
    ASSERT_TRUE(GetSecurityDescriptorGroup(descriptor, &group, &defaulted));
    EXPECT_FALSE(defaulted);
    ASSERT_NE(owner, nullptr);
    ASSERT_NE(group, nullptr);

    // The owner is the process token's user: this thread does not impersonate.
    HANDLE token = nullptr;
    ASSERT_TRUE(OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token));
    BYTE buffer[512];
    DWORD size = 0;
    ASSERT_TRUE(GetTokenInformation(token, TokenUser, buffer, sizeof buffer, &size));
    CloseHandle(token);
    EXPECT_TRUE(EqualSid(owner, reinterpret_cast<TOKEN_USER*>(buffer)->User.Sid));
}

TEST(Security, WithoutTheProcessFallbackAThreadWithoutTokenFails) {
    ComSecurityDescriptor holder;
    HRESULT result = BuildComSecurityDescriptor(holder, false, false);
    EXPECT_EQ(result, HRESULT_FROM_WIN32(ERROR_NO_TOKEN));
}

// Records what the host asks of its user interface.
class RecordingInterface : public UserInterface {
public:
    HWND CreateMainWindow(ServiceHost&) override { return nullptr; }
    void ServiceStateChanged(ServiceHost&, DWORD) override {}
    void ShowConfiguration(ServiceHost& host) override {
        ++configurationsShown;
        // The configuration is shown over prepared keys.
        preparedWhenShown = KeyExists(HKEY_LOCAL_MACHINE, host.keys.modules);
    }
    int configurationsShown = 0;
    bool preparedWhenShown = false;
};

class ConfigureRoad : public testing::Test {
protected:
    void SetUp() override {
        SetMessageBoxResponder([this](const MessageBoxRequest& request) {
            boxes.push_back(request);
            return IDOK;
        });
        DeleteKeyTree(HKEY_LOCAL_MACHINE, Host().keys.parameters);
    }
    void TearDown() override {
        SetMessageBoxResponder(nullptr);
        SetAdministratorCheckForTesting(nullptr);
    }
    std::vector<MessageBoxRequest> boxes;
    RecordingInterface ui;
};

TEST_F(ConfigureRoad, ANonAdministratorIsToldAccessIsDenied) {
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
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, Host().keys.parameters));
}

TEST_F(ConfigureRoad, AnAdministratorGetsTheConfigurationPrepared) {
    SetAdministratorCheckForTesting([] { return true; });
    EXPECT_EQ(RunEntry(GetModuleHandleA(nullptr), "corvane.exe /configure", &ui), 0u);
    EXPECT_TRUE(boxes.empty());
    EXPECT_EQ(ui.configurationsShown, 1);
    EXPECT_TRUE(ui.preparedWhenShown);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, Host().keys.parameters, "EnableLaunch"), 1u);
}

TEST_F(ConfigureRoad, QuestionMarkAfterEitherSeparatorShowsTheHelp) {
    EXPECT_EQ(RunEntry(GetModuleHandleA(nullptr), "corvane.exe -?", &ui), 0u);
    EXPECT_EQ(RunEntry(GetModuleHandleA(nullptr), "corvane.exe /?", &ui), 0u);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, HelpText("CorvaneTest"));
    EXPECT_EQ(boxes[0].caption, "CorvaneTest");
    EXPECT_EQ(boxes[0].style, static_cast<UINT>(MB_ICONINFORMATION));
    EXPECT_EQ(boxes[1].text, boxes[0].text);
}

}  // namespace
