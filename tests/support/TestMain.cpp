// Test entry: the host is initialised as the program does it, under the test executables'
// own service name, so that its Parameters and Modules keys are the tests' own.
#include "base/RegistryKey.h"
#include "host/Installation.h"
#include "host/ServiceHost.h"
#include "resource.h"

#include <gtest/gtest.h>
#include <objbase.h>

int main(int argc, char** argv) {
    testing::InitGoogleTest(&argc, argv);
    ServiceHost& host = Host();
    host.InitHost(GetModuleHandleA(nullptr), IDS_SERVICENAME);
    (void)CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    PrepareRegistry(host.Identity());
    int result = RUN_ALL_TESTS();

    // Leave nothing of the tests' own service keys behind.
    RegistryKey services;
    if (services.Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services", KEY_ALL_ACCESS) == ERROR_SUCCESS)
        (void)services.DeleteTree(host.Identity().serviceName.c_str());
    RegistryKey sources;
    if (sources.Open(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application",
                     KEY_ALL_ACCESS) == ERROR_SUCCESS)
        (void)sources.DeleteTree(host.Identity().serviceName.c_str());
    CoUninitialize();
    return result;
}
