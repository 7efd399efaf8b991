// The application catalogue: stored form, edit states and their messages, lookups by name,
// deletion, refused texts, the parameter type table and the text conversions.
#include "config/AppCatalog.h"
#include "config/Application.h"
#include "base/Conversions.h"
#include "base/Owners.h"
#include "config/ParamTypeTable.h"
#include "base/RegistryKey.h"
#include "config/ServiceSettings.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <functional>

using Microsoft::WRL::ComPtr;

namespace {

// The description of the error info that the last failing operation left on this thread; the
// GUID must be IModule's.
std::string TakeError() {
    ComPtr<IErrorInfo> info;
    if (GetErrorInfo(0, &info) != S_OK) return "<none>";
    GUID guid{};
    info->GetGUID(&guid);
    Bstr description;
    info->GetDescription(description.out());
    return (IsEqualGUID(guid, kIidIModule) ? "" : "<not IModule> ") + ToAnsi(description.get());
}

std::string Text(BSTR value) { return value ? ToAnsi(value) : "<null>"; }
std::string Text(const std::wstring& value) { return ToAnsi(value); }

class AppCatalogTest : public testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, TestKeys().modules);
        PrepareServiceKeys(TestKeys());
    }

    static std::string Key(const std::string& name) { return TestKeys().modules + "\\" + name; }
    static std::string Stored(const std::string& name, const char* value, DWORD* type = nullptr) {
        return ReadString(HKEY_LOCAL_MACHINE, Key(name), value, type);
    }
    static DWORD StoredNumber(const std::string& name, const char* value) {
        return ReadDword(HKEY_LOCAL_MACHINE, Key(name), value);
    }
    static DWORD ValueCount(const std::string& name) {
        RegistryKey key;
        DWORD values = ~0u;
        if (key.Open(HKEY_LOCAL_MACHINE, Key(name).c_str(), KEY_READ) == ERROR_SUCCESS)
            RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr,
                             nullptr, nullptr, nullptr);
        return values;
    }
    // AddNew, the puts, Update; returns Update's result.
    static HRESULT Store(const std::function<void(AppCatalog&)>& puts, AppCatalog* catalog = nullptr) {
        AppCatalog own(TestKeys());
        AppCatalog& target = catalog ? *catalog : own;
        EXPECT_EQ(target.AddNew(), S_OK);
        puts(target);
        return target.Update();
    }
    static HRESULT StoreProgram(const wchar_t* name, const wchar_t* exePath) {
        return Store([&](AppCatalog& c) {
            c.Edit().name = name;
            c.Edit().exePath = exePath;
        });
    }
};

// --- Stored form ----------------------------------------------------------------------------

TEST_F(AppCatalogTest, AStandardApplicationStoresSevenValuesAndTheRecordIsReset) {
    AppCatalog catalog(TestKeys());
    ASSERT_EQ(Store([](AppCatalog& c) {
                  c.Edit().name = L"Editor";
                  c.Edit().exePath = L"C:\\X.EXE";
                  c.Edit().instances = 2;
                  c.Edit().attrib = 3;
                  c.Edit().methodName = L"Run";  // not stored for a standard application
              }, &catalog),
              S_OK);
    EXPECT_EQ(ValueCount("Editor"), 7u);
    DWORD type = 0;
    EXPECT_EQ(Stored("Editor", "DispName", &type), "Editor");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Stored("Editor", "ExePath"), "C:\\X.EXE");
    for (const char* empty : {"StartDir", "ProgId", "CmdLineArgs"}) {
        EXPECT_EQ(Stored("Editor", empty, &type), "") << empty;
        EXPECT_EQ(type, static_cast<DWORD>(REG_SZ)) << empty;
    }
    EXPECT_EQ(StoredNumber("Editor", "Attrib"), 3u);
    EXPECT_EQ(StoredNumber("Editor", "Instances"), 2u);

    EXPECT_EQ(Text(catalog.Record().name), "");
    EXPECT_EQ(Text(catalog.Record().methodName), "");
    EXPECT_EQ(catalog.Record().instances, 0);
    EXPECT_FALSE(catalog.IsEditing());

    // An empty name is stored as "Unknown" with an empty "DispName".
    ASSERT_EQ(StoreProgram(L"", L"C:\\Nameless.exe"), S_OK);
    EXPECT_EQ(Stored("Unknown", "DispName"), "");
    EXPECT_EQ(Stored("Unknown", "ExePath"), "C:\\Nameless.exe");
}

