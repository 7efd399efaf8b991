// The COM classes Launch and Module: their interface tables, the binary layout of IModule,
// IDispatch from the registered type library, the class factory with its aggregation rules,
// the server lock, and both classes created by another process from corvane.exe.
#include "config/ClassFactory.h"
#include "config/ClassTable.h"
#include "config/ComObject.h"
#include "config/Conversions.h"
#include "config/LaunchObject.h"
#include "config/ModuleObject.h"
#include "host/Installation.h"
#include "host/Owners.h"
#include "host/ServiceHost.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <string>
#include <tuple>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

const GUID kSomeOtherIid = {0x1f0e5c3a, 0x2b4d, 0x4e6f, {0x80, 0x91, 0xa2, 0xb3, 0xc4, 0xd5, 0xe6, 0xf7}};

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }
std::string Narrow(BSTR text) { return ToAnsi(text); }

std::string ErrorDescription(std::string* source = nullptr, GUID* guid = nullptr) {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return "<none>";
    Bstr text;
    info->GetDescription(text.out());
    if (source) {
        Bstr sourceText;
        info->GetSource(sourceText.out());
        *source = Narrow(sourceText.get());
    }
    if (guid) info->GetGUID(guid);
    return Narrow(text.get());
}

// The class keys, the AppID and the type library as an installation writes them, with
// corvane.exe as the local server; everything is removed again, with the configuration keys
// that a run of corvane.exe creates under the real service name.
class ProductClasses {
public:
    ProductClasses() {
        Remove();
        const std::string exe = BuildPath("corvane.exe");
        const struct {
            const char* progId;
            const char* versionIndependent;
            std::string classKey;
            const char* name;
        } classes[] = {
            {"Launcher.Launch.1", "Launcher.Launch", ClassKey(kClsidLaunch), "Launch Class"},
            {"Launcher.Module.1", "Launcher.Module", ClassKey(kClsidModule), "Module Class"},
        };
        for (const auto& entry : classes) {
            const std::string clsid = entry.classKey.substr(6);
            WriteString(HKEY_CLASSES_ROOT, entry.progId, nullptr, entry.name);
            WriteString(HKEY_CLASSES_ROOT, std::string(entry.progId) + "\\CLSID", nullptr, clsid);
            WriteString(HKEY_CLASSES_ROOT, entry.versionIndependent, nullptr, entry.name);
            WriteString(HKEY_CLASSES_ROOT, std::string(entry.versionIndependent) + "\\CLSID", nullptr, clsid);
            WriteString(HKEY_CLASSES_ROOT, entry.classKey, nullptr, entry.name);
            WriteString(HKEY_CLASSES_ROOT, entry.classKey, "AppID", kAppIdText);
            WriteString(HKEY_CLASSES_ROOT, entry.classKey + "\\ProgID", nullptr, entry.progId);
            WriteString(HKEY_CLASSES_ROOT, entry.classKey + "\\VersionIndependentProgID", nullptr,
                        entry.versionIndependent);
            WriteString(HKEY_CLASSES_ROOT, entry.classKey + "\\LocalServer32", nullptr, exe);
        }
        // Present without "LocalService": corvane.exe runs as a plain COM server.
        WriteString(HKEY_CLASSES_ROOT, std::string("AppID\\") + kAppIdText, nullptr, "Kestrun");
        RegisterLibrary();
    }
    ~ProductClasses() { Remove(); }

    static void RegisterLibrary() {
        std::wstring path = Wide(BuildPath("corvane.exe"));
        ComPtr<ITypeLib> library;
        registerResult = LoadTypeLibEx(path.c_str(), REGKIND_NONE, &library);
        if (SUCCEEDED(registerResult)) registerResult = RegisterTypeLib(library.Get(), path.data(), nullptr);
    }
    static void UnregisterLibrary() { (void)UnRegisterTypeLib(kTypeLibraryId, 1, 0, kTypeLibraryLocale, SYS_WIN64); }

