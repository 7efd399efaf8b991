// The application catalogue: stored form, edit states and their messages, lookups by name,
// deletion, refused texts, the parameter type table and the text conversions.
#include "config/AppCatalog.h"
#include "config/Conversions.h"
#include "config/ParamTypeTable.h"
#include "config/RegistryKey.h"
#include "host/Installation.h"
#include "host/Owners.h"
#include "host/ServiceHost.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <string>
#include <vector>

using Microsoft::WRL::ComPtr;

namespace {

const wchar_t kAddNewTwice[] = L"AddNew must be followed by Update or CancelUpdate before calling AddNew again";
const wchar_t kUpdateWithoutAddNew[] = L"Cannot call Update method without first calling AddNew";
const wchar_t kUpdateWithoutTarget[] = L"Cannot call Update method without specifying either Path or ProgID";
const wchar_t kRegistryError[] = L"Error while working with registry";

const char* const kMethodValues[] = {"MethodName", "MethodReturnType", "ParamOne",   "ParamOneType",
                                     "ParamTwo",   "ParamTwoType",     "ParamThree", "ParamThreeType",
                                     "ParamFour",  "ParamFourType"};

// The error info that the last failing operation left on this thread (taken, so the next
// read starts afresh).
struct ReportedError {
    std::wstring description;
    GUID guid{};
};

ReportedError TakeErrorInfo() {
    ReportedError reported;
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK || !info) return reported;
    Bstr description;
    if (SUCCEEDED(info->GetDescription(description.out())) && description.get())
        reported.description = description.get();
    info->GetGUID(&reported.guid);
    return reported;
}

std::wstring Text(BSTR value) { return value ? std::wstring(value) : std::wstring(L"<null>"); }

std::wstring Wide(const std::string& text) { return std::wstring(text.begin(), text.end()); }

DWORD ValueCount(const std::string& path) {
    RegistryKey key;
    if (key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ) != ERROR_SUCCESS) return ~0u;
    DWORD values = 0;
    RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr,
                     nullptr, nullptr);
    return values;
}

class AppCatalogTest : public testing::Test {
protected:
    void SetUp() override { EmptyModules(); }
    void TearDown() override { EmptyModules(); }

    static void EmptyModules() {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, Host().modulesKeyPath);
        PrepareRegistry();
        SetErrorInfo(0, nullptr);
    }

    static std::string AppKey(const std::string& name) { return Host().modulesKeyPath + "\\" + name; }

    // Stores a standard application through the catalogue.
    static void Store(const wchar_t* name, const wchar_t* exePath) {
        AppCatalog catalog;
        ASSERT_EQ(catalog.AddNew(), S_OK);
        ASSERT_EQ(catalog.put_DispName(name), S_OK);
        ASSERT_EQ(catalog.put_ExePath(exePath), S_OK);
        ASSERT_EQ(catalog.Update(), S_OK);
    }

    static std::string Stored(const std::string& name, const char* value, DWORD* type = nullptr) {
        return ReadString(HKEY_LOCAL_MACHINE, AppKey(name), value, type);
    }
};

// --- Stored form ----------------------------------------------------------------------------

TEST_F(AppCatalogTest, StandardApplicationStoresSevenValuesAndResetsTheRecord) {
    AppCatalog catalog;
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Editor"), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\X.EXE"), S_OK);
    ASSERT_EQ(catalog.put_Instances(2), S_OK);
    ASSERT_EQ(catalog.put_Attrib(3), S_OK);
    // Method values in the record are not stored for a standard application.
    ASSERT_EQ(catalog.put_MethodName(L"Run"), S_OK);
    ASSERT_EQ(catalog.Update(), S_OK);

    const std::string key = AppKey("Editor");
    EXPECT_EQ(ValueCount(key), 7u);
    DWORD type = 0;
    EXPECT_EQ(Stored("Editor", "DispName", &type), "Editor");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Stored("Editor", "ExePath"), "C:\\X.EXE");
    EXPECT_EQ(Stored("Editor", "StartDir", &type), "");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Stored("Editor", "ProgId"), "");
    EXPECT_EQ(Stored("Editor", "CmdLineArgs"), "");
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, key, "Attrib"), 3u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, key, "Instances"), 2u);
    for (const char* name : kMethodValues) EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, key, name)) << name;

    // Text values carry their terminating zero in the stored length.
    RegistryKey opened;
    ASSERT_EQ(opened.Open(HKEY_LOCAL_MACHINE, key.c_str(), KEY_READ), ERROR_SUCCESS);
    DWORD size = 0;
    ASSERT_EQ(RegQueryValueExA(opened.get(), "ExePath", nullptr, nullptr, nullptr, &size), ERROR_SUCCESS);
    EXPECT_EQ(size, 9u);

    // The record is reset and the edit ended.
    BSTR value = nullptr;
    ASSERT_EQ(catalog.get_DispName(&value), S_OK);
    EXPECT_EQ(Text(value), L"");
    ASSERT_EQ(catalog.get_MethodName(&value), S_OK);
    EXPECT_EQ(Text(value), L"");
    LONG number = -1;
    ASSERT_EQ(catalog.get_Instances(&number), S_OK);
    EXPECT_EQ(number, 0);
    EXPECT_EQ(catalog.Record().editMode, 0);
}

