// The six install and remove options of corvane.exe, each checked against what it must leave
// behind: the service in the service manager, the AppID, the class keys, the type library.
#include "base/Owners.h"
#include "registrar/RegistrarScript.h"
#include "support/SleeperReports.h"
#include "support/ProductKeys.h"
#include "support/TestSupport.h"
#include "Guids.h"
#include "resource.h"

#include <gtest/gtest.h>
#include <objbase.h>
#include <vector>

namespace {

const std::string kAppIdExeKey = "AppID\\Kestrun.EXE";

const std::string kTypeLibKey = "TypeLib\\" + GuidText(kTypeLibraryId);

// The names of the type library's platforms below each locale of its version key, which both
// registry views share: this build's and the other architecture's.
const char* const kOwnPlatform = sizeof(void*) == 8 ? "win64" : "win32";
const char* const kOtherPlatform = sizeof(void*) == 8 ? "win32" : "win64";

const char* const kProgIds[] = {"Launcher.Launch.1", "Launcher.Launch", "Launcher.Module.1", "Launcher.Module"};
const GUID* const kClasses[] = {&kClsidLaunch, &kClsidModule};
const GUID* const kInterfaces[] = {&kIidILaunch, &kIidIModule};

// A subkey that marks an interface key as the other build's. Wine's RegisterTypeLib writes a
// library's interface keys in both registry views, so that an interface key there after an
// installation may be the installing build's own; the mark tells them apart.
const std::string kOtherBuildMark = "CorvaneTestsOtherBuild";

// What the build of the other architecture registers: its class scripts and its interface keys
// in its own registry view, and its platform's name below the shared TypeLib key.
void RegisterOtherBuildClasses() {
    for (UINT script : {IDR_LAUNCH_SCRIPT, IDR_MODULE_SCRIPT})
        ASSERT_EQ(RunRegistrationScript(nullptr, script, true, nullptr, kOtherRegistryView), S_OK);
    for (const GUID* iid : kInterfaces)
        WriteString(HKEY_CLASSES_ROOT, "Interface\\" + GuidText(*iid) + "\\" + kOtherBuildMark, nullptr, "",
                    kOtherRegistryView);
    WriteString(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0", nullptr, "Corvane 1.0");
    for (const char* locale : {"409", "0"})
        WriteString(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0\\" + locale + "\\" + kOtherPlatform, nullptr,
                    "C:\\Corvane\\corvane.exe");
    WriteString(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0\\FLAGS", nullptr, "0");
}

// The keys of the other build's registration that are still there.
std::vector<std::string> OtherBuildLeftovers() {
    std::vector<std::string> left;
    auto check = [&](const std::string& path, REGSAM view) {
        if (KeyExists(HKEY_CLASSES_ROOT, path, view)) left.push_back(path);
    };
    for (const char* progId : kProgIds) check(progId, kOtherRegistryView);
    for (const GUID* clsid : kClasses) check("CLSID\\" + GuidText(*clsid), kOtherRegistryView);
    for (const GUID* iid : kInterfaces) check("Interface\\" + GuidText(*iid) + "\\" + kOtherBuildMark, kOtherRegistryView);
    for (const char* locale : {"409", "0"}) check(kTypeLibKey + "\\1.0\\" + locale + "\\" + kOtherPlatform, 0);
    return left;
}

struct ServiceConfig {
    bool exists = false;
    DWORD type = 0;
    DWORD startType = 0;
    DWORD errorControl = 0;
    std::string binaryPath;
    std::string displayName;
    std::string account;
};

ServiceConfig QueryConfig(const std::string& name) {
    ServiceConfig config;
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager ? OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_CONFIG) : nullptr);
    if (!service) return config;
    DWORD needed = 0;
    QueryServiceConfigA(service.get(), nullptr, 0, &needed);
    std::vector<BYTE> buffer(needed);
    auto* raw = reinterpret_cast<QUERY_SERVICE_CONFIGA*>(buffer.data());
    if (!QueryServiceConfigA(service.get(), raw, needed, &needed)) return config;
    config.exists = true;
    config.type = raw->dwServiceType;
    config.startType = raw->dwStartType;
    config.errorControl = raw->dwErrorControl;
    config.binaryPath = raw->lpBinaryPathName ? raw->lpBinaryPathName : "";
    config.displayName = raw->lpDisplayName ? raw->lpDisplayName : "";
    config.account = raw->lpServiceStartName ? raw->lpServiceStartName : "";
    return config;
}

class Installation : public testing::Test {
protected:
    void SetUp() override { RemoveEverything(); }
    void TearDown() override { RemoveEverything(); }

