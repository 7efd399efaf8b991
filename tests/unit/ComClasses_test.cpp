// The COM classes Launch and Module: interface tables, the binary layout of the dual
// interfaces, IDispatch from the registered type library, the class factory with its
// aggregation rules, the server lock, and both classes created by another process.
#include "com/ClassTable.h"
#include "com/ComObject.h"
#include "base/Conversions.h"
#include "com/LaunchObject.h"
#include "com/ModuleObject.h"
#include "host/ServiceHost.h"
#include "registrar/RegistrarScript.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <tuple>

using Microsoft::WRL::ComPtr;

namespace {

const GUID kOtherIid = {0x1f0e5c3a, 0x2b4d, 0x4e6f, {0x80, 0x91, 0xa2, 0xb3, 0xc4, 0xd5, 0xe6, 0xf7}};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// "description (source)" of the thread's error info, if its GUID is interfaceId.
std::string TakeError(const IID& interfaceId) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK) return "<none>";
    Bstr description, source;
    GUID guid{};
    info->GetDescription(description.out());
    info->GetSource(source.out());
    info->GetGUID(&guid);
    if (!IsEqualGUID(guid, interfaceId)) return "<other interface>";
    return ToAnsi(description.get()) + " (" + ToAnsi(source.get()) + ")";
}

void RegisterTypeLibrary(bool doRegister) {
    if (!doRegister) {
        (void)UnRegisterTypeLib(kTypeLibraryId, 1, 0, kTypeLibraryLocale, SYS_WIN64);
        return;
    }
    std::wstring path = Wide(BuildPath("corvane.exe"));
    ComPtr<ITypeLib> library;
    ASSERT_EQ(LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library), S_OK);
    ASSERT_EQ(RegisterTypeLib(library.Get(), path.data(), nullptr), S_OK);
}

// The objects share one cache per interface for the process; a cache of the test's own shows
// a first load that fails and the next call that tries again.
TEST(TypeInfoLoadingTest, AnUnregisteredLibraryFailsAndIsTriedAgain) {
    RegisterTypeLibrary(false);
    TypeInfoCache cache(kIidILaunch);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(cache.GetTypeInfo(0, &info), TYPE_E_LIBNOTREGISTERED);
    RegisterTypeLibrary(true);
    EXPECT_EQ(cache.GetTypeInfo(0, &info), S_OK);
    RegisterTypeLibrary(false);
}

// The host's COM server: its lifetime ends the plain server's loop.
ComServer& Server() { return Host().Server(); }

// Each class-table entry registers its class with its own script (this executable carries the
// same scripts) and removes it again.
TEST(ClassTableTest, LaunchThenModuleEachWithItsRegistrationScript) {
    const auto table = ProgramClassTable();
    ASSERT_EQ(table.size(), 2u);
    const std::tuple<GUID, const char*> expected[] = {{kClsidLaunch, "Launcher.Launch.1"},
                                                      {kClsidModule, "Launcher.Module.1"}};
    for (int i = 0; i < 2; ++i) {
        const auto& [clsid, progId] = expected[i];
        ASSERT_TRUE(table[i].clsid && IsEqualGUID(*table[i].clsid, clsid));
        EXPECT_TRUE(table[i].createClassObject && table[i].createInstance);
        const std::string classKey = "CLSID\\" + GuidText(clsid);
        ASSERT_EQ(RunRegistrationScript(nullptr, table[i].registrationScript, true), S_OK);
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::string(progId) + "\\CLSID", nullptr), GuidText(clsid));
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\ProgID", nullptr), progId);
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\LocalServer32"));
        ASSERT_EQ(RunRegistrationScript(nullptr, table[i].registrationScript, false), S_OK);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, progId));
    }
}