TEST_F(AppCatalogTest, ActiveXApplicationStoresMethodValuesWithTypesOnlyBesideValues) {
    AppCatalog catalog;
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Server"), S_OK);
    ASSERT_EQ(catalog.put_ProgId(L"Some.Server"), S_OK);
    ASSERT_EQ(catalog.put_MethodReturnType(L"VT_I4"), S_OK);  // no method name: stored empty
    ASSERT_EQ(catalog.put_ParamOneType(L"VT_VARIANT"), S_OK);  // no value: stored empty
    ASSERT_EQ(catalog.put_ParamTwo(L"5"), S_OK);
    ASSERT_EQ(catalog.put_ParamTwoType(L"VT_I2"), S_OK);
    ASSERT_EQ(catalog.put_ParamFour(L"four"), S_OK);
    ASSERT_EQ(catalog.Update(), S_OK);

    const std::string key = AppKey("Server");
    EXPECT_EQ(ValueCount(key), 17u);
    EXPECT_EQ(Stored("Server", "ProgId"), "Some.Server");
    EXPECT_EQ(Stored("Server", "ExePath"), "");
    EXPECT_EQ(Stored("Server", "MethodName"), "");
    EXPECT_EQ(Stored("Server", "MethodReturnType"), "");
    EXPECT_EQ(Stored("Server", "ParamOne"), "");
    EXPECT_EQ(Stored("Server", "ParamOneType"), "");
    EXPECT_EQ(Stored("Server", "ParamTwo"), "5");
    EXPECT_EQ(Stored("Server", "ParamTwoType"), "VT_I2");
    EXPECT_EQ(Stored("Server", "ParamThreeType"), "");
    EXPECT_EQ(Stored("Server", "ParamFour"), "four");
    EXPECT_EQ(Stored("Server", "ParamFourType"), "");
    for (const char* name : kMethodValues) {
        DWORD type = 0;
        Stored("Server", name, &type);
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << name;
    }
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, key, "Instances"), 1u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, key, "Attrib"), 0u);

    // With a method name, its return type is stored.
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Server"), S_OK);
    ASSERT_EQ(catalog.put_ProgId(L"Some.Server"), S_OK);
    ASSERT_EQ(catalog.put_MethodName(L"Go"), S_OK);
    ASSERT_EQ(catalog.put_MethodReturnType(L"VT_I4"), S_OK);
    ASSERT_EQ(catalog.Update(), S_OK);
    EXPECT_EQ(Stored("Server", "MethodName"), "Go");
    EXPECT_EQ(Stored("Server", "MethodReturnType"), "VT_I4");
}

TEST_F(AppCatalogTest, ActiveXTurnedStandardKeepsTheOldMethodValues) {
    AppCatalog catalog;
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Changing"), S_OK);
    ASSERT_EQ(catalog.put_ProgId(L"Some.Server"), S_OK);
    ASSERT_EQ(catalog.put_MethodName(L"Go"), S_OK);
    ASSERT_EQ(catalog.Update(), S_OK);

    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Changing"), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\Tool.exe"), S_OK);
    ASSERT_EQ(catalog.Update(), S_OK);
    EXPECT_EQ(Stored("Changing", "ProgId"), "");
    EXPECT_EQ(Stored("Changing", "ExePath"), "C:\\Tool.exe");
    EXPECT_EQ(Stored("Changing", "MethodName"), "Go");
}