    static HRESULT registerResult;

private:
    static std::string ClassKey(const GUID& clsid) {
        wchar_t text[64];
        StringFromGUID2(clsid, text, 64);
        return "CLSID\\" + ToAnsi(text);
    }

    static void Remove() {
        KillProcessesNamed("corvane.exe");
        UnregisterLibrary();
        for (const char* key : {"Launcher.Launch.1", "Launcher.Launch", "Launcher.Module.1", "Launcher.Module"})
            DeleteKeyTree(HKEY_CLASSES_ROOT, key);
        DeleteKeyTree(HKEY_CLASSES_ROOT, ClassKey(kClsidLaunch));
        DeleteKeyTree(HKEY_CLASSES_ROOT, ClassKey(kClsidModule));
        DeleteKeyTree(HKEY_CLASSES_ROOT, std::string("AppID\\") + kAppIdText);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\Corvane");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvane");
    }
};

HRESULT ProductClasses::registerResult = E_FAIL;

class ComClassesTest : public testing::Test {
protected:
    static void SetUpTestSuite() { classes_ = new ProductClasses(); }
    static void TearDownTestSuite() {
        delete classes_;
        classes_ = nullptr;
    }
    void SetUp() override {
        ASSERT_EQ(ProductClasses::registerResult, S_OK);
        SetErrorInfo(0, nullptr);
    }

    static ProductClasses* classes_;
};

ProductClasses* ComClassesTest::classes_ = nullptr;

// --- Type information ---------------------------------------------------------------------------
// First in the file: the type information is loaded once per process.

TEST(TypeInfoLoadingTest, AnUnregisteredLibraryFailsAndIsTriedAgain) {
    ProductClasses::UnregisterLibrary();
    ComPtr<LaunchObject> launch;
    ASSERT_EQ(NewInstance(launch), S_OK);
    ComPtr<ITypeInfo> info;
    EXPECT_EQ(launch->GetTypeInfo(0, 0, &info), TYPE_E_LIBNOTREGISTERED);
    EXPECT_EQ(info.Get(), nullptr);
    DISPID id = 0;
    LPOLESTR name = const_cast<LPOLESTR>(L"StartApplication");
    EXPECT_EQ(launch->GetIDsOfNames(IID_NULL, &name, 1, 0, &id), TYPE_E_LIBNOTREGISTERED);

    ProductClasses::RegisterLibrary();
    ASSERT_EQ(ProductClasses::registerResult, S_OK);
    EXPECT_EQ(launch->GetTypeInfo(0, 0, &info), S_OK);
    ASSERT_NE(info.Get(), nullptr);
    ProductClasses::UnregisterLibrary();
}

// Before the suite that registers the classes by hand: each entry registers its class with its
// own script (from this executable, which carries the same scripts), and removes it again.
TEST(ClassRegistrationTest, EachEntryRunsItsRegistrationScript) {
    ClassEntry* table = ProgramClassTable();
    const char* progIds[] = {"Launcher.Launch.1", "Launcher.Module.1"};
    for (int i = 0; i < 2; ++i) {
        ASSERT_NE(table[i].updateRegistry, nullptr);
        wchar_t text[64];
        StringFromGUID2(*table[i].clsid, text, 64);
        const std::string classKey = "CLSID\\" + ToAnsi(text);
        ASSERT_EQ(table[i].updateRegistry(true), S_OK);
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, std::string(progIds[i]) + "\\CLSID", nullptr), ToAnsi(text));
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\ProgID", nullptr), progIds[i]);
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey, "AppID"), kAppIdText);
        EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\LocalServer32"));
        ASSERT_EQ(table[i].updateRegistry(false), S_OK);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey));
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, progIds[i]));
    }
}

TEST_F(ComClassesTest, TypeInfoIsTheDualInterfacesForAnyIndex) {
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(module), S_OK);
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
}