// The class keys, the AppID (without "LocalService": a plain COM server) and the type library
// as an installation writes them, with corvane.exe as the local server. Removed at the end with
// the configuration keys that a run of corvane.exe creates under the real service name.
class ComClassesTest : public testing::Test {
protected:
    static void SetUpTestSuite() {
        RemoveRegistration();
        for (const auto& [clsid, progId, name] : kClasses) {
            const std::string classKey = "CLSID\\" + GuidText(clsid);
            WriteString(HKEY_CLASSES_ROOT, std::string(progId) + "\\CLSID", nullptr, GuidText(clsid));
            WriteString(HKEY_CLASSES_ROOT, classKey, nullptr, name);
            WriteString(HKEY_CLASSES_ROOT, classKey, "AppID", kAppIdText);
            WriteString(HKEY_CLASSES_ROOT, classKey + "\\ProgID", nullptr, progId);
            WriteString(HKEY_CLASSES_ROOT, classKey + "\\LocalServer32", nullptr, BuildPath("corvane.exe"));
        }
        WriteString(HKEY_CLASSES_ROOT, std::string("AppID\\") + kAppIdText, nullptr, "Kestrun");
        RegisterTypeLibrary(true);
    }
    static void TearDownTestSuite() { RemoveRegistration(); }
    static void RemoveRegistration() {
        KillProcessesNamed("corvane.exe");
        RegisterTypeLibrary(false);
        for (const auto& [clsid, progId, name] : kClasses) {
            DeleteKeyTree(HKEY_CLASSES_ROOT, progId);
            DeleteKeyTree(HKEY_CLASSES_ROOT, "CLSID\\" + GuidText(clsid));
        }
        DeleteKeyTree(HKEY_CLASSES_ROOT, std::string("AppID\\") + kAppIdText);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Corvane");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvane");
    }
    void SetUp() override { SetErrorInfo(0, nullptr); }

    static constexpr std::tuple<GUID, const char*, const char*> kClasses[] = {
        {kClsidLaunch, "Launcher.Launch.1", "Launch Class"}, {kClsidModule, "Launcher.Module.1", "Module Class"}};
};

// --- Interfaces, error info, type information -------------------------------------------------