    static void RemoveEverything() {
        StopAndDeleteService(kService);
        Eventually([] { return QueryServiceState(kService) == 0; });
        KillProcessesNamed("sleeper.exe");
        DeleteKeyTree(HKEY_CLASSES_ROOT, kAppIdKey);
        DeleteKeyTree(HKEY_CLASSES_ROOT, kAppIdExeKey);
        DeleteKeyTree(HKEY_CLASSES_ROOT, kTypeLibKey);
        for (REGSAM view : {REGSAM{0}, kOtherRegistryView}) {
            for (const char* progId : kProgIds) DeleteKeyTree(HKEY_CLASSES_ROOT, progId, view);
            for (const GUID* clsid : kClasses) DeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID\\" + GuidText(*clsid), view);
        }
        for (const GUID* iid : kInterfaces)
            DeleteKeyTree(HKEY_CLASSES_ROOT, "Interface\\" + GuidText(*iid), kOtherRegistryView);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey);
    }

    static DWORD Run(const std::string& option) {
        return RunAndWait("\"" + BuildPath("corvane.exe") + "\" " + option);
    }

    static void ExpectServiceInstalled() {
        ServiceConfig config = QueryConfig(kService);
        ASSERT_TRUE(config.exists);
        EXPECT_EQ(config.type, static_cast<DWORD>(SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS));
        EXPECT_EQ(config.startType, static_cast<DWORD>(SERVICE_AUTO_START));
        EXPECT_EQ(config.errorControl, static_cast<DWORD>(SERVICE_ERROR_NORMAL));
        EXPECT_EQ(config.displayName, kService);
        EXPECT_EQ(config.binaryPath, "\"" + BuildPath("corvane.exe") + "\"");
        // Wine's QueryServiceConfig leaves the dependencies out; the service manager keeps them
        // in the service's key.
        DWORD type = 0;
        std::string dependencies = ReadString(HKEY_LOCAL_MACHINE, kServiceKey, "DependOnService", &type);
        EXPECT_EQ(type, static_cast<DWORD>(REG_MULTI_SZ));
        EXPECT_EQ(dependencies, "RPCSS");
        EXPECT_TRUE(config.account.empty() || lstrcmpiA(config.account.c_str(), "LocalSystem") == 0)
            << config.account;
    }
    // The AppID key that the COM half needs (the entry point runs only where it exists), naming
    // no service.
    static void ExpectAppIdWithoutService() {
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kAppIdKey, nullptr), "Kestrun");
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kAppIdExeKey, "AppID"), kAppIdText);
        EXPECT_FALSE(ValueExists(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService"));
    }
    static void ExpectAppIdRegistered() {
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kAppIdKey, nullptr), "Kestrun");
        // The service's own name: COM starts that service to serve the classes.
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService"), kService);
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kAppIdKey, "ServiceParameters"), "-Install");
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kAppIdExeKey, "AppID"), kAppIdText);
    }
    static void ExpectClassesRegistered(bool registered) {
        char shortPath[MAX_PATH] = "";
        GetShortPathNameA(BuildPath("corvane.exe").c_str(), shortPath, sizeof shortPath);
        struct Class {
            const GUID& clsid;
            std::string name;
        } classes[] = {{kClsidLaunch, "Launch"}, {kClsidModule, "Module"}};
        for (const Class& c : classes) {
            const std::string clsid = GuidText(c.clsid);
            const std::string key = "CLSID\\" + clsid;
            const std::string progId = "Launcher." + c.name;
            if (!registered) {
                EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, key)) << key;
                EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, progId)) << progId;
                EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, progId + ".1")) << progId;
                continue;
            }
            EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, progId + ".1", nullptr), c.name + " Class");
            EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, progId + ".1\\CLSID", nullptr), clsid);
            EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, progId + "\\CLSID", nullptr), clsid);
            EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, nullptr), c.name + " Class");
            EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + "\\ProgID", nullptr), progId + ".1");
            EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + "\\VersionIndependentProgID", nullptr), progId);
            EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key, "AppID"), kAppIdText);
            // Quoted: unquoted, a long path with a blank lets COM start another program.
            EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, key + "\\LocalServer32", nullptr),
                      std::string("\"") + shortPath + "\"");
        }
    }
    static bool TypeLibraryRegistered() { return KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0"); }
};

TEST_F(Installation, InstallThenRemove) {
    ASSERT_EQ(Run("-Install"), 0u);
    ExpectServiceInstalled();
    ExpectAppIdRegistered();
    EXPECT_TRUE(TypeLibraryRegistered());
    EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0", nullptr), "Corvane 1.0");
    ExpectClassesRegistered(true);
    // Installation alone prepares no configuration: the first run does.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kServiceKey + "\\Parameters"));

    ASSERT_EQ(Run("-Remove"), 0u);
    EXPECT_TRUE(Eventually([] { return !QueryConfig(kService).exists; }));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAppIdKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAppIdExeKey));
    EXPECT_FALSE(TypeLibraryRegistered());
    ExpectClassesRegistered(false);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "AppID"));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
}