TEST_F(ComClassesTest, LateBoundClientsCannotReachTheOwnOperations) {
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(module), S_OK);
    for (const wchar_t* text : {L"Update", L"AddNew", L"DispName"}) {
        LPOLESTR name = const_cast<LPOLESTR>(text);
        DISPID id = 0;
        EXPECT_EQ(module->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);
    }
    DISPPARAMS none{};
    Variant result;
    EXPECT_EQ(module->Invoke(1, IID_NULL, 0, DISPATCH_METHOD, &none, result.get(), nullptr, nullptr),
              DISP_E_MEMBERNOTFOUND);
}

// --- Interface tables and lifetime ------------------------------------------------------------

template <class Object>
void ExpectInterfaceTable(Object* object, const IID& ownIid) {
    IUnknown* asUnknown = nullptr;
    IUnknown* asDispatch = nullptr;
    IUnknown* asOwn = nullptr;
    IUnknown* asErrorInfo = nullptr;
    ASSERT_EQ(object->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&asUnknown)), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&asDispatch)), S_OK);
    ASSERT_EQ(object->QueryInterface(ownIid, reinterpret_cast<void**>(&asOwn)), S_OK);
    ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&asErrorInfo)), S_OK);
    EXPECT_EQ(asUnknown, asDispatch);
    EXPECT_EQ(asUnknown, asOwn);
    EXPECT_NE(asUnknown, asErrorInfo);
    // Each answer added a reference: four, beside the caller's one.
    EXPECT_EQ(object->AddRef(), 6u);
    EXPECT_EQ(object->Release(), 5u);
    for (IUnknown* answered : {asUnknown, asDispatch, asOwn, asErrorInfo}) answered->Release();

    void* other = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(object->QueryInterface(kSomeOtherIid, &other), E_NOINTERFACE);
    EXPECT_EQ(other, nullptr);
    EXPECT_EQ(object->QueryInterface(IID_IClassFactory, &other), E_NOINTERFACE);
    EXPECT_EQ(object->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(ComClassesTest, QueryInterfaceAnswersFromTheInterfaceTable) {
    ComPtr<LaunchObject> launch;
    ASSERT_EQ(NewInstance(launch), S_OK);
    ExpectInterfaceTable(launch.Get(), kIidILaunch);
    void* module = nullptr;
    EXPECT_EQ(launch->QueryInterface(kIidIModule, &module), E_NOINTERFACE);

    ComPtr<ModuleObject> moduleObject;
    ASSERT_EQ(NewInstance(moduleObject), S_OK);
    ExpectInterfaceTable(moduleObject.Get(), kIidIModule);
}


TEST_F(ComClassesTest, OnlyTheOwnInterfaceSupportsErrorInfo) {
    ComPtr<LaunchObject> launch;
    ASSERT_EQ(NewInstance(launch), S_OK);
    EXPECT_EQ(launch->InterfaceSupportsErrorInfo(kIidILaunch), S_OK);
    EXPECT_EQ(launch->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
    EXPECT_EQ(launch->InterfaceSupportsErrorInfo(kIidIModule), S_FALSE);
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(module), S_OK);
    EXPECT_EQ(module->InterfaceSupportsErrorInfo(kIidIModule), S_OK);
    EXPECT_EQ(module->InterfaceSupportsErrorInfo(kIidILaunch), S_FALSE);
}

TEST_F(ComClassesTest, EveryObjectHoldsOneServerLock) {
    const LONG before = Host().lockCount;
    {
        ComPtr<LaunchObject> launch;
        ASSERT_EQ(NewInstance(launch), S_OK);
        EXPECT_EQ(Host().lockCount, before + 1);
        ComPtr<ModuleObject> module;
        ASSERT_EQ(NewInstance(module), S_OK);
        EXPECT_EQ(Host().lockCount, before + 2);
        ComPtr<IDispatch> extra;
        ASSERT_EQ(module->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(extra.GetAddressOf())), S_OK);
        module.Reset();
        EXPECT_EQ(Host().lockCount, before + 2);  // still referenced
    }
    EXPECT_EQ(Host().lockCount, before);
}