TEST_F(AppCatalogTest, EmptyNameIsStoredAsUnknown) {
    Store(L"", L"C:\\Nameless.exe");
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, AppKey("Unknown")));
    DWORD type = 0;
    EXPECT_EQ(Stored("Unknown", "DispName", &type), "");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Stored("Unknown", "ExePath"), "C:\\Nameless.exe");
}

TEST_F(AppCatalogTest, InstancesAndAttribAreAdjustedWhenStored) {
    struct Case {
        LONG instances, attrib;
        DWORD storedInstances, storedAttrib;
    };
    const Case cases[] = {{0, -1, 1, 0}, {-5, 7, 1, 7}, {1, 0, 1, 0}, {3, 2, 3, 2}};
    for (const Case& c : cases) {
        AppCatalog catalog;
        ASSERT_EQ(catalog.AddNew(), S_OK);
        ASSERT_EQ(catalog.put_DispName(L"Counted"), S_OK);
        ASSERT_EQ(catalog.put_ExePath(L"C:\\Counted.exe"), S_OK);
        ASSERT_EQ(catalog.put_Instances(c.instances), S_OK);
        ASSERT_EQ(catalog.put_Attrib(c.attrib), S_OK);
        // The accessors keep the value as put, negative values included.
        LONG instances = 0, attrib = 0;
        ASSERT_EQ(catalog.get_Instances(&instances), S_OK);
        ASSERT_EQ(catalog.get_Attrib(&attrib), S_OK);
        EXPECT_EQ(instances, c.instances);
        EXPECT_EQ(attrib, c.attrib);
        ASSERT_EQ(catalog.Update(), S_OK);
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, AppKey("Counted"), "Instances"), c.storedInstances)
            << "instances " << c.instances;
        EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, AppKey("Counted"), "Attrib"), c.storedAttrib)
            << "attrib " << c.attrib;
    }
}

// --- Edit states and their messages -----------------------------------------------------------

TEST_F(AppCatalogTest, AddNewTwiceFailsUntilCancelUpdate) {
    AppCatalog catalog;
    ASSERT_EQ(catalog.AddNew(), S_OK);
    EXPECT_EQ(catalog.AddNew(), E_FAIL);
    ReportedError error = TakeErrorInfo();
    EXPECT_EQ(error.description, kAddNewTwice);
    EXPECT_TRUE(IsEqualGUID(error.guid, kIidIModule));
    EXPECT_EQ(catalog.Record().editMode, 1);

    EXPECT_EQ(catalog.CancelUpdate(), S_OK);
    EXPECT_EQ(catalog.Record().editMode, 0);
    EXPECT_EQ(catalog.AddNew(), S_OK);
}

TEST_F(AppCatalogTest, UpdateWithoutAddNewFailsAndWritesNothing) {
    AppCatalog catalog;
    ASSERT_EQ(catalog.put_DispName(L"NotEditing"), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\x.exe"), S_OK);
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeErrorInfo().description, kUpdateWithoutAddNew);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AppKey("NotEditing")));
    EXPECT_EQ(CountApplications(), 0u);
}

TEST_F(AppCatalogTest, UpdateWithoutPathOrProgIdKeepsEditingAndFields) {
    AppCatalog catalog;
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Incomplete"), S_OK);
    ASSERT_EQ(catalog.put_CmdLineArgs(L"-x"), S_OK);
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeErrorInfo().description, kUpdateWithoutTarget);
    EXPECT_EQ(CountApplications(), 0u);

    // Still editing, fields kept: completing the record stores it.
    EXPECT_EQ(catalog.AddNew(), E_FAIL);
    EXPECT_EQ(TakeErrorInfo().description, kAddNewTwice);
    BSTR value = nullptr;
    ASSERT_EQ(catalog.get_CmdLineArgs(&value), S_OK);
    EXPECT_EQ(Text(value), L"-x");
    ASSERT_EQ(catalog.put_ExePath(L"C:\\Complete.exe"), S_OK);
    EXPECT_EQ(catalog.Update(), S_OK);
    EXPECT_EQ(Stored("Incomplete", "CmdLineArgs"), "-x");
}

TEST_F(AppCatalogTest, RegistryFailureKeepsEditingAndFields) {
    // A key name longer than the registry allows cannot be created.
    const std::wstring longName(258, L'n');
    AppCatalog catalog;
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(longName.c_str()), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\x.exe"), S_OK);
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeErrorInfo().description, kRegistryError);
    EXPECT_EQ(catalog.Record().editMode, 1);
    BSTR value = nullptr;
    ASSERT_EQ(catalog.get_DispName(&value), S_OK);
    EXPECT_EQ(Text(value), longName);
    EXPECT_EQ(CountApplications(), 0u);
}

