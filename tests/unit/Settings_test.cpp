// Registry layout: the defaults written at each run and the settings' reading rules.
#include "base/ModulePath.h"
#include "base/RegistryKey.h"
#include "config/ServiceSettings.h"
#include "host/Installation.h"
#include "host/ServiceHost.h"
#include "support/EventRecorder.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

const std::string kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\CorvaneTest";

class SettingsTest : public EventRecordingTest {
protected:
    void SetUp() override {
        EventRecordingTest::SetUp();
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey);
        PrepareRegistry(Host().Identity());
    }
    void TearDown() override {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey);
        PrepareRegistry(Host().Identity());
        EventRecordingTest::TearDown();
    }
    const std::string& parameters() { return Host().Identity().keys.parameters; }
};

TEST_F(SettingsTest, FirstRunWritesDefaultsModulesKeyAndEventSource) {
    EXPECT_EQ(parameters(), kServiceKey + "\\Parameters");
    EXPECT_EQ(Host().Identity().keys.modules, kServiceKey + "\\Parameters\\Modules");
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters(), "EnableLaunch"), 1u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters(), "EnableTrayIcon"), 1u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters(), "RelaunchOnContinue"), 0u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters(), "TerminateOnPause"), 0u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters(), "TerminateOnStop"), 0u);
    // The supervision settings are never written: without them the service behaves as before.
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, parameters(), "GracefulStopTimeout"));
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, parameters(), "TerminateProcessTree"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, Host().Identity().keys.modules));
    EXPECT_EQ(CountApplications(Host().Identity().keys), 0u);

    const std::string source = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\CorvaneTest";
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, source, "TypesSupported"), 7u);
    DWORD type = 0;
    std::string file = ReadString(HKEY_LOCAL_MACHINE, source, "EventMessageFile", &type);
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(file, ExecutablePath());
}

TEST_F(SettingsTest, PresentValuesAreLeftAloneWhateverTheirTypeOrSize) {
    WriteDword(HKEY_LOCAL_MACHINE, parameters(), "TerminateOnStop", 5);
    WriteString(HKEY_LOCAL_MACHINE, parameters(), "EnableLaunch", "abc");          // 4 bytes with the zero
    WriteString(HKEY_LOCAL_MACHINE, parameters(), "TerminateOnPause", "longer text");  // does not fit 4 bytes
    RegistryKey key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, parameters().c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
    ASSERT_EQ(RegDeleteValueA(key.get(), "EnableTrayIcon"), ERROR_SUCCESS);
    key.Close();

    PrepareRegistry(Host().Identity());

    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters(), "TerminateOnStop"), 5u);
    DWORD type = 0;
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, parameters(), "EnableLaunch", &type), "abc");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, parameters(), "TerminateOnPause"), "longer text");
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, parameters(), "EnableTrayIcon"), 1u);
}

// Each malformed service-wide value is reported with what the service does instead; a value
// that is well formed, or missing, is not.
TEST_F(SettingsTest, AMalformedSettingIsReportedWithWhatTheServiceDoesInstead) {
    const struct {
        const char* name;
        DWORD type;
        std::string bytes;
        const char* treatedAs;
    } cases[] = {{"TerminateOnStop", REG_BINARY, std::string("\1\0\0\0", 4), "0 (off)"},
                 {"EnableLaunch", REG_DWORD, std::string("\0\0", 2), "1 (on)"},
                 {"TerminateProcessTree", REG_SZ, std::string("1", 2), "0 (off)"}};
    WriteDword(HKEY_LOCAL_MACHINE, parameters(), "GracefulStopTimeout", 5000);
    for (const auto& c : cases) {
        WriteRawValue(HKEY_LOCAL_MACHINE, parameters(), c.name, c.type, c.bytes);
        events.clear();
        ReportMalformedSettings(Host().Identity().keys);
        ASSERT_EQ(events.size(), 1u) << c.name;
        EXPECT_EQ(events[0].text, std::string("Setting \"") + c.name +
                                      "\" is not a REG_DWORD of 4 bytes; the service treats it as " + c.treatedAs + ".");
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, parameters().c_str(), c.name);  // missing from now on
    }
}

TEST_F(SettingsTest, ReadersApplyTheirOwnRules) {
    WriteDword(HKEY_LOCAL_MACHINE, parameters(), "EnableLaunch", 2);
    WriteDword(HKEY_LOCAL_MACHINE, parameters(), "TerminateOnPause", 2);
    WriteDword(HKEY_LOCAL_MACHINE, parameters(), "TerminateOnStop", 1);
    WriteDword(HKEY_LOCAL_MACHINE, parameters(), "EnableTrayIcon", 0);
    EXPECT_TRUE(IsSettingOn(Host().Identity().keys, ServiceSetting::EnableLaunch));        // any non-zero is on
    EXPECT_FALSE(IsSettingOn(Host().Identity().keys, ServiceSetting::TerminateOnPause));   // only exactly 1 is on
    EXPECT_TRUE(IsSettingOn(Host().Identity().keys, ServiceSetting::TerminateOnStop));
    EXPECT_FALSE(IsSettingOn(Host().Identity().keys, ServiceSetting::EnableTrayIcon));
    EXPECT_FALSE(IsSettingOn(Host().Identity().keys, ServiceSetting::RelaunchOnContinue));

    // A flag is a number only when it is a REG_DWORD of 4 bytes; anything else counts as
    // missing, whatever its bytes say.
    WriteRawValue(HKEY_LOCAL_MACHINE, parameters(), "TerminateOnStop", REG_BINARY, std::string("\1\0\0\0", 4));
    WriteString(HKEY_LOCAL_MACHINE, parameters(), "EnableTrayIcon", "0");
    EXPECT_FALSE(IsSettingOn(Host().Identity().keys, ServiceSetting::TerminateOnStop));
    EXPECT_TRUE(IsSettingOn(Host().Identity().keys, ServiceSetting::EnableTrayIcon));

    // Missing values and a missing key fall back to each flag's default meaning.
    DeleteKeyTree(HKEY_LOCAL_MACHINE, parameters());
    EXPECT_TRUE(IsSettingOn(Host().Identity().keys, ServiceSetting::EnableLaunch));
    EXPECT_TRUE(IsSettingOn(Host().Identity().keys, ServiceSetting::EnableTrayIcon));
    EXPECT_FALSE(IsSettingOn(Host().Identity().keys, ServiceSetting::TerminateOnStop));
}

}  // namespace