TEST_F(ComClassesTest, ErrorsNameTheClassAndItsInterface) {
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(module), S_OK);
    ASSERT_EQ(module->AddNew(), S_OK);
    EXPECT_EQ(module->AddNew(), E_FAIL);
    std::string source;
    GUID guid{};
    EXPECT_EQ(ErrorDescription(&source, &guid),
              "AddNew must be followed by Update or CancelUpdate before calling AddNew again");
    EXPECT_EQ(source, "Launcher.Module.1");
    EXPECT_TRUE(IsEqualGUID(guid, kIidIModule));

    ComPtr<LaunchObject> launch;
    ASSERT_EQ(NewInstance(launch), S_OK);
    ComPtr<IDispatch> server;
    Bstr progId(L"Corvane.NoSuchServer");
    EXPECT_EQ(launch->StartActiveXServer(progId.get(), server.ReleaseAndGetAddressOf()), E_FAIL);
    EXPECT_EQ(ErrorDescription(&source, &guid), "Unable to start ActiveX server");
    EXPECT_EQ(source, "Launcher.Launch.1");
    EXPECT_TRUE(IsEqualGUID(guid, kIidILaunch));
}

// --- The binary layout of IModule -----------------------------------------------------------

template <typename Function>
Function Slot(IModule* module, int index) {
    return reinterpret_cast<Function>((*reinterpret_cast<void***>(module))[index]);
}

using GetTextSlot = HRESULT(STDMETHODCALLTYPE*)(IModule*, BSTR*);
using PutTextSlot = HRESULT(STDMETHODCALLTYPE*)(IModule*, BSTR);
using GetNumberSlot = HRESULT(STDMETHODCALLTYPE*)(IModule*, LONG*);
using PutNumberSlot = HRESULT(STDMETHODCALLTYPE*)(IModule*, LONG);
using OperationSlot = HRESULT(STDMETHODCALLTYPE*)(IModule*);
using NameFlagSlot = HRESULT(STDMETHODCALLTYPE*)(IModule*, BSTR, short*);

TEST_F(ComClassesTest, ModuleOperationsSitInTheirVtableSlots) {
    ComPtr<ModuleObject> object;
    ASSERT_EQ(NewInstance(object), S_OK);
    IModule* module = object.Get();
    AppCatalog& catalog = object->Catalog();
    using Getter = HRESULT (AppCatalog::*)(BSTR*) const;
    // The text properties: the slot of the get (the put follows it) and the catalogue's field.
    const struct {
        int slot;
        Getter field;
    } texts[] = {
        {10, &AppCatalog::get_CmdLineArgs},   {16, &AppCatalog::get_ProgId},
        {20, &AppCatalog::get_ExePath},       {22, &AppCatalog::get_DispName},
        {24, &AppCatalog::get_StartDir},      {26, &AppCatalog::get_MethodName},
        {28, &AppCatalog::get_ParamOne},      {30, &AppCatalog::get_ParamTwo},
        {32, &AppCatalog::get_ParamThree},    {34, &AppCatalog::get_ParamFour},
        {36, &AppCatalog::get_MethodReturnType}, {38, &AppCatalog::get_ParamOneType},
        {40, &AppCatalog::get_ParamTwoType},  {42, &AppCatalog::get_ParamThreeType},
        {44, &AppCatalog::get_ParamFourType},
    };
    for (const auto& text : texts) {
        Bstr value(Wide("slot " + std::to_string(text.slot)).c_str());
        ASSERT_EQ(Slot<PutTextSlot>(module, text.slot + 1)(module, value.get()), S_OK) << text.slot;
        BSTR stored = nullptr;
        ASSERT_EQ((catalog.*text.field)(&stored), S_OK);
        EXPECT_EQ(Narrow(stored), "slot " + std::to_string(text.slot));
        BSTR got = nullptr;
        ASSERT_EQ(Slot<GetTextSlot>(module, text.slot)(module, &got), S_OK);
        EXPECT_EQ(got, stored);
    }

    ASSERT_EQ(Slot<PutNumberSlot>(module, 8)(module, 4), S_OK);
    ASSERT_EQ(Slot<PutNumberSlot>(module, 19)(module, -2), S_OK);
    EXPECT_EQ(catalog.Record().instances, 4);
    EXPECT_EQ(catalog.Record().attrib, -2);
    LONG number = 0;
    ASSERT_EQ(Slot<GetNumberSlot>(module, 7)(module, &number), S_OK);
    EXPECT_EQ(number, 4);
    ASSERT_EQ(Slot<GetNumberSlot>(module, 18)(module, &number), S_OK);
    EXPECT_EQ(number, -2);

    EXPECT_EQ(Slot<OperationSlot>(module, 13)(module), S_OK);  // AddNew
    EXPECT_EQ(catalog.Record().editMode, 1);
    EXPECT_EQ(Slot<OperationSlot>(module, 9)(module), S_OK);  // CancelUpdate
    EXPECT_EQ(catalog.Record().editMode, 0);
    EXPECT_EQ(Slot<OperationSlot>(module, 12)(module), E_FAIL);  // Update, not editing
    EXPECT_EQ(ErrorDescription(), "Cannot call Update method without first calling AddNew");

    Bstr name(L"Nothing by this name");
    short flag = 0;
    EXPECT_EQ(Slot<NameFlagSlot>(module, 14)(module, name.get(), &flag), S_OK);  // the unused stub
    EXPECT_EQ(flag, 1);
    flag = 7;
    EXPECT_EQ(Slot<NameFlagSlot>(module, 15)(module, name.get(), &flag), S_OK);  // Delete
    EXPECT_EQ(flag, 0);
}