TEST_F(AppCatalogTest, CancelUpdateResetsInEitherState) {
    AppCatalog catalog;
    ASSERT_EQ(catalog.put_ProgId(L"Kept.Until.Cancel"), S_OK);
    ASSERT_EQ(catalog.put_Attrib(2), S_OK);
    EXPECT_EQ(catalog.CancelUpdate(), S_OK);
    BSTR value = nullptr;
    ASSERT_EQ(catalog.get_ProgId(&value), S_OK);
    EXPECT_EQ(Text(value), L"");
    LONG attrib = -1;
    ASSERT_EQ(catalog.get_Attrib(&attrib), S_OK);
    EXPECT_EQ(attrib, 0);

    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\x.exe"), S_OK);
    EXPECT_EQ(catalog.CancelUpdate(), S_OK);
    EXPECT_EQ(catalog.Update(), E_FAIL);  // the edit ended
    EXPECT_EQ(CountApplications(), 0u);
}

TEST_F(AppCatalogTest, AddNewKeepsWhatFindLoaded) {
    Store(L"Original", L"C:\\Original.exe");
    AppCatalog catalog;
    short found = 0;
    ASSERT_EQ(catalog.Find(L"Original", &found), S_OK);
    ASSERT_EQ(found, 1);
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Copy"), S_OK);
    ASSERT_EQ(catalog.Update(), S_OK);
    EXPECT_EQ(Stored("Copy", "ExePath"), "C:\\Original.exe");
}

// --- Accessors ------------------------------------------------------------------------------

TEST_F(AppCatalogTest, AccessorsRefuseNullAndHandOutTheRecordsOwnString) {
    AppCatalog catalog;
    EXPECT_EQ(catalog.get_ParamThree(nullptr), E_POINTER);
    EXPECT_EQ(catalog.put_ParamThree(nullptr), E_POINTER);
    EXPECT_EQ(catalog.get_Attrib(nullptr), E_POINTER);
    EXPECT_EQ(catalog.get_Instances(nullptr), E_POINTER);

    ASSERT_EQ(catalog.put_ParamThree(L"three"), S_OK);
    BSTR first = nullptr, second = nullptr;
    ASSERT_EQ(catalog.get_ParamThree(&first), S_OK);
    ASSERT_EQ(catalog.get_ParamThree(&second), S_OK);
    EXPECT_EQ(first, second);
    EXPECT_EQ(Text(first), L"three");

    // A put copies: the caller's string is not kept.
    wchar_t buffer[] = L"mine";
    ASSERT_EQ(catalog.put_ParamThreeType(buffer), S_OK);
    buffer[0] = L'X';
    ASSERT_EQ(catalog.get_ParamThreeType(&first), S_OK);
    EXPECT_EQ(Text(first), L"mine");
}

// --- Lookups by name ------------------------------------------------------------------------

TEST_F(AppCatalogTest, FindIsCaseSensitiveWhileUpdateMeetsTheKeyInAnyCase) {
    AppCatalog catalog;
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Editor"), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\Editor.exe"), S_OK);
    ASSERT_EQ(catalog.put_CmdLineArgs(L"-a b"), S_OK);
    ASSERT_EQ(catalog.put_StartDir(L"C:\\Work"), S_OK);
    ASSERT_EQ(catalog.put_Attrib(2), S_OK);
    ASSERT_EQ(catalog.put_Instances(4), S_OK);
    ASSERT_EQ(catalog.Update(), S_OK);

    ASSERT_EQ(catalog.put_ExePath(L"untouched"), S_OK);
    short found = 7;
    EXPECT_EQ(catalog.Find(L"editor", &found), S_OK);
    EXPECT_EQ(found, 0);
    BSTR value = nullptr;
    ASSERT_EQ(catalog.get_ExePath(&value), S_OK);
    EXPECT_EQ(Text(value), L"untouched");
    EXPECT_EQ(catalog.Find(nullptr, &found), S_OK);
    EXPECT_EQ(found, 0);

    EXPECT_EQ(catalog.Find(L"Editor", &found), S_OK);
    EXPECT_EQ(found, 1);
    ASSERT_EQ(catalog.get_ExePath(&value), S_OK);
    EXPECT_EQ(Text(value), L"C:\\Editor.exe");
    ASSERT_EQ(catalog.get_CmdLineArgs(&value), S_OK);
    EXPECT_EQ(Text(value), L"-a b");
    ASSERT_EQ(catalog.get_StartDir(&value), S_OK);
    EXPECT_EQ(Text(value), L"C:\\Work");
    LONG number = 0;
    ASSERT_EQ(catalog.get_Attrib(&number), S_OK);
    EXPECT_EQ(number, 2);
    ASSERT_EQ(catalog.get_Instances(&number), S_OK);
    EXPECT_EQ(number, 4);
    EXPECT_EQ(catalog.Record().editMode, 0);

    // Update of the lower-case name opens the existing key: it keeps its letter case and
    // "DispName" takes the new one.
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"editor"), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\Other.exe"), S_OK);
    ASSERT_EQ(catalog.Update(), S_OK);
    EXPECT_EQ(catalog.ListApplicationNames(), std::vector<std::string>{"Editor"});
    EXPECT_EQ(Stored("Editor", "DispName"), "editor");
    EXPECT_EQ(Stored("Editor", "ExePath"), "C:\\Other.exe");
}