TEST_F(AppCatalogTest, InstancesAndAttribAreAdjustedOnlyWhenStored) {
    const struct {
        LONG instances, attrib;
        DWORD storedInstances, storedAttrib;
    } cases[] = {{0, -1, 1, 0}, {-5, 7, 1, 7}, {3, 0, 3, 0}};
    for (const auto& c : cases) {
        AppCatalog catalog(TestKeys());
        catalog.Edit().instances = c.instances;
        catalog.Edit().attrib = c.attrib;
        ASSERT_EQ(Store([](AppCatalog& c) {
                      c.Edit().name = L"Counted";
                      c.Edit().exePath = L"C:\\Counted.exe";
                  }, &catalog),
                  S_OK);
        EXPECT_EQ(StoredNumber("Counted", "Instances"), c.storedInstances) << c.instances;
        EXPECT_EQ(StoredNumber("Counted", "Attrib"), c.storedAttrib) << c.attrib;
    }
}

TEST_F(AppCatalogTest, AnActiveXApplicationStoresTypesOnlyBesideValues) {
    ASSERT_EQ(Store([](AppCatalog& c) {
                  c.Edit().name = L"Server";
                  c.Edit().progId = L"Some.Server";
                  c.Edit().methodReturnType = L"VT_I4";   // no method name: stored empty
                  c.Edit().paramOneType = L"VT_VARIANT";  // no value: stored empty
                  c.Edit().paramTwo = L"5";
                  c.Edit().paramTwoType = L"VT_I2";
              }),
              S_OK);
    EXPECT_EQ(ValueCount("Server"), 17u);
    const std::pair<const char*, const char*> expected[] = {
        {"ProgId", "Some.Server"}, {"ExePath", ""},     {"MethodName", ""},       {"MethodReturnType", ""},
        {"ParamOne", ""},          {"ParamOneType", ""}, {"ParamTwo", "5"},        {"ParamTwoType", "VT_I2"},
        {"ParamThree", ""},        {"ParamThreeType", ""}, {"ParamFour", ""},      {"ParamFourType", ""}};
    for (const auto& [name, text] : expected) EXPECT_EQ(Stored("Server", name), text) << name;

    ASSERT_EQ(Store([](AppCatalog& c) {
                  c.Edit().name = L"Server";
                  c.Edit().progId = L"Some.Server";
                  c.Edit().methodName = L"Go";
                  c.Edit().methodReturnType = L"VT_I4";
              }),
              S_OK);
    EXPECT_EQ(Stored("Server", "MethodReturnType"), "VT_I4");

    // Turned into a standard application, it keeps the old method values.
    ASSERT_EQ(StoreProgram(L"Server", L"C:\\Tool.exe"), S_OK);
    EXPECT_EQ(Stored("Server", "ProgId"), "");
    EXPECT_EQ(Stored("Server", "MethodName"), "Go");
}

// --- Edit states and their messages -----------------------------------------------------------

TEST_F(AppCatalogTest, EditStatesFollowTheirTable) {
    AppCatalog catalog(TestKeys());
    catalog.Edit().exePath = L"C:\\x.exe";
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeError(), "Cannot call Update method without first calling AddNew");
    EXPECT_EQ(CountApplications(TestKeys()), 0u);

    ASSERT_EQ(catalog.AddNew(), S_OK);
    EXPECT_EQ(catalog.AddNew(), E_FAIL);
    EXPECT_EQ(TakeError(), "AddNew must be followed by Update or CancelUpdate before calling AddNew again");
    EXPECT_EQ(catalog.CancelUpdate(), S_OK);
    EXPECT_EQ(Text(catalog.Record().exePath), "");  // reset
    EXPECT_EQ(catalog.CancelUpdate(), S_OK);  // allowed when not editing too

    // Neither path nor ProgID: still editing, fields kept, and completing the record stores it.
    ASSERT_EQ(catalog.AddNew(), S_OK);
    catalog.Edit().name = L"Incomplete";
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeError(), "Cannot call Update method without specifying either Path or ProgID");
    EXPECT_TRUE(catalog.IsEditing());
    catalog.Edit().exePath = L"C:\\Complete.exe";
    EXPECT_EQ(catalog.Update(), S_OK);
    EXPECT_EQ(Stored("Incomplete", "ExePath"), "C:\\Complete.exe");

    // A key the registry cannot create (a name over 255 characters): still editing, kept.
    ASSERT_EQ(catalog.AddNew(), S_OK);
    catalog.Edit().name = std::wstring(258, L'n');
    catalog.Edit().exePath = L"C:\\x.exe";
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeError(), "Error while working with registry");
    EXPECT_TRUE(catalog.IsEditing());
    EXPECT_EQ(Text(catalog.Record().name), std::string(258, 'n'));
    EXPECT_EQ(CountApplications(TestKeys()), 1u);
}