using StartApplicationSlot = HRESULT(STDMETHODCALLTYPE*)(ILaunch*, BSTR, VARIANT, VARIANT, VARIANT, DWORD*);

TEST_F(ComClassesTest, LaunchStartsProgramsFromItsVtableSlot) {
    ComPtr<LaunchObject> object;
    ASSERT_EQ(NewInstance(object), S_OK);
    ILaunch* launch = object.Get();
    auto start = reinterpret_cast<StartApplicationSlot>((*reinterpret_cast<void***>(launch))[7]);
    VARIANT omitted;
    V_VT(&omitted) = VT_ERROR;
    V_ERROR(&omitted) = DISP_E_PARAMNOTFOUND;
    VARIANT number;
    V_VT(&number) = VT_I4;
    V_I4(&number) = -1;
    DWORD id = 0;
    EXPECT_EQ(start(launch, nullptr, omitted, omitted, omitted, &id), E_POINTER);

    // Each optional argument reaches its own check.
    const std::string touched = BuildPath("launch-slot-touched.txt");
    DeleteFileA(touched.c_str());
    Bstr path(Wide(BuildPath("testserver.exe")).c_str());
    EXPECT_EQ(start(launch, path.get(), number, omitted, omitted, &id), E_INVALIDARG);
    EXPECT_EQ(ErrorDescription(), "Optional argument strCmdLineArgs must be a string");
    EXPECT_EQ(start(launch, path.get(), omitted, number, omitted, &id), E_INVALIDARG);
    std::string source;
    EXPECT_EQ(ErrorDescription(&source), "Optional argument lngShowAttrib must be a positive integer");
    EXPECT_EQ(source, "Launcher.Launch.1");
    EXPECT_EQ(start(launch, path.get(), omitted, omitted, number, &id), E_INVALIDARG);
    EXPECT_EQ(ErrorDescription(), "Optional argument strWorkDir must be a string");

    VARIANT arguments;
    V_VT(&arguments) = VT_BSTR;
    Bstr argumentText(Wide("-touch " + touched).c_str());
    V_BSTR(&arguments) = argumentText.get();
    ASSERT_EQ(start(launch, path.get(), arguments, omitted, omitted, &id), S_OK);
    EXPECT_NE(id, 0u);
    EXPECT_TRUE(Eventually([&] { return GetFileAttributesA(touched.c_str()) != INVALID_FILE_ATTRIBUTES; }));
    DeleteFileA(touched.c_str());
}