TEST_F(AppCatalogTest, FindTakesTheNameFromTheKeyAndReadsMissingValuesAsEmpty) {
    const std::string key = AppKey("Bare");
    WriteString(HKEY_LOCAL_MACHINE, key, "DispName", "Something else");
    WriteString(HKEY_LOCAL_MACHINE, key, "ProgId", "Some.Server");
    WriteString(HKEY_LOCAL_MACHINE, key, "ParamOneType", "VT_VARIANT");

    AppCatalog catalog;
    ASSERT_EQ(catalog.put_MethodName(L"stale"), S_OK);
    ASSERT_EQ(catalog.put_Instances(9), S_OK);
    short found = 0;
    ASSERT_EQ(catalog.Find(L"Bare", &found), S_OK);
    ASSERT_EQ(found, 1);
    BSTR value = nullptr;
    ASSERT_EQ(catalog.get_DispName(&value), S_OK);
    EXPECT_EQ(Text(value), L"Bare");
    ASSERT_EQ(catalog.get_ProgId(&value), S_OK);
    EXPECT_EQ(Text(value), L"Some.Server");
    ASSERT_EQ(catalog.get_ParamOneType(&value), S_OK);
    EXPECT_EQ(Text(value), L"VT_VARIANT");
    ASSERT_EQ(catalog.get_MethodName(&value), S_OK);
    EXPECT_EQ(Text(value), L"");
    LONG instances = -1;
    ASSERT_EQ(catalog.get_Instances(&instances), S_OK);
    EXPECT_EQ(instances, 0);
}

TEST_F(AppCatalogTest, ListApplicationNamesFollowsTheRegistry) {
    AppCatalog catalog;
    EXPECT_TRUE(catalog.ListApplicationNames().empty());
    Store(L"First", L"C:\\1.exe");
    Store(L"Second", L"C:\\2.exe");
    Store(L"Third", L"C:\\3.exe");

    std::vector<std::string> expected;
    RegistryKey modules;
    ASSERT_EQ(modules.Open(HKEY_LOCAL_MACHINE, Host().modulesKeyPath.c_str(), KEY_READ), ERROR_SUCCESS);
    std::string name;
    for (DWORD index = 0; GetApplicationName(modules.get(), index, name); ++index) expected.push_back(name);
    ASSERT_EQ(expected.size(), 3u);
    EXPECT_EQ(catalog.ListApplicationNames(), expected);
}

// --- Deletion and odd names -------------------------------------------------------------------

TEST_F(AppCatalogTest, DeleteRemovesOnlyAnExactlyNamedApplication) {
    AppCatalog catalog;
    short result = 7;
    EXPECT_EQ(catalog.Delete(L"Nothing", &result), S_OK);  // no applications at all
    EXPECT_EQ(result, 0);

    Store(L"Keep", L"C:\\keep.exe");
    Store(L"Drop", L"C:\\drop.exe");
    WriteString(HKEY_LOCAL_MACHINE, AppKey("Drop") + "\\Below\\Deeper", "v", "x");

    result = 7;
    EXPECT_EQ(catalog.Delete(L"Unknown app", &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(catalog.Delete(L"drop", &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(catalog.Delete(nullptr, &result), S_OK);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(CountApplications(), 2u);

    // The record buffer and edit state are not touched.
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Pending"), S_OK);
    EXPECT_EQ(catalog.Delete(L"Drop", &result), S_OK);
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AppKey("Drop")));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, AppKey("Keep")));
    EXPECT_EQ(catalog.Record().editMode, 1);
    BSTR value = nullptr;
    ASSERT_EQ(catalog.get_DispName(&value), S_OK);
    EXPECT_EQ(Text(value), L"Pending");
}

