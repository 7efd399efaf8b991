// The applications of a Modules key: how many there are and their names by index.
#include "base/RegistryKey.h"
#include "config/ServiceKeys.h"
#include "config/ServiceSettings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(ServiceKeysTest, ApplicationsAreCountedAndNamedByIndex) {
    const std::string modules = TestKeys().modules;
    DeleteKeyTree(HKEY_LOCAL_MACHINE, modules);
    PrepareServiceKeys(TestKeys());
    WriteString(HKEY_LOCAL_MACHINE, modules + "\\Alpha", "ExePath", "C:\\a.exe");
    WriteDword(HKEY_LOCAL_MACHINE, modules + "\\Beta", "Instances", 3);
    ASSERT_EQ(CountApplications(TestKeys()), 2u);

    RegistryKey key;
    ASSERT_EQ(key.Open(HKEY_LOCAL_MACHINE, modules.c_str(), KEY_READ), ERROR_SUCCESS);
    std::string first, second, past;
    EXPECT_TRUE(GetApplicationName(key.get(), 0, first));
    EXPECT_TRUE(GetApplicationName(key.get(), 1, second));
    EXPECT_FALSE(GetApplicationName(key.get(), 2, past));  // index equal to the count
    EXPECT_FALSE(GetApplicationName(nullptr, 0, past));
    EXPECT_NE(first, second);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, modules);
    PrepareServiceKeys(TestKeys());
}

}  // namespace