// --- Class objects ----------------------------------------------------------------------------

// An outer object that answers IUnknown and IPersist and counts what reaches it.
class CountingOuter final : public IPersist {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override {
        ++queries;
        if (IsEqualIID(iid, IID_IUnknown) || IsEqualIID(iid, IID_IPersist)) {
            *object = static_cast<IPersist*>(this);
            AddRef();
            return S_OK;
        }
        *object = nullptr;
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++references); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--references); }
    HRESULT STDMETHODCALLTYPE GetClassID(CLSID*) override { return E_NOTIMPL; }

    int queries = 0;
    long references = 1;
};

ComPtr<IClassFactory> ClassObjectOf(const CLSID& clsid) {
    ComPtr<IClassFactory> factory;
    for (ClassEntry* entry = ProgramClassTable(); entry->clsid; ++entry)
        if (IsEqualGUID(*entry->clsid, clsid))
            entry->createClassObject(IID_IClassFactory, reinterpret_cast<void**>(factory.GetAddressOf()));
    return factory;
}

TEST_F(ComClassesTest, TheClassTableListsLaunchThenModule) {
    ClassEntry* table = ProgramClassTable();
    ASSERT_NE(table[0].clsid, nullptr);
    ASSERT_NE(table[1].clsid, nullptr);
    EXPECT_TRUE(IsEqualGUID(*table[0].clsid, kClsidLaunch));
    EXPECT_TRUE(IsEqualGUID(*table[1].clsid, kClsidModule));
    EXPECT_EQ(table[2].clsid, nullptr);
    for (int i = 0; i < 2; ++i) {
        EXPECT_NE(table[i].createClassObject, nullptr);
        EXPECT_NE(table[i].createInstance, nullptr);
        EXPECT_EQ(table[i].description, nullptr);
        EXPECT_EQ(table[i].categoryMap, nullptr);
        EXPECT_EQ(table[i].startEndHook, nullptr);
    }
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(table[0].createClassObject(kSomeOtherIid, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
}

TEST_F(ComClassesTest, CreateInstanceFollowsTheAggregationRules) {
    const LONG before = Host().lockCount;
    ComPtr<IClassFactory> factory = ClassObjectOf(kClsidModule);
    ASSERT_NE(factory.Get(), nullptr);
    EXPECT_EQ(Host().lockCount, before);  // class objects are no server locks

    CountingOuter outer;
    void* object = reinterpret_cast<void*>(0x1);
    EXPECT_EQ(factory->CreateInstance(&outer, IID_IDispatch, &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, nullptr), E_POINTER);
    EXPECT_EQ(factory->CreateInstance(nullptr, IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(Host().lockCount, before);  // the refused object is gone

    // Aggregated: the object's own IUnknown controls it; its interfaces speak for the outer.
    ComPtr<IUnknown> inner;
    ASSERT_EQ(factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(inner.GetAddressOf())), S_OK);
    EXPECT_EQ(Host().lockCount, before + 1);
    EXPECT_NE(inner.Get(), static_cast<IUnknown*>(&outer));
    ComPtr<IUnknown> innerAgain;
    ASSERT_EQ(inner->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(innerAgain.GetAddressOf())), S_OK);
    EXPECT_EQ(innerAgain.Get(), inner.Get());

    const long outerReferences = outer.references;
    IDispatch* dispatch = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch)), S_OK);
    EXPECT_EQ(outer.references, outerReferences + 1);  // the reference went to the outer object
    dispatch->AddRef();
    EXPECT_EQ(outer.references, outerReferences + 2);
    dispatch->Release();

    const int queries = outer.queries;
    IPersist* persist = nullptr;
    ASSERT_EQ(dispatch->QueryInterface(IID_IPersist, reinterpret_cast<void**>(&persist)), S_OK);
    EXPECT_EQ(persist, static_cast<IPersist*>(&outer));  // answered by the outer object
    persist->Release();
    ISupportErrorInfo* errorInfo = nullptr;
    ASSERT_EQ(dispatch->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&errorInfo)), S_OK);
    EXPECT_EQ(outer.queries, queries + 2);  // asked first both times
    EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(kIidIModule), S_OK);
    errorInfo->Release();
    dispatch->Release();
    EXPECT_EQ(outer.references, outerReferences);

    inner.Reset();
    EXPECT_EQ(Host().lockCount, before + 1);  // innerAgain still holds it
    innerAgain.Reset();
    EXPECT_EQ(Host().lockCount, before);
}