TEST_F(AppCatalogTest, BackslashInTheNameMakesANestedKey) {
    Store(L"A\\B", L"C:\\nested.exe");
    AppCatalog catalog;
    EXPECT_EQ(catalog.ListApplicationNames(), std::vector<std::string>{"A"});
    EXPECT_EQ(ValueCount(AppKey("A")), 0u);
    EXPECT_EQ(Stored("A\\B", "ExePath"), "C:\\nested.exe");
    EXPECT_EQ(Stored("A\\B", "DispName"), "A\\B");

    short found = 0;
    ASSERT_EQ(catalog.Find(L"A", &found), S_OK);
    EXPECT_EQ(found, 1);
    LONG instances = -1;
    ASSERT_EQ(catalog.get_Instances(&instances), S_OK);
    EXPECT_EQ(instances, 0);  // an application with nothing to start

    short result = 0;
    EXPECT_EQ(catalog.Delete(L"A", &result), S_OK);
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, AppKey("A")));
}

// --- Texts that do not fit ------------------------------------------------------------------

TEST_F(AppCatalogTest, OverlongTextIsRefusedAndNothingIsWritten) {
    Store(L"Existing", L"C:\\old.exe");
    const std::wstring fits(kMaxStoredText, L'x');
    const std::wstring tooLong(kMaxStoredText + 1, L'y');

    AppCatalog catalog;
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Existing"), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\new.exe"), S_OK);
    ASSERT_EQ(catalog.put_CmdLineArgs(tooLong.c_str()), S_OK);
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeErrorInfo().description, L"CmdLineArgs is longer than 259 characters");
    EXPECT_EQ(Stored("Existing", "ExePath"), "C:\\old.exe");
    EXPECT_EQ(Stored("Existing", "CmdLineArgs"), "");
    EXPECT_EQ(catalog.Record().editMode, 1);

    // A method value is checked when it would be stored, in an ActiveX application.
    ASSERT_EQ(catalog.put_CmdLineArgs(fits.c_str()), S_OK);
    ASSERT_EQ(catalog.put_ProgId(L"Some.Server"), S_OK);
    ASSERT_EQ(catalog.put_ParamFour(tooLong.c_str()), S_OK);
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeErrorInfo().description, L"ParamFour is longer than 259 characters");
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, AppKey("Existing"), "ParamFour"));

    // A new application with an overlong name gets no key at all.
    ASSERT_EQ(catalog.CancelUpdate(), S_OK);
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(std::wstring(300, L'n').c_str()), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\x.exe"), S_OK);
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeErrorInfo().description, L"DispName is longer than 259 characters");
    EXPECT_EQ(CountApplications(), 1u);

    // 259 characters are stored whole.
    ASSERT_EQ(catalog.CancelUpdate(), S_OK);
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Existing"), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\new.exe"), S_OK);
    ASSERT_EQ(catalog.put_CmdLineArgs(fits.c_str()), S_OK);
    EXPECT_EQ(catalog.Update(), S_OK);
    EXPECT_EQ(Wide(Stored("Existing", "CmdLineArgs")), fits);
    short found = 0;
    ASSERT_EQ(catalog.Find(L"Existing", &found), S_OK);
    BSTR value = nullptr;
    ASSERT_EQ(catalog.get_CmdLineArgs(&value), S_OK);
    EXPECT_EQ(Text(value), fits);
}

TEST_F(AppCatalogTest, OverlongMethodValueOfAStandardApplicationIsNotStoredSoNotRefused) {
    AppCatalog catalog;
    ASSERT_EQ(catalog.AddNew(), S_OK);
    ASSERT_EQ(catalog.put_DispName(L"Plain"), S_OK);
    ASSERT_EQ(catalog.put_ExePath(L"C:\\plain.exe"), S_OK);
    ASSERT_EQ(catalog.put_ParamOne(std::wstring(400, L'p').c_str()), S_OK);
    EXPECT_EQ(catalog.Update(), S_OK);
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, AppKey("Plain"), "ParamOne"));
}

