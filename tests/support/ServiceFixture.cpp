#include "support/ServiceFixture.h"

void ProductServiceTest::CreateProductService() {
    ASSERT_TRUE(CreateDemandService(kService, BuildPath("corvane.exe")));
    WriteString(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService", kService);
    SetSetting("EnableLaunch", 1);
    SetSetting("EnableTrayIcon", 0);
    SetSetting("RelaunchOnContinue", 0);
    SetSetting("TerminateOnPause", 0);
    SetSetting("TerminateOnStop", 0);
}

void ProductServiceTest::RemoveProductService() {
    StopAndDeleteService(kService);
    Eventually([] { return ProcessIdsNamed("corvane.exe").empty(); });
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kEventSource);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kAppIdKey);
}

void ProductServiceTest::SetSetting(const char* name, DWORD value) {
    WriteDword(HKEY_LOCAL_MACHINE, kParameters, name, value);
}

void ProductServiceTest::AddApplication(const std::string& name, DWORD instances, const std::string& exePath,
                                        const std::string& args) {
    const std::string key = kModules + "\\" + name;
    WriteDword(HKEY_LOCAL_MACHINE, key, "Instances", instances);
    WriteDword(HKEY_LOCAL_MACHINE, key, "Attrib", SW_SHOWMINIMIZED);
    WriteString(HKEY_LOCAL_MACHINE, key, "ExePath", exePath);
    WriteString(HKEY_LOCAL_MACHINE, key, "CmdLineArgs", args);
}

void ProductServiceTest::Start() {
    ASSERT_TRUE(StartServiceNamed(kService));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));
}

void ProductServiceTest::Stop() {
    ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_STOP));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_STOPPED));
    ASSERT_TRUE(Eventually([] { return ProcessIdsNamed("corvane.exe").empty(); }));
}

void ProductServiceTest::Control(DWORD control, DWORD state) {
    ASSERT_TRUE(ControlServiceNamed(kService, control));
    ASSERT_TRUE(WaitForServiceState(kService, state));
}