template <class Object>
void ExpectInterfaceTable(Object* object, const IID& ownIid, const IID& otherClassIid) {
    IUnknown* answers[4] = {};
    const IID* ids[] = {&IID_IUnknown, &IID_IDispatch, &ownIid, &IID_ISupportErrorInfo};
    for (int i = 0; i < 4; ++i)
        ASSERT_EQ(object->QueryInterface(*ids[i], reinterpret_cast<void**>(&answers[i])), S_OK);
    EXPECT_EQ(answers[0], answers[1]);
    EXPECT_EQ(answers[0], answers[2]);
    EXPECT_NE(answers[0], answers[3]);
    EXPECT_EQ(object->AddRef(), 6u);  // the caller's, four answers, this one
    object->Release();
    for (IUnknown* answer : answers) answer->Release();
    for (const IID* refused : {&kOtherIid, &otherClassIid}) {
        void* other = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(object->QueryInterface(*refused, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
    }
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
    EXPECT_EQ(object->InterfaceSupportsErrorInfo(ownIid), S_OK);
    EXPECT_EQ(object->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(object->InterfaceSupportsErrorInfo(otherClassIid), S_FALSE);
}

TEST_F(ComClassesTest, ObjectsAnswerFromTheirInterfaceTableAndEachHoldsOneServerLock) {
    const LONG before = Server().lifetime.Count();
    ComPtr<LaunchObject> launch;
    ASSERT_EQ(NewInstance(Server(), launch), S_OK);
    ExpectInterfaceTable(launch.Get(), kIidILaunch, kIidIModule);
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(Server(), module), S_OK);
    ExpectInterfaceTable(module.Get(), kIidIModule, kIidILaunch);
    EXPECT_EQ(Server().lifetime.Count(), before + 2);
    launch.Reset();
    EXPECT_EQ(Server().lifetime.Count(), before + 1);
    module.Reset();
    EXPECT_EQ(Server().lifetime.Count(), before);
}

TEST_F(ComClassesTest, FailuresNameTheClassAndItsInterface) {
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(Server(), module), S_OK);
    ASSERT_EQ(module->AddNew(), S_OK);
    EXPECT_EQ(module->AddNew(), E_FAIL);
    EXPECT_EQ(TakeError(kIidIModule),
              "AddNew must be followed by Update or CancelUpdate before calling AddNew again (Launcher.Module.1)");
    ComPtr<LaunchObject> launch;
    ASSERT_EQ(NewInstance(Server(), launch), S_OK);
    VARIANT number{}, omitted{};
    number.vt = VT_I4;
    omitted.vt = VT_ERROR;
    omitted.scode = DISP_E_PARAMNOTFOUND;
    DWORD processId = 0;
    EXPECT_EQ(launch->StartApplication(Bstr(L"x.exe").get(), number, omitted, omitted, &processId), E_INVALIDARG);
    EXPECT_EQ(TakeError(kIidILaunch), "Optional argument strCmdLineArgs must be a string (Launcher.Launch.1)");
}

TEST_F(ComClassesTest, IDispatchKnowsNoNamesAndGivesTheSameTypeInfoForAnyIndex) {
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(Server(), module), S_OK);
    UINT count = 0;
    EXPECT_EQ(module->GetTypeInfoCount(&count), S_OK);
    EXPECT_EQ(count, 1u);
    ComPtr<ITypeInfo> first, fifth;
    ASSERT_EQ(module->GetTypeInfo(0, 0, &first), S_OK);
    ASSERT_EQ(module->GetTypeInfo(5, LOCALE_USER_DEFAULT, &fifth), S_OK);
    EXPECT_EQ(first.Get(), fifth.Get());
    TYPEATTR* attributes = nullptr;
    ASSERT_EQ(first->GetTypeAttr(&attributes), S_OK);
    EXPECT_TRUE(IsEqualGUID(attributes->guid, kIidIModule));
    first->ReleaseTypeAttr(attributes);
    EXPECT_EQ(module->GetTypeInfo(0, 0, nullptr), E_POINTER);

    for (const wchar_t* text : {L"Update", L"AddNew", L"DispName"}) {
        LPOLESTR name = const_cast<LPOLESTR>(text);
        DISPID id = 0;
        EXPECT_EQ(module->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    }
    DISPPARAMS none{};
    EXPECT_EQ(module->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, nullptr, nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

// --- The binary layout of the dual interfaces -------------------------------------------------

template <typename Function, class Interface>
Function Slot(Interface* object, int index) {
    return reinterpret_cast<Function>((*reinterpret_cast<void***>(object))[index]);
}

TEST_F(ComClassesTest, ModuleOperationsSitInTheirVtableSlots) {
    ComPtr<ModuleObject> object;
    ASSERT_EQ(NewInstance(Server(), object), S_OK);
    IModule* module = object.Get();
    const Application& record = object->Catalog().Record();
    using GetText = HRESULT(STDMETHODCALLTYPE*)(IModule*, BSTR*);
    using PutText = HRESULT(STDMETHODCALLTYPE*)(IModule*, BSTR);
    using PutNumber = HRESULT(STDMETHODCALLTYPE*)(IModule*, LONG);
    using Operation = HRESULT(STDMETHODCALLTYPE*)(IModule*);
    using NameFlag = HRESULT(STDMETHODCALLTYPE*)(IModule*, BSTR, short*);
    // Each text property: its get's slot (the put follows) and its field.
    const std::pair<int, const std::wstring Application::*> texts[] = {
        {10, &Application::cmdLineArgs},      {16, &Application::progId},       {20, &Application::exePath},
        {22, &Application::name},             {24, &Application::startDir},     {26, &Application::methodName},
        {28, &Application::paramOne},         {30, &Application::paramTwo},     {32, &Application::paramThree},
        {34, &Application::paramFour},        {36, &Application::methodReturnType}, {38, &Application::paramOneType},
        {40, &Application::paramTwoType},     {42, &Application::paramThreeType},   {44, &Application::paramFourType}};
    for (const auto& [slot, field] : texts) {
        const std::string text = "slot " + std::to_string(slot);
        ASSERT_EQ(Slot<PutText>(module, slot + 1)(module, Bstr(Wide(text).c_str()).get()), S_OK);
        EXPECT_EQ(ToAnsi(record.*field), text);
        // The get hands out a copy of the same field, for the caller to free.
        Bstr got;
        ASSERT_EQ(Slot<GetText>(module, slot)(module, got.out()), S_OK);
        EXPECT_EQ(ToAnsi(got.get()), text);
        EXPECT_NE(got.get(), (record.*field).c_str());
    }
    ASSERT_EQ(Slot<PutNumber>(module, 8)(module, 4), S_OK);
    ASSERT_EQ(Slot<PutNumber>(module, 19)(module, -2), S_OK);
    EXPECT_EQ(record.instances, 4);
    EXPECT_EQ(record.attrib, -2);

    EXPECT_EQ(Slot<Operation>(module, 13)(module), S_OK);  // AddNew
    EXPECT_TRUE(object->Catalog().IsEditing());
    EXPECT_EQ(Slot<Operation>(module, 9)(module), S_OK);  // CancelUpdate
    EXPECT_FALSE(object->Catalog().IsEditing());
    EXPECT_EQ(Slot<Operation>(module, 12)(module), E_FAIL);  // Update without AddNew
    Bstr name(L"Nothing by this name");
    short flag = 0;
    EXPECT_EQ(Slot<NameFlag>(module, 14)(module, name.get(), &flag), S_OK);  // the unused stub
    EXPECT_EQ(flag, 1);
    EXPECT_EQ(Slot<NameFlag>(module, 15)(module, name.get(), &flag), S_OK);  // Delete
    EXPECT_EQ(flag, 0);
}

TEST_F(ComClassesTest, ModulePropertiesRefuseNullAndATextGetHandsOutACopyForTheCallerToFree) {
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(Server(), module), S_OK);
    EXPECT_EQ(module->get_ParamThree(nullptr), E_POINTER);
    EXPECT_EQ(module->put_ParamThree(nullptr), E_POINTER);
    EXPECT_EQ(module->get_Instances(nullptr), E_POINTER);
    ASSERT_EQ(module->put_ParamThree(Bstr(L"three").get()), S_OK);
    // A caller across COM frees what it gets: each get is a string of its own.
    Bstr first, second;
    ASSERT_EQ(module->get_ParamThree(first.out()), S_OK);
    ASSERT_EQ(module->get_ParamThree(second.out()), S_OK);
    EXPECT_NE(first.get(), second.get());
    ASSERT_EQ(module->put_ParamThree(Bstr(L"changed").get()), S_OK);
    EXPECT_EQ(ToAnsi(first.get()), "three");
    EXPECT_EQ(ToAnsi(second.get()), "three");
}

TEST_F(ComClassesTest, LaunchStartsProgramsFromItsVtableSlot) {
    ComPtr<LaunchObject> object;
    ASSERT_EQ(NewInstance(Server(), object), S_OK);
    ILaunch* launch = object.Get();
    auto start = Slot<HRESULT(STDMETHODCALLTYPE*)(ILaunch*, BSTR, VARIANT, VARIANT, VARIANT, DWORD*)>(launch, 7);
    VARIANT omitted, wrong, arguments;
    V_VT(&omitted) = VT_ERROR;
    V_ERROR(&omitted) = DISP_E_PARAMNOTFOUND;
    V_VT(&wrong) = VT_I4;
    V_I4(&wrong) = -1;
    const std::string touched = BuildPath("launch-slot-touched.txt");
    Bstr argumentText(Wide("-touch " + touched).c_str());
    V_VT(&arguments) = VT_BSTR;
    V_BSTR(&arguments) = argumentText.get();
    Bstr path(Wide(BuildPath("testserver.exe")).c_str());
    DWORD id = 0;
    EXPECT_EQ(start(launch, nullptr, omitted, omitted, omitted, &id), E_POINTER);
    // Each optional argument reaches its own check.
    EXPECT_EQ(start(launch, path.get(), wrong, omitted, omitted, &id), E_INVALIDARG);
    EXPECT_EQ(TakeError(kIidILaunch), "Optional argument strCmdLineArgs must be a string (Launcher.Launch.1)");
    EXPECT_EQ(start(launch, path.get(), omitted, wrong, omitted, &id), E_INVALIDARG);
    EXPECT_EQ(TakeError(kIidILaunch), "Optional argument lngShowAttrib must be a positive integer (Launcher.Launch.1)");
    EXPECT_EQ(start(launch, path.get(), omitted, omitted, wrong, &id), E_INVALIDARG);
    EXPECT_EQ(TakeError(kIidILaunch), "Optional argument strWorkDir must be a string (Launcher.Launch.1)");
    DeleteFileA(touched.c_str());
    ASSERT_EQ(start(launch, path.get(), arguments, omitted, omitted, &id), S_OK);
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(Eventually([&] { return GetFileAttributesA(touched.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    DeleteFileA(touched.c_str());
}

// --- Class objects and the plain COM server's loop ----------------------------------------------

// An outer object that answers IUnknown and IPersist and counts what reaches it.
class CountingOuter final : public IPersist {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        ++queries;
        *object = IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist) ? this : nullptr;
        if (!*object) return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }
    int queries = 0;
    long references = 1;
};

ComPtr<IClassFactory> ClassObjectOf(int entry) {
    ComPtr<IClassFactory> factory;
    ProgramClassTable()[entry].createClassObject(Server(), IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
    return factory;
}

TEST_F(ComClassesTest, CreateInstanceFollowsTheAggregationRules) {
    const LONG before = Server().lifetime.Count();
    ComPtr<IClassFactory> factory = ClassObjectOf(1);
    ASSERT_NE(factory.Get(), nullptr);
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(ProgramClassTable()[1].createClassObject(Server(), kOtherIid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    CountingOuter outer;
    object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(Server().lifetime.Count(), before);  // the refused object is gone; class objects are no locks

    // Aggregated: the object's own IUnknown controls it; its interfaces speak for the outer.
    IUnknown* inner = nullptr;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&inner)), S_OK);
    EXPECT_NE(inner, static_cast<IUnknown*>(&outer));
    EXPECT_EQ(Server().lifetime.Count(), before + 1);
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(outer.references, 2);  // the reference went to the outer object
    IPersist* persist = nullptr;
    ASSERT_EQ(dispatch->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(persist, static_cast<IPersist*>(&outer));
    ISupportErrorInfo* errorInfo = nullptr;
    ASSERT_EQ(dispatch->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo)), S_OK);
    EXPECT_EQ(outer.queries, 2);  // asked first both times, answered once
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(kIidIModule), S_OK);
    for (IUnknown* held : std::initializer_list<IUnknown*>{errorInfo, persist, dispatch}) held->Release();
    EXPECT_EQ(outer.references, 1);
    EXPECT_EQ(inner->Release(), 0u);
    EXPECT_EQ(Server().lifetime.Count(), before);
}

// The plain COM server's loop on a thread of this process, which ends when the server lock
// count reaches zero. (Across processes, Wine's class-object proxy does not pass LockServer on.)
class PlainServerLoop {
public:
    PlainServerLoop() : ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        Host().SetRunMode(false, false);
        thread_.reset(CreateThread(nullptr, 0, &PlainServerLoop::Run, ready_.get(), 0, nullptr));
        WaitForSingleObject(ready_.get(), 20000);
    }
    ~PlainServerLoop() {
        if (!Ended()) PostThreadMessageA(GetThreadId(thread_.get()), WM_QUIT, 0, 0);
        WaitForSingleObject(thread_.get(), 20000);
        Host().SetRunMode(true, false);
    }
    bool Ended() const { return WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0; }
    bool EndsBy() const { return WaitForSingleObject(thread_.get(), 20000) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI Run(void* ready) {
        MSG message;  // the queue exists before anyone posts the quit message
        PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        Host().TakeMessageThread();
        SetEvent(ready);
        Host().RunMessageLoop();
        return 0;
    }
    UniqueHandle ready_;
    UniqueHandle thread_;
};

TEST_F(ComClassesTest, LockServerAndTheLastObjectEndThePlainServerLoop) {
    ASSERT_EQ(Server().lifetime.Count(), 0);
    ComPtr<IClassFactory> factory = ClassObjectOf(1);
    {
        PlainServerLoop loop;
        ASSERT_EQ(factory->LockServer(TRUE), S_OK);
        ComPtr<IDispatch> object;
        ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object.GetAddressOf())),
                  S_OK);
        object.Reset();
        EXPECT_EQ(Server().lifetime.Count(), 1);
        EXPECT_FALSE(loop.Ended());
        ASSERT_EQ(factory->LockServer(FALSE), S_OK);
        EXPECT_TRUE(loop.EndsBy()) << "the loop outlived the last lock";
    }
    PlainServerLoop loop;
    ComPtr<LaunchObject> launch;
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(Server(), launch), S_OK);
    ASSERT_EQ(NewInstance(Server(), module), S_OK);
    launch.Reset();
    EXPECT_FALSE(loop.Ended());
    module.Reset();
    EXPECT_TRUE(loop.EndsBy()) << "the loop outlived the last object";
}