// --- Parameter types and conversions ------------------------------------------------------------

TEST(ParamTypeTableTest, NamesMapBothWaysExactly) {
    for (const ParamType& type : kParamTypes) {
        Bstr display(ToDisplayTypeName(Wide(type.storedName).c_str()));
        Bstr stored(ToVariantTypeName(Wide(type.displayName).c_str()));
        EXPECT_EQ(Text(display.get()), Wide(type.displayName));
        EXPECT_EQ(Text(stored.get()), Wide(type.storedName));
    }
    EXPECT_EQ(Text(Bstr(ToVariantTypeName(L"Variant")).get()), L"VT_VARIANT");
    EXPECT_EQ(Text(Bstr(ToVariantTypeName(L"None")).get()), L"");
    EXPECT_EQ(Text(Bstr(ToVariantTypeName(L"string")).get()), L"");
    EXPECT_EQ(Text(Bstr(ToVariantTypeName(L"Nonsense")).get()), L"");
    EXPECT_EQ(Text(Bstr(ToDisplayTypeName(L"")).get()), L"None");
    EXPECT_EQ(Text(Bstr(ToDisplayTypeName(L"VT_BSTR")).get()), L"String");
    EXPECT_EQ(Text(Bstr(ToDisplayTypeName(L"vt_bstr")).get()), L"None");
    EXPECT_EQ(ToVariantTypeName(nullptr), nullptr);
    EXPECT_EQ(ToDisplayTypeName(nullptr), nullptr);
}

TEST(ParamTypeTableTest, LettersOfTheStoredNames) {
    EXPECT_EQ(TypeLetter(L"VT_BSTR"), 's');
    EXPECT_EQ(TypeLetter(L"VT_I2"), 'i');
    EXPECT_EQ(TypeLetter(L"VT_I4"), 'I');
    EXPECT_EQ(TypeLetter(L"VT_R4"), 'r');
    EXPECT_EQ(TypeLetter(L"VT_R8"), 'R');
    EXPECT_EQ(TypeLetter(L"VT_BOOL"), 'b');
    EXPECT_EQ(TypeLetter(L"VT_DATE"), 'd');
    EXPECT_EQ(TypeLetter(L"VT_CY"), 'c');
    EXPECT_EQ(TypeLetter(L"VT_VARIANT"), 'v');
    EXPECT_EQ(TypeLetter(L"VT_DISPATCH"), 'D');
    EXPECT_EQ(TypeLetter(L"vt_variant"), '\0');
    EXPECT_EQ(TypeLetter(L""), '\0');
    EXPECT_EQ(TypeLetter(nullptr), '\0');
}

TEST(ConversionsTest, AnsiAndWideRoundTrip) {
    Bstr converted(ToBstr("C:\\Program Files\\Tool \xE9t\xE9.exe"));
    ASSERT_NE(converted.get(), nullptr);
    EXPECT_EQ(ToAnsi(converted.get()), "C:\\Program Files\\Tool \xE9t\xE9.exe");
    EXPECT_EQ(converted.length(), 29u);
    EXPECT_EQ(converted.get()[22], L'\u00E9');
    Bstr empty(ToBstr(""));
    ASSERT_NE(empty.get(), nullptr);
    EXPECT_EQ(empty.length(), 0u);
    EXPECT_EQ(ToBstr(static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(ToAnsi(nullptr), "");

    // Long texts are converted whole.
    std::string longText(5000, 'L');
    Bstr longWide(ToBstr(longText));
    EXPECT_EQ(longWide.length(), 5000u);
    EXPECT_EQ(ToAnsi(longWide.get()), longText);
}

TEST(ConversionsTest, EqualsAnsiComparesExactly) {
    EXPECT_TRUE(EqualsAnsi(L"Editor", "Editor"));
    EXPECT_FALSE(EqualsAnsi(L"Editor", "editor"));
    EXPECT_FALSE(EqualsAnsi(L"Editor", "Editor "));
    EXPECT_TRUE(EqualsAnsi(nullptr, nullptr));
    EXPECT_FALSE(EqualsAnsi(nullptr, ""));
    EXPECT_FALSE(EqualsAnsi(L"", nullptr));
}

}  // namespace
