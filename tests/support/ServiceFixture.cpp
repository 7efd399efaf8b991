#include "support/ServiceFixture.h"

#include "base/Owners.h"

#include <fstream>
#include <iterator>

namespace {
std::string ReadFileText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
}  // namespace

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
    ASSERT_TRUE(StartServiceNamed(kService)) << "StartService: error " << GetLastError();
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

ProductServiceTest::CompanionRun ProductServiceTest::RunCompanion(const std::string& arguments) {
    const std::string files[] = {BuildPath("companion.out"), BuildPath("companion.err")};
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    UniqueHandle streams[2];
    for (int index = 0; index < 2; ++index)
        streams[index].reset(CreateFileA(files[index].c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit, CREATE_ALWAYS,
                                         FILE_ATTRIBUTE_NORMAL, nullptr));
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = streams[0].get();
    startup.hStdError = streams[1].get();
    std::string line = "\"" + BuildPath("corvane.com") + "\" " + arguments;
    std::wstring wide(line.size() + 1, L'\0');
    wide.resize(MultiByteToWideChar(CP_UTF8, 0, line.c_str(), -1, wide.data(), static_cast<int>(wide.size())) - 1);
    PROCESS_INFORMATION info{};
    CompanionRun run{~0u, {}, {}};
    if (CreateProcessW(nullptr, wide.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &info)) {
        CloseHandle(info.hThread);
        run.code = WaitForExitCode(info.hProcess, 60000);
        CloseHandle(info.hProcess);
    }
    for (auto& stream : streams) stream.reset();
    run.out = ReadFileText(files[0]);
    run.err = ReadFileText(files[1]);
    return run;
}