// --- Lookups by name, deletion ------------------------------------------------------------------

TEST_F(AppCatalogTest, FindIsCaseSensitiveWhileUpdateMeetsTheKeyInAnyCase) {
    ASSERT_EQ(Store([](AppCatalog& c) {
                  c.Edit().name = L"Editor";
                  c.Edit().exePath = L"C:\\Editor.exe";
                  c.Edit().cmdLineArgs = L"-a b";
                  c.Edit().attrib = 2;
                  c.Edit().instances = 4;
              }),
              S_OK);
    WriteString(HKEY_LOCAL_MACHINE, Key("Editor"), "DispName", "Not read back");
    AppCatalog catalog(TestKeys());
    catalog.Edit().exePath = L"untouched";
    catalog.Edit().methodName = L"stale";
    short found = 7;
    for (const wchar_t* miss : {L"editor", static_cast<const wchar_t*>(nullptr)}) {
        EXPECT_EQ(catalog.Find(miss, &found), S_OK);
        EXPECT_EQ(found, 0);
    }
    EXPECT_EQ(Text(catalog.Record().exePath), "untouched");

    EXPECT_EQ(catalog.Find(L"Editor", &found), S_OK);
    EXPECT_EQ(found, 1);
    const Application& record = catalog.Record();
    EXPECT_EQ(Text(record.name), "Editor");  // the key's name
    EXPECT_EQ(Text(record.exePath), "C:\\Editor.exe");
    EXPECT_EQ(Text(record.cmdLineArgs), "-a b");
    EXPECT_EQ(Text(record.methodName), "");  // missing: empty
    EXPECT_EQ(record.attrib, 2);
    EXPECT_EQ(record.instances, 4);

    ASSERT_EQ(StoreProgram(L"editor", L"C:\\Other.exe"), S_OK);
    EXPECT_EQ(catalog.ListApplicationNames(), std::vector<std::string>{"Editor"});
    EXPECT_EQ(Stored("Editor", "DispName"), "editor");
    EXPECT_EQ(Stored("Editor", "ExePath"), "C:\\Other.exe");
}

TEST_F(AppCatalogTest, DeleteRemovesOnlyAnExactlyNamedApplicationWithItsSubkeys) {
    AppCatalog catalog(TestKeys());
    short result = 7;
    EXPECT_EQ(catalog.Delete(L"Nothing", &result), S_OK);
    EXPECT_EQ(result, 0);
    ASSERT_EQ(StoreProgram(L"Keep", L"C:\\keep.exe"), S_OK);
    ASSERT_EQ(StoreProgram(L"Drop", L"C:\\drop.exe"), S_OK);
    WriteString(HKEY_LOCAL_MACHINE, Key("Drop") + "\\Below\\Deeper", "v", "x");
    for (const wchar_t* miss : {L"Unknown app", L"drop", static_cast<const wchar_t*>(nullptr)}) {
        EXPECT_EQ(catalog.Delete(miss, &result), S_OK);
        EXPECT_EQ(result, 0);
    }
    ASSERT_EQ(catalog.AddNew(), S_OK);
    EXPECT_EQ(catalog.Delete(L"Drop", &result), S_OK);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(catalog.ListApplicationNames(), std::vector<std::string>{"Keep"});
    EXPECT_TRUE(catalog.IsEditing());  // untouched by Delete
}

TEST_F(AppCatalogTest, ABackslashInTheNameMakesANestedKey) {
    ASSERT_EQ(StoreProgram(L"A\\B", L"C:\\nested.exe"), S_OK);
    AppCatalog catalog(TestKeys());
    EXPECT_EQ(catalog.ListApplicationNames(), std::vector<std::string>{"A"});
    EXPECT_EQ(ValueCount("A"), 0u);
    EXPECT_EQ(Stored("A\\B", "ExePath"), "C:\\nested.exe");
    short result = 0;
    EXPECT_EQ(catalog.Delete(L"A", &result), S_OK);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(CountApplications(TestKeys()), 0u);
}