// One build replaces the other: installing either removes the class registration that the
// other architecture's build left in its registry view (the service and the AppID are shared
// by both views), and removing either leaves nothing of both behind.
TEST_F(Installation, EitherBuildReplacesTheOtherAndRemovesBoth) {
    ASSERT_NO_FATAL_FAILURE(RegisterOtherBuildClasses());
    ASSERT_EQ(OtherBuildLeftovers().size(), 10u);  // what the checks below must see go

    ASSERT_EQ(Run("-Install"), 0u);
    EXPECT_EQ(OtherBuildLeftovers(), std::vector<std::string>{});
    ExpectClassesRegistered(true);
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0\\409\\" + kOwnPlatform));
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey + "\\1.0\\0\\" + kOwnPlatform));

    // The other build installed again beside this one; removing this one removes both.
    ASSERT_NO_FATAL_FAILURE(RegisterOtherBuildClasses());
    ASSERT_EQ(Run("-Remove"), 0u);
    EXPECT_EQ(OtherBuildLeftovers(), std::vector<std::string>{});
    ExpectClassesRegistered(false);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));

    // Only the other build installed: removing this one still removes it, type library and all.
    ASSERT_NO_FATAL_FAILURE(RegisterOtherBuildClasses());
    ASSERT_EQ(Run("-Remove"), 0u);
    EXPECT_EQ(OtherBuildLeftovers(), std::vector<std::string>{});
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kTypeLibKey));
}

TEST_F(Installation, OptionsIgnoreCaseAndTakeEitherSeparator) {
    ASSERT_EQ(Run("-install"), 0u);
    EXPECT_TRUE(QueryConfig(kService).exists);
    ASSERT_EQ(Run("/REMOVE"), 0u);
    EXPECT_TRUE(Eventually([] { return !QueryConfig(kService).exists; }));
    ASSERT_EQ(Run("/INSTALL"), 0u);
    EXPECT_TRUE(QueryConfig(kService).exists);
}

TEST_F(Installation, ServiceHalfOnly) {
    ASSERT_EQ(Run("-InstallService"), 0u);
    ExpectServiceInstalled();
    ExpectAppIdRegistered();
    EXPECT_FALSE(TypeLibraryRegistered());
    ExpectClassesRegistered(false);

    ASSERT_EQ(Run("-RemoveService"), 0u);
    EXPECT_TRUE(Eventually([] { return !QueryConfig(kService).exists; }));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAppIdKey));
}

TEST_F(Installation, ComServerHalfOnly) {
    ASSERT_EQ(Run("-InstallService"), 0u);
    // The COM half removes an installed service first, and with it the AppID's reference to it:
    // COM would otherwise try to start the deleted service.
    ASSERT_EQ(Run("-InstallCOMServer"), 0u);
    EXPECT_TRUE(Eventually([] { return !QueryConfig(kService).exists; }));
    EXPECT_TRUE(TypeLibraryRegistered());
    ExpectClassesRegistered(true);
    ExpectAppIdWithoutService();

    // The last half goes with the AppID key.
    ASSERT_EQ(Run("-RemoveCOMServer"), 0u);
    EXPECT_FALSE(TypeLibraryRegistered());
    ExpectClassesRegistered(false);
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAppIdKey));
    EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kAppIdExeKey));
}

// Without the service, COM starts corvane.exe by the classes' LocalServer32; the process serves
// them and ends with its last object. Installed alone, or left alone by the removal of the
// service half.
TEST_F(Installation, TheComServerAloneServesItsClasses) {
    const struct {
        const char* what;
        std::vector<const char*> options;
    } cases[] = {{"installed alone", {"-InstallCOMServer"}}, {"service half removed", {"-Install", "-RemoveService"}}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (const char* option : c.options) ASSERT_EQ(Run(option), 0u) << option;
        EXPECT_TRUE(Eventually([] { return !QueryConfig(kService).exists; }));
        ExpectAppIdWithoutService();
        ExpectClassesRegistered(true);

        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(L"Launcher.Module", &clsid), S_OK);
        IUnknown* object = nullptr;
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&object)),
                  S_OK);
        std::vector<DWORD> servers = ProcessIdsNamed("corvane.exe");
        ASSERT_EQ(servers.size(), 1u);
        UniqueHandle server(OpenProcess(SYNCHRONIZE, FALSE, servers[0]));
        object->Release();
        EXPECT_EQ(WaitForSingleObject(server.get(), 20000), WAIT_OBJECT_0) << "the server outlived its last object";
        RemoveEverything();
    }
}

TEST_F(Installation, ComServerThenServiceKeepsTheClassHalf) {
    ASSERT_EQ(Run("-InstallCOMServer"), 0u);
    ExpectAppIdWithoutService();
    ASSERT_EQ(Run("-InstallService"), 0u);
    EXPECT_TRUE(TypeLibraryRegistered());
    ExpectClassesRegistered(true);
    ExpectServiceInstalled();
    ExpectAppIdRegistered();
}