// StartHost of a process started by COM tries the service dispatcher first; the last lock
// that goes while it tries posts no quit. When the dispatcher gives up, a server whose objects
// all went meanwhile ends at once, while one that has served nobody yet waits for its object.
TEST_F(ComClassesTest, APlainServerWhoseLastObjectWentWhileItTriedToBeTheServiceEndsAtOnce) {
    ServiceHost& host = Host();
    const struct {
        const char* what;
        bool objectCameAndWent;
    } cases[] = {{"its object came and went", true}, {"no object yet", false}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        host.SetRunMode(true, true);
        ComPtr<ModuleObject> object;
        if (c.objectCameAndWent) {
            ASSERT_EQ(NewInstance(Server(), object), S_OK);
            object.Reset();
        }
        // The dispatcher fails here: the service manager did not start this process.
        struct Runner {
            // A named thread routine: the system calls it with the stdcall convention on x86.
            static DWORD WINAPI Run(void* h) {
                static_cast<ServiceHost*>(h)->StartHost();
                return 0;
            }
        };
        UniqueHandle run(CreateThread(nullptr, 0, &Runner::Run, &host, 0, nullptr));
        ASSERT_TRUE(run);
        auto ended = [&](DWORD ms) { return WaitForSingleObject(run.get(), ms) == WAIT_OBJECT_0; };
        if (c.objectCameAndWent) {
            EXPECT_TRUE(ended(20000)) << "the server missed the end of its last object";
        } else {
            EXPECT_FALSE(ended(1000)) << "the server ended before it served anybody";
            ASSERT_EQ(NewInstance(Server(), object), S_OK);
            object.Reset();
            EXPECT_TRUE(ended(20000)) << "the loop outlived the last object";
        }
        if (!ended(0)) PostThreadMessageA(GetThreadId(run.get()), WM_QUIT, 0, 0);
        ASSERT_TRUE(ended(20000));
    }
    host.SetRunMode(true, false);
}