TEST_F(ComClassesTest, LockServerCountsServerLocks) {
    ComPtr<IClassFactory> factory = ClassObjectOf(kClsidLaunch);
    ASSERT_NE(factory.Get(), nullptr);
    const LONG before = Host().lockCount;
    EXPECT_EQ(factory->LockServer(TRUE), S_OK);
    EXPECT_EQ(Host().lockCount, before + 1);
    EXPECT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_EQ(Host().lockCount, before);

    ComPtr<IDispatch> launch;
    ASSERT_EQ(factory->CreateInstance(nullptr, kIidILaunch, reinterpret_cast<void**>(launch.GetAddressOf())), S_OK);
    EXPECT_EQ(Host().lockCount, before + 1);
    EXPECT_EQ(launch->AddRef(), 2u);
    EXPECT_EQ(launch->Release(), 1u);
}

// --- From another process -------------------------------------------------------------------

// The one corvane.exe that COM started for this test.
DWORD ServerProcessId() {
    std::vector<DWORD> ids;
    Eventually([&] {
        ids = ProcessIdsNamed("corvane.exe");
        return !ids.empty();
    });
    return ids.size() == 1 ? ids[0] : 0;
}

bool EndsBy(const UniqueHandle& process) { return WaitForSingleObject(process.get(), 20000) == WAIT_OBJECT_0; }

TEST_F(ComClassesTest, AnotherProcessCreatesBothClassesByProgId) {
    for (const auto& [progId, clsid, ownIid] :
         {std::tuple{L"Launcher.Launch.1", kClsidLaunch, kIidILaunch},
          std::tuple{L"Launcher.Module.1", kClsidModule, kIidIModule}}) {
        CLSID found{};
        ASSERT_EQ(CLSIDFromProgID(progId, &found), S_OK);
        EXPECT_TRUE(IsEqualGUID(found, clsid));
        ComPtr<IUnknown> object;
        ASSERT_EQ(CoCreateInstance(found, nullptr, CLSCTX_LOCAL_SERVER, IID_IUnknown,
                                   reinterpret_cast<void**>(object.GetAddressOf())),
                  S_OK);
        DWORD serverId = ServerProcessId();
        ASSERT_NE(serverId, 0u);
        ASSERT_NE(serverId, GetCurrentProcessId());
        UniqueHandle server(OpenProcess(SYNCHRONIZE, FALSE, serverId));

        // The own dual interface is not asked for here: Wine's type-library marshaller looks
        // the library up under locale 0 only, and registration files it under its own 0x409,
        // so no stub can be built for ILaunch or IModule (in-process tests cover that answer).
        ComPtr<IDispatch> dispatch;
        ComPtr<ISupportErrorInfo> errorInfo;
        EXPECT_EQ(object->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(dispatch.GetAddressOf())), S_OK);
        ASSERT_EQ(object->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(errorInfo.GetAddressOf())),
                  S_OK);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(ownIid), S_OK);
        EXPECT_EQ(errorInfo->InterfaceSupportsErrorInfo(IID_IDispatch), S_FALSE);
        void* other = reinterpret_cast<void*>(0x1);
        EXPECT_EQ(object->QueryInterface(kSomeOtherIid, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);

        ASSERT_NE(dispatch.Get(), nullptr);
        UINT count = 0;
        EXPECT_EQ(dispatch->GetTypeInfoCount(&count), S_OK);
        EXPECT_EQ(count, 1u);
        ComPtr<ITypeInfo> first, fifth;
        ASSERT_EQ(dispatch->GetTypeInfo(0, 0, &first), S_OK);
        ASSERT_EQ(dispatch->GetTypeInfo(5, 0, &fifth), S_OK);
        for (ITypeInfo* info : {first.Get(), fifth.Get()}) {
            TYPEATTR* attributes = nullptr;
            ASSERT_EQ(info->GetTypeAttr(&attributes), S_OK);
            EXPECT_TRUE(IsEqualGUID(attributes->guid, ownIid));
            info->ReleaseTypeAttr(attributes);
        }
        LPOLESTR name = const_cast<LPOLESTR>(L"Update");
        DISPID id = 0;
        EXPECT_EQ(dispatch->GetIDsOfNames(IID_NULL, &name, 1, LOCALE_USER_DEFAULT, &id), DISP_E_UNKNOWNNAME);

        // The last release ends the plain COM server.
        first.Reset();
        fifth.Reset();
        dispatch.Reset();
        errorInfo.Reset();
        object.Reset();
        EXPECT_TRUE(EndsBy(server)) << "the server outlived its last object";
    }
}