TEST_F(Installation, InstalledServiceStartsWithNetStartAndLaunches) {
    ASSERT_EQ(Run("-Install"), 0u);
    ReportDirectory reports("install-net-start");
    const std::string app = kServiceKey + "\\Parameters\\Modules\\Sleeper";
    WriteString(HKEY_LOCAL_MACHINE, app, "ExePath", BuildPath("sleeper.exe"));
    WriteString(HKEY_LOCAL_MACHINE, app, "CmdLineArgs", "--report " + reports.path());
    WriteDword(HKEY_LOCAL_MACHINE, app, "Instances", 2);
    WriteDword(HKEY_LOCAL_MACHINE, app, "Attrib", 1);
    WriteDword(HKEY_LOCAL_MACHINE, kServiceKey + "\\Parameters", "TerminateOnStop", 1);

    EXPECT_EQ(RunAndWait("net start Corvane"), 0u);
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));
    EXPECT_TRUE(Eventually([&] { return reports.Count() == 2; }));
    EXPECT_EQ(ProcessIdsNamed("sleeper.exe").size(), 2u);

    ASSERT_TRUE(ControlServiceNamed(kService, SERVICE_CONTROL_STOP));
    EXPECT_TRUE(WaitForServiceState(kService, SERVICE_STOPPED));
    EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }));
}

TEST_F(Installation, ClassesAreServedByTheInstalledService) {
    ASSERT_EQ(Run("-Install"), 0u);
    const std::pair<const wchar_t*, const IID*> classes[] = {{L"Launcher.Launch", &kIidILaunch},
                                                            {L"Launcher.Module.1", &kIidIModule}};
    for (const auto& [progId, ownIid] : classes) {
        CLSID clsid{};
        ASSERT_EQ(CLSIDFromProgID(progId, &clsid), S_OK);
        IUnknown* object = nullptr;
        // The AppID names a local service: COM starts the service to serve the class.
        ASSERT_EQ(CoCreateInstance(clsid, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(&object)),
                  S_OK);
        EXPECT_EQ(QueryServiceState(kService), static_cast<DWORD>(SERVICE_RUNNING));
        IDispatch* dispatch = nullptr;
        EXPECT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
        if (dispatch) dispatch->Release();
        // The installed type library lets COM marshal the class's own dual interface too.
        IUnknown* dual = nullptr;
        EXPECT_EQ(object->QueryInterface(*ownIid, reinterpret_cast<void**>(&dual)), S_OK);
        if (dual) dual->Release();
        IUnknown* other = reinterpret_cast<IUnknown*>(1);
        EXPECT_EQ(object->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&other)), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
        object->Release();
    }
    // The service does not end with its last object (a stop would be seen within the wait).
    EXPECT_FALSE(WaitForServiceState(kService, SERVICE_STOPPED, 2000));
    EXPECT_EQ(QueryServiceState(kService), static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(ProcessIdsNamed("corvane.exe").size(), 1u);
}

TEST_F(Installation, InstallOverARunningServiceEndsWithTheNewServiceInstalled) {
    ASSERT_EQ(Run("-Install"), 0u);
    ASSERT_TRUE(StartServiceNamed(kService));
    ASSERT_TRUE(WaitForServiceState(kService, SERVICE_RUNNING));

    EXPECT_EQ(Run("-Install"), 0u);
    ExpectServiceInstalled();
    // The old service was stopped and deleted; the new one has not been started.
    EXPECT_EQ(QueryServiceState(kService), static_cast<DWORD>(SERVICE_STOPPED));
    EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("corvane.exe").empty(); }));
}

}  // namespace

namespace {

TEST_F(Installation, AServiceThatCannotGoMakesInstallFail) {
    ASSERT_EQ(Run("-Install"), 0u);
    // An open handle keeps a service marked for deletion in the service manager.
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle held(OpenServiceA(manager.get(), kService.c_str(), SERVICE_QUERY_STATUS));
    ASSERT_TRUE(held);
    DWORD code = Run("-Install");
    // The old service could not go within the bounded wait: no new one was created, and the
    // exit code says so instead of reporting success.
    EXPECT_EQ(code, static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_SERVICE_MARKED_FOR_DELETE)));
    // A removal that cannot delete the service says so too.
    EXPECT_EQ(Run("-Remove"), static_cast<DWORD>(HRESULT_FROM_WIN32(ERROR_SERVICE_MARKED_FOR_DELETE)));
    held.reset();
    // Once the last handle goes, the marked service is deleted.
    EXPECT_TRUE(Eventually([] { return !QueryConfig(kService).exists; }));
}

}  // namespace