// --- From another process -------------------------------------------------------------------

TEST_F(ComClassesTest, AnotherProcessCreatesBothClassesByProgIdAndTheLastReleaseEndsTheServer) {
    for (const auto& [clsid, progId, name] : kClasses) {
        CLSID found{};
        ASSERT_EQ(CLSIDFromProgID(Wide(progId).c_str(), &found), S_OK);
        ComPtr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(object.GetAddressOf())),
                  S_OK);
        std::vector<DWORD> servers = ProcessIdsNamed("corvane.exe");
        ASSERT_EQ(servers.size(), 1u);
        UniqueHandle server(OpenProcess(SYNCHRONIZE, FALSE, servers[0]));

        // The own dual interface is not asked for: Wine's type-library marshaller looks the
        // library up under locale 0 only, while registration files it under its own 0x409.
        const IID& ownIid = IsEqualGUID(clsid, kClsidLaunch) ? kIidILaunch : kIidIModule;
        ComPtr<IDispatch> dispatch;
        ComPtr<ISupportErrorInfo> errorInfo;
        ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())), S_OK);
        ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(errorInfo.GetAddressOf())),
                  S_OK);
        void* other = nullptr;
        EXPECT_EQ(object->QueryInterface(kOtherIid, &other), E_NOINTERFACE);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(ownIid), S_OK);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);

        ComPtr<ITypeInfo> first, fifth;
        ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &first), S_OK);
        ASSERT_EQ(dispatch->GetTypeInfo(5, 0, &fifth), S_OK);
        for (ITypeInfo* info : {first.Get(), fifth.Get()}) {
            TYPEATTR* attributes = nullptr;
            ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
            EXPECT_TRUE(IsEqualGUID(attributes->guid, ownIid));
            info->ReleaseTypeAttr(attributes);
        }
        LPOLESTR update = const_cast<LPOLESTR>(L"Update");
        DISPID id = 0;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &update, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);

        first.Reset();
        fifth.Reset();
        dispatch.Reset();
        errorInfo.Reset();
        object.Reset();
        EXPECT_EQ(WaitForSingleObject(server.get(), 20000), WAIT_OBJECT_0) << "the server outlived its last object";
    }
}

}  // namespace