// The plain COM server's loop, run on a thread of this process: the server lock count decides
// when it ends. (Across processes Wine's class-object proxy does not pass LockServer on.)
class PlainServerLoop {
public:
    PlainServerLoop() : ready_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
        Host().isService = false;
        thread_.reset(CreateThread(nullptr, 0, &PlainServerLoop::Run, this, 0, nullptr));
        WaitForSingleObject(ready_.get(), 20000);
    }
    ~PlainServerLoop() {
        if (!Ended()) PostThreadMessageA(GetThreadId(thread_.get()), WM_QUIT, 0, 0);
        WaitForSingleObject(thread_.get(), 20000);
        Host().isService = true;
        Host().messageThreadId = 0;
    }
    bool Ended() const { return WaitForSingleObject(thread_.get(), 0) == WAIT_OBJECT_0; }
    bool EndsBy() const { return WaitForSingleObject(thread_.get(), 20000) == WAIT_OBJECT_0; }

private:
    static DWORD WINAPI Run(void* self) {
        // The queue exists before anyone may post the quit message to it.
        MSG message;
        PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
        Host().messageThreadId = GetCurrentThreadId();
        SetEvent(static_cast<PlainServerLoop*>(self)->ready_.get());
        Host().RunMessageLoop();
        return 0;
    }

    UniqueHandle ready_;
    UniqueHandle thread_;
};

TEST_F(ComClassesTest, LockServerKeepsThePlainServerLoopUntilUnlocked) {
    ASSERT_EQ(Host().lockCount, 0);
    ComPtr<IClassFactory> factory = ClassObjectOf(kClsidModule);
    ASSERT_NE(factory.Get(), nullptr);
    PlainServerLoop loop;
    ASSERT_FALSE(loop.Ended());

    ASSERT_EQ(factory->LockServer(TRUE), S_OK);
    ComPtr<IDispatch> object;
    ASSERT_EQ(factory->CreateInstance(nullptr, IID_IDispatch, reinterpret_cast<void**>(object.GetAddressOf())), S_OK);
    object.Reset();
    EXPECT_EQ(Host().lockCount, 1);
    EXPECT_FALSE(loop.Ended());

    ASSERT_EQ(factory->LockServer(FALSE), S_OK);
    EXPECT_TRUE(loop.EndsBy()) << "the loop outlived the last lock";
}

TEST_F(ComClassesTest, TheLastObjectEndsThePlainServerLoop) {
    ASSERT_EQ(Host().lockCount, 0);
    PlainServerLoop loop;
    ComPtr<LaunchObject> launch;
    ASSERT_EQ(NewInstance(launch), S_OK);
    ComPtr<ModuleObject> module;
    ASSERT_EQ(NewInstance(module), S_OK);
    launch.Reset();
    EXPECT_FALSE(loop.Ended());
    module.Reset();
    EXPECT_TRUE(loop.EndsBy()) << "the loop outlived the last object";
}

}  // namespace