// --- Texts that do not fit ------------------------------------------------------------------

TEST_F(AppCatalogTest, AnOverlongTextIsRefusedAndNothingIsWritten) {
    ASSERT_EQ(StoreProgram(L"Existing", L"C:\\old.exe"), S_OK);
    const std::wstring fits(kMaxStoredText, L'x');
    const std::wstring tooLong(kMaxStoredText + 1, L'y');
    AppCatalog catalog(TestKeys());
    ASSERT_EQ(catalog.AddNew(), S_OK);
    catalog.Edit().name = L"Existing";
    catalog.Edit().exePath = L"C:\\new.exe";
    catalog.Edit().cmdLineArgs = tooLong;
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeError(), "CmdLineArgs is longer than 259 characters");
    EXPECT_EQ(Stored("Existing", "ExePath"), "C:\\old.exe");
    EXPECT_TRUE(catalog.IsEditing());

    // A method value counts only where it is stored: in an ActiveX application.
    catalog.Edit().cmdLineArgs = fits;
    catalog.Edit().paramFour = tooLong;
    catalog.Edit().progId = L"Some.Server";
    EXPECT_EQ(catalog.Update(), E_FAIL);
    EXPECT_EQ(TakeError(), "ParamFour is longer than 259 characters");
    catalog.Edit().progId = L"";
    EXPECT_EQ(catalog.Update(), S_OK);
    EXPECT_EQ(Stored("Existing", "CmdLineArgs"), std::string(kMaxStoredText, 'x'));  // stored whole
    EXPECT_FALSE(ValueExists(HKEY_LOCAL_MACHINE, Key("Existing"), "ParamFour"));

    // A new application with an overlong name gets no key at all.
    ASSERT_EQ(Store([](AppCatalog& c) {
                  c.Edit().name = std::wstring(300, L'n');
                  c.Edit().exePath = L"C:\\x.exe";
              }),
              E_FAIL);
    EXPECT_EQ(TakeError(), "DispName is longer than 259 characters");
    EXPECT_EQ(CountApplications(TestKeys()), 1u);
}

TEST(ExitCodeListTest, ListsOfDecimalAndHexadecimalCodesParseAndAnythingElseLeavesTheCodes) {
    const struct {
        const wchar_t* text;
        bool valid;
        std::vector<DWORD> codes;
    } cases[] = {
        {L"", true, {}},          {L" ", true, {}},          {L"0,3", true, {0, 3}},
        {L" 0 , 3 ", true, {0, 3}}, {L"0xC0000005", true, {0xC0000005}}, {L"4294967295", true, {0xFFFFFFFF}},
        {L"4294967296", false, {}}, {L"0,", false, {}},      {L",3", false, {}},
        {L"3 4", false, {}},      {L"-1", false, {}},        {L"0x", false, {}},  {L"0xG", false, {}},
    };
    for (const auto& c : cases) {
        std::vector<DWORD> codes{7};
        EXPECT_EQ(ParseExitCodes(c.text, codes), c.valid) << ToAnsi(c.text);
        EXPECT_EQ(codes, c.valid ? c.codes : std::vector<DWORD>{7}) << ToAnsi(c.text);
    }
}

// --- Parameter types ------------------------------------------------------------

TEST(ParamTypeTableTest, NamesMapBothWaysExactlyAndUnknownOnesMapToNone) {
    for (const ParamType& type : kParamTypes) {
        Bstr display(ToDisplayTypeName(Bstr(ToBstr(type.storedName)).get()));
        Bstr stored(ToVariantTypeName(Bstr(ToBstr(type.displayName)).get()));
        EXPECT_EQ(Text(display.get()), type.displayName);
        EXPECT_EQ(Text(stored.get()), type.storedName);
    }
    EXPECT_EQ(Text(Bstr(ToVariantTypeName(L"string")).get()), "");
    EXPECT_EQ(Text(Bstr(ToDisplayTypeName(L"vt_bstr")).get()), "None");
    EXPECT_EQ(ToVariantTypeName(nullptr), nullptr);
    EXPECT_EQ(ToDisplayTypeName(nullptr), nullptr);
    EXPECT_EQ(TypeLetter(L"VT_VARIANT"), 'v');
    EXPECT_EQ(TypeLetter(L"VT_I4"), 'I');
    EXPECT_EQ(TypeLetter(L"vt_variant"), '\0');
    EXPECT_EQ(TypeLetter(L""), '\0');
}

}  // namespace
