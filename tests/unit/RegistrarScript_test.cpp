// Registration scripts: variables, tokens, value types, the register and unregister walks,
// the program's own three scripts, and a randomised run of generated and damaged scripts.
//
// Every predefined root key of the process is redirected (RegOverridePredefKey) to a subkey
// of a scratch key, so that scripts may name HKCR or HKLM and everything they write lands
// where the test reads it.
#include "registrar/RegistrarScript.h"

#include "base/RegistryKey.h"
#include "host/Installation.h"
#include "support/TestSupport.h"
#include "Guids.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <random>

namespace {

struct RootTarget {
    const char* name;
    HKEY root;
};
// HKPD is redirected too, but Wine keeps performance data apart: keys below it cannot be
// created at all, so a script naming it fails without writing.
const RootTarget kRoots[] = {
    {"HKCR", HKEY_CLASSES_ROOT}, {"HKCU", HKEY_CURRENT_USER}, {"HKLM", HKEY_LOCAL_MACHINE}, {"HKU", HKEY_USERS},
    {"HKDD", HKEY_DYN_DATA},     {"HKCC", HKEY_CURRENT_CONFIG}, {"HKPD", HKEY_PERFORMANCE_DATA},
};

std::string Lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string Hex(const BYTE* data, std::size_t size) {
    std::string text;
    char pair[3];
    for (std::size_t i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", data[i]);
        text += pair;
    }
    return text;
}

// Lines "key <path>" and "value <path>|<name>|<type>|<hex data>" for everything below key,
// paths and names in lower case (the registry ignores case), sorted.
void DumpKey(HKEY key, const std::string& path, std::vector<std::string>& lines) {
    DWORD longestName = 0, longestData = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS)
        return;
    std::vector<char> name(longestName + 1);
    std::vector<BYTE> data(longestData + 1);
    for (DWORD i = 0;; ++i) {
        DWORD nameLength = static_cast<DWORD>(name.size());
        DWORD size = static_cast<DWORD>(data.size());
        DWORD type = 0;
        if (RegEnumValueA(key, i, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS) break;
        lines.push_back("value " + path + "|" + Lower(std::string(name.data(), nameLength)) + "|" +
                        std::to_string(type) + "|" + Hex(data.data(), size));
    }
    for (DWORD i = 0;; ++i) {
        char name[256];
        DWORD length = sizeof name;
        if (RegEnumKeyExA(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        std::string childPath = path + "\\" + Lower(std::string(name, length));
        lines.push_back("key " + childPath);
        RegistryKey child;
        if (child.Open(key, name, KEY_READ) == ERROR_SUCCESS) DumpKey(child.get(), childPath, lines);
    }
}

// Redirects every root key to HKCU\Software\CorvaneTests\<name>\<root> for its lifetime,
// or, when shared, all of them to one key "All" (fewer keys to read back).
class RedirectedRegistry {
public:
    explicit RedirectedRegistry(const std::string& name, bool shared = false) : scratch_(name) {
        ok_ = base_.Open(HKEY_CURRENT_USER, scratch_.path().c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS;
        for (const RootTarget& target : kRoots) {
            const char* targetName = shared ? "All" : target.name;
            if (targets_.empty() || targets_.back() != targetName) targets_.push_back(targetName);
            RegistryKey key;
            ok_ = ok_ && key.Create(base_.get(), targetName, KEY_ALL_ACCESS) == ERROR_SUCCESS &&
                  RegOverridePredefKey(target.root, key.get()) == ERROR_SUCCESS;
        }
    }
    ~RedirectedRegistry() {
        for (const RootTarget& target : kRoots) RegOverridePredefKey(target.root, nullptr);
    }
    bool ok() const { return ok_; }
    // The real scratch key: paths below it start with a root's short name ("HKCU\\Key").
    HKEY base() const { return base_.get(); }

    std::vector<std::string> Dump() const {
        std::vector<std::string> lines;
        for (const std::string& target : targets_) {
            RegistryKey key;
            if (key.Open(base(), target.c_str(), KEY_READ) == ERROR_SUCCESS) DumpKey(key.get(), Lower(target), lines);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

    // Empties every root's target, keeping the targets themselves (the overrides hold them).
    void Clear() const {
        for (const std::string& target : targets_) {
            RegistryKey key;
            if (key.Open(base(), target.c_str(), KEY_ALL_ACCESS) != ERROR_SUCCESS) continue;
            DWORD subkeys = 0, values = 0;
            if (RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr) == ERROR_SUCCESS &&
                subkeys == 0 && values == 0)
                continue;
            for (int guard = 0; guard < 100000; ++guard) {
                char name[256];
                DWORD length = sizeof name;
                if (RegEnumKeyExA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
                    key.DeleteTree(name) != ERROR_SUCCESS)
                    break;
            }
            for (int guard = 0; guard < 100000; ++guard) {
                std::vector<char> name(16384);
                DWORD length = static_cast<DWORD>(name.size());
                if (RegEnumValueA(key.get(), 0, name.data(), &length, nullptr, nullptr, nullptr, nullptr) !=
                        ERROR_SUCCESS ||
                    RegDeleteValueA(key.get(), name.data()) != ERROR_SUCCESS)
                    break;
            }
        }
    }

private:
    ScratchKey scratch_;
    RegistryKey base_;
    std::vector<std::string> targets_;
    bool ok_ = false;
};

const wchar_t kModulePath[] = L"C:\\PROGRA~1\\CORVANE\\CORVANE.EXE";

class RegistrarScriptTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(registry_.ok()); }

    HRESULT Register(const std::string& script) { return RunRegistrationScriptText(script, true, map_); }
    HRESULT Unregister(const std::string& script) { return RunRegistrationScriptText(script, false, map_); }
    bool Exists(const std::string& path) { return KeyExists(registry_.base(), path); }
    bool HasValue(const std::string& path, const char* name) { return ValueExists(registry_.base(), path, name); }
    std::string Text(const std::string& path, const char* name) { return ReadString(registry_.base(), path, name); }
    DWORD Dword(const std::string& path, const char* name) { return ReadDword(registry_.base(), path, name); }
    std::string Binary(const std::string& path, const char* name) {
        RegistryKey key;
        if (key.Open(registry_.base(), path.c_str(), KEY_READ) != ERROR_SUCCESS) return "<no key>";
        BYTE data[64];
        DWORD size = sizeof data;
        DWORD type = 0;
        if (RegQueryValueExA(key.get(), name, nullptr, &type, data, &size) != ERROR_SUCCESS) return "<no value>";
        return (type == REG_BINARY ? "" : "<type " + std::to_string(type) + "> ") + Hex(data, size);
    }
    void Put(const std::string& path, const char* name = nullptr, const std::string& text = "x") {
        if (name)
            WriteString(registry_.base(), path, name, text);
        else
            (void)RegistryKey().Create(registry_.base(), path.c_str(), KEY_ALL_ACCESS);
    }
    std::vector<std::string> Contents() const { return registry_.Dump(); }

    RedirectedRegistry registry_{"RegistrarScript"};
    ReplacementMap map_{{L"Module", kModulePath}};
};

const std::vector<std::string> kNothing;

// --- Redirection itself: what the other tests rely on ---------------------------------------

TEST_F(RegistrarScriptTest, EveryRootNameLandsInItsRedirectedKey) {
    ASSERT_EQ(Register("HKCR { A } HKEY_CLASSES_ROOT { B } HKCU { C } HKLM { D } HKU { E } HKCC { F } HKDD { G }"),
              S_OK);
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcc\\f", "key hkcr\\a", "key hkcr\\b", "key hkcu\\c",
                                                    "key hkdd\\g", "key hklm\\d", "key hku\\e"}));
    // Performance data takes no keys: the script fails and writes nothing anywhere.
    EXPECT_EQ(Register("HKPD { P }"), DISP_E_EXCEPTION);
    EXPECT_EQ(Unregister("HKCR { A } HKCR { B } HKCU { C } HKLM { D } HKU { E } HKCC { F } HKDD { G }"), S_OK);
    EXPECT_EQ(Contents(), kNothing);
}

// --- Variables ---------------------------------------------------------------------------

TEST_F(RegistrarScriptTest, PercentSignsAndModuleVariable) {
    ASSERT_EQ(Register("HKCU { K = s '100%% of %module%' { val Path = s %MODULE% val Both = s %Module%%Module% } }"),
              S_OK);
    EXPECT_EQ(Text("HKCU\\K", ""), "100% of C:\\PROGRA~1\\CORVANE\\CORVANE.EXE");
    EXPECT_EQ(Text("HKCU\\K", "Path"), "C:\\PROGRA~1\\CORVANE\\CORVANE.EXE");
    EXPECT_EQ(Text("HKCU\\K", "Both"), "C:\\PROGRA~1\\CORVANE\\CORVANE.EXEC:\\PROGRA~1\\CORVANE\\CORVANE.EXE");

    // The first pair of that name wins; a 31-character name is still a name.
    const std::string name31(31, 'n');
    map_ = {{L"Extra", L"first"}, {L"EXTRA", L"second"}, {std::wstring(31, L'N'), L"long"}};
    ASSERT_EQ(Register("HKCU { V = s '%extra% %" + name31 + "%' }"), S_OK);
    EXPECT_EQ(Text("HKCU\\V", ""), "first long");
}

TEST_F(RegistrarScriptTest, BadVariablesFailBeforeAnythingIsWritten) {
    map_.push_back({std::wstring(32, L'n'), L"too long"});
    struct Case {
        const char* variable;
        HRESULT expected;
    } cases[] = {
        {"%Unknown%", DISP_E_EXCEPTION},
        {"'50% off'", DISP_E_EXCEPTION},  // a lone percent sign starts a name that never ends
        {"%Module", DISP_E_EXCEPTION},
        {nullptr, E_FAIL},  // a 32-character name, though the map has it
    };
    for (const Case& c : cases) {
        // The first root is valid, but expansion runs over the whole text first.
        std::string variable = c.variable ? c.variable : std::string("%").append(32, 'n').append("%");
        std::string script = "HKCU { Early } HKCU { Late = s " + variable + " }";
        EXPECT_EQ(Register(script), c.expected) << script;
        EXPECT_EQ(Unregister(script), c.expected) << script;
        EXPECT_EQ(Contents(), kNothing) << script;
    }
}

// --- Tokens ------------------------------------------------------------------------------

TEST_F(RegistrarScriptTest, QuotedAndUnquotedTokens) {
    ASSERT_EQ(Register("HKCU\r\n{\r\n\t'Key With Spaces' = s 'it''s ''quoted'''\r\n\t{\r\n"
                       "\t\tval 'Name ''q''' = s ''\r\n\t\tval Plain = s it's\r\n\t}\r\n}\r\n"),
              S_OK);
    EXPECT_EQ(Text("HKCU\\Key With Spaces", ""), "it's 'quoted'");
    EXPECT_TRUE(HasValue("HKCU\\Key With Spaces", "Name 'q'"));
    EXPECT_EQ(Text("HKCU\\Key With Spaces", "Name 'q'"), "");
    EXPECT_EQ(Text("HKCU\\Key With Spaces", "Plain"), "it's");
}

TEST_F(RegistrarScriptTest, TokenAndValueNameLimits) {
    ASSERT_EQ(Register("HKCU { K = s '" + std::string(4094, 'q') + "' { val " + std::string(259, 'v') + " = s " +
                       std::string(4095, 'u') + " } }"),
              S_OK);
    EXPECT_EQ(Text("HKCU\\K", ""), std::string(4094, 'q'));
    EXPECT_EQ(Text("HKCU\\K", std::string(259, 'v').c_str()), std::string(4095, 'u'));

    for (const std::string& tooLong : {"'" + std::string(4095, 'q') + "'", std::string(4096, 'u')}) {
        EXPECT_EQ(Register("HKCU { L = s " + tooLong + " }"), DISP_E_EXCEPTION);
        EXPECT_EQ(Register("HKCU { L = s x { val " + tooLong + " = s x } }"), DISP_E_EXCEPTION);
    }
    EXPECT_EQ(Register("HKCU { L { val " + std::string(260, 'v') + " = s x } }"), DISP_E_EXCEPTION);
    EXPECT_FALSE(Exists("HKCU\\L"));
}

TEST_F(RegistrarScriptTest, EmptyScriptSucceedsAndWritesNothing) {
    // The text ends at its first zero byte, as a resource's text does.
    const std::string hidden("\0HKCU { Hidden }", 16);
    for (const std::string& script : {std::string(), std::string(" \r\n\t "), hidden}) {
        EXPECT_EQ(Register(script), S_OK);
        EXPECT_EQ(Unregister(script), S_OK);
    }
    EXPECT_EQ(Contents(), kNothing);
}

// --- Value types -------------------------------------------------------------------------

TEST_F(RegistrarScriptTest, ValueTypes) {
    ASSERT_EQ(Register("HKCU { K = S text { val Max = d 4294967295 val Small = D 12 val Word = d twelve "
                       "val Over = d 4294967296 val Bin = b 0A1bFf val Junk = B zz1G val Empty = b '' "
                       "val After = s written } }"),
              S_OK);
    DWORD type = 0;
    EXPECT_EQ(ReadString(registry_.base(), "HKCU\\K", "", &type), "text");
    EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
    EXPECT_EQ(Dword("HKCU\\K", "Max"), 0xFFFFFFFFu);
    EXPECT_EQ(Dword("HKCU\\K", "Small"), 12u);
    // Text that is not a number writes nothing, and parsing continues.
    EXPECT_FALSE(HasValue("HKCU\\K", "Word"));
    EXPECT_FALSE(HasValue("HKCU\\K", "Over"));
    EXPECT_EQ(Binary("HKCU\\K", "Bin"), "0a1bff");
    EXPECT_EQ(Binary("HKCU\\K", "Junk"), "0010");  // characters that are no digits count as 0
    EXPECT_EQ(Binary("HKCU\\K", "Empty"), "");
    EXPECT_EQ(Text("HKCU\\K", "After"), "written");
}

TEST_F(RegistrarScriptTest, OddBinaryTextFailsAndRollsBackItsRoot) {
    EXPECT_EQ(Register("HKCU { First = b 00 } HKCU { Second = s 2 { val Bad = b 123 } }"), E_FAIL);
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcu\\first", "value hkcu\\first||3|00"}));
}

// --- Syntax errors and roll-back ---------------------------------------------------------

TEST_F(RegistrarScriptTest, SyntaxErrorsRollBackTheFailingRootBlock) {
    const char* faults[] = {
        "val V s x",              // no "=" after a value name
        "Open = s 'abc",          // quote never closed
        "K = q x",                // unknown type
        "K = s",                  // text ends where a value is expected
        "K {",                    // block never closed
        "A\\B",                   // compound key name
        "ForceRemove 'A\\B'",
        "Delete A\\B",
        "'' = s x",               // an empty name would stand for the parent itself
        "ForceRemove ''",
    };
    for (const char* fault : faults) {
        std::string script = std::string("HKCU { Kept } HKCU { Before = s 1 { Inner = d 7 } val Root = s r ") + fault +
                             " }";
        EXPECT_EQ(Register(script), DISP_E_EXCEPTION) << fault;
        // Earlier roots stay; what the failing root wrote is gone again.
        EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcu\\kept"})) << fault;
        registry_.Clear();
    }
    EXPECT_EQ(Register("HKCU { Kept } HKXX { Never }"), DISP_E_EXCEPTION);
    EXPECT_EQ(Register("HKCU { Kept } HKLM Never"), DISP_E_EXCEPTION);
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcu\\kept"}));
}

TEST_F(RegistrarScriptTest, UnregisterStopsAtASyntaxError) {
    Put("HKCU\\First");
    Put("HKCU\\Second");
    Put("HKCU\\Third");
    EXPECT_EQ(Unregister("HKCU { First } HKCU { Second Bad\\Name Third }"), DISP_E_EXCEPTION);
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcu\\third"}));
}

TEST_F(RegistrarScriptTest, NestingDeeperThanTheRegistryFailsCleanly) {
    auto nested = [](std::size_t depth, const std::string& entry) {
        std::string script = "HKCU { ";
        for (std::size_t i = 0; i < depth; ++i) script += entry + " { ";
        for (std::size_t i = 0; i < depth; ++i) script += "} ";
        return script + "}";
    };
    EXPECT_EQ(Register(nested(600, "K")), DISP_E_EXCEPTION);
    EXPECT_EQ(Contents(), kNothing);
    // Blocks that follow values have no key of their own below the root.
    EXPECT_EQ(Register(nested(2000, "val V = s x")), DISP_E_EXCEPTION);
    EXPECT_EQ(Contents(), kNothing);
    // Keys that do not exist are read without nested calls, however deep.
    EXPECT_EQ(Unregister(nested(200000, "K")), S_OK);
}

// --- Register mode: ForceRemove and Delete ------------------------------------------------

TEST_F(RegistrarScriptTest, ForceRemoveReplacesAnExistingKey) {
    Put("HKCU\\Obj\\Old\\Deep", "Value");
    Put("HKCU\\Obj", "Stale");
    ASSERT_EQ(Register("HKCU { ForceRemove Obj = s new { Fresh } }"), S_OK);
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcu\\obj", "key hkcu\\obj\\fresh",
                                                    "value hkcu\\obj||1|6e657700"}));
}

TEST_F(RegistrarScriptTest, ForceRemoveAndDeleteSpareClsidAndTypeLib) {
    Put("HKCR\\CLSID\\{Other}", "Kept");
    Put("HKCR\\TypeLib\\Lib");
    ASSERT_EQ(Register("HKCR { ForceRemove clsid { Mine } ForceRemove TYPELIB { Lib2 } Delete ClSiD Delete typelib }"),
              S_OK);
    EXPECT_TRUE(HasValue("HKCR\\CLSID\\{Other}", "Kept"));
    EXPECT_TRUE(Exists("HKCR\\CLSID\\Mine"));
    EXPECT_TRUE(Exists("HKCR\\TypeLib\\Lib"));
    EXPECT_TRUE(Exists("HKCR\\TypeLib\\Lib2"));
}

TEST_F(RegistrarScriptTest, DeleteRemovesAKeyAndTheWalkGoesOn) {
    Put("HKCU\\Gone\\Child", "Value");
    ASSERT_EQ(Register("HKCU { Delete Gone Delete Missing = s ignored After = s x }"), S_OK);
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcu\\after", "value hkcu\\after||1|7800"}));
}

// --- Unregister mode ---------------------------------------------------------------------

TEST_F(RegistrarScriptTest, NoRemoveSparesItsKeyAndTheRestOfItsBlock) {
    const std::string script =
        "HKCU { Before { Inner } NoRemove Keep { Inner = s x } Later { Child } } HKCU { Other }";
    ASSERT_EQ(Register(script), S_OK);
    ASSERT_EQ(Unregister(script), S_OK);
    // "Later" follows "NoRemove" in the same block and stays too; blocks below and other
    // roots delete again.
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcu\\keep", "key hkcu\\later"}));
}

TEST_F(RegistrarScriptTest, MissingKeyIsReadWithoutDeletingAndTheWalkGoesOn) {
    Put("HKCU\\Inner", "Value");  // named inside the missing key's block, but at another level
    Put("HKCU\\Present\\Child");
    Put("HKCU\\After");
    Put("HKCU\\{GUID}");
    EXPECT_EQ(Unregister("HKCU { Missing = s 'x' { Inner { Deeper = s y } val Value = s z } Present = s p { Child } "
                         "Absent {GUID} After }"),
              S_OK);
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcu\\inner", "value hkcu\\inner|value|1|7800"}));
}

TEST_F(RegistrarScriptTest, KeysWithoutSubkeysGoWhateverValuesTheyHold) {
    Put("HKCU\\Extra", "Named");
    Put("HKCU\\Extra", "Foreign");
    Put("HKCU\\Plain", "");  // only the unnamed value
    Put("HKCU\\Empty");
    Put("HKCU\\Next");
    ASSERT_EQ(Unregister("HKCU { Extra { val Named = s x } Plain = s p Empty { Ghost = s g { val V = s v } } Next }"),
              S_OK);
    EXPECT_EQ(Contents(), kNothing);
}

TEST_F(RegistrarScriptTest, KeyWithSubkeysTheScriptDoesNotNameStays) {
    Put("HKCU\\Parent\\Named");
    Put("HKCU\\Parent\\Foreign");
    Put("HKCU\\Parent", "V");
    Put("HKCU\\Parent", "W");
    Put("HKCU\\Sibling");
    ASSERT_EQ(Unregister("HKCU { Parent = s p { Named val V = s v } Sibling }"), S_OK);
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcu\\parent", "key hkcu\\parent\\foreign",
                                                    "value hkcu\\parent|w|1|7800"}));
}

TEST_F(RegistrarScriptTest, ForceRemoveAndDeleteUnregisterAsOrdinaryKeys) {
    Put("HKCU\\Forced\\Sub");
    Put("HKCU\\Deleted");
    ASSERT_EQ(Unregister("HKCU { ForceRemove Forced { Sub } Delete Deleted }"), S_OK);
    EXPECT_EQ(Contents(), kNothing);
}

// --- The program's own scripts -----------------------------------------------------------

TEST_F(RegistrarScriptTest, AppIdScriptLeavesTheAppIdKeyWhenRemoved) {
    const std::string guidKey = std::string("HKCR\\AppID\\") + kAppIdText;
    ASSERT_EQ(RunRegistrationScript(nullptr, IDR_APPID_SCRIPT, true), S_OK);
    EXPECT_EQ(Text(guidKey, ""), "Kestrun");
    EXPECT_EQ(Text("HKCR\\AppID\\Kestrun.EXE", "AppID"), kAppIdText);
    EXPECT_EQ(Contents().size(), 5u);  // AppID, its two keys and their two values

    // Installation adds the service's values to the GUID key; removal takes them along.
    Put(guidKey, kLocalServiceValue, "CorvaneTest");
    Put(guidKey, kServiceParametersValue, "");
    ASSERT_EQ(RunRegistrationScript(nullptr, IDR_APPID_SCRIPT, false), S_OK);
    EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcr\\appid"}));
}

TEST_F(RegistrarScriptTest, ClassScriptsRegisterProgIdsAndClassKeys) {
    char longPath[MAX_PATH * 4];
    char shortPath[MAX_PATH * 4];
    ASSERT_GT(GetModuleFileNameA(nullptr, longPath, sizeof longPath), 0u);
    ASSERT_GT(GetShortPathNameA(longPath, shortPath, sizeof shortPath), 0u);

    struct Class {
        UINT script;
        std::string name;
        GUID clsid;
    } classes[] = {{IDR_LAUNCH_SCRIPT, "Launch", kClsidLaunch}, {IDR_MODULE_SCRIPT, "Module", kClsidModule}};
    for (const Class& c : classes) {
        const std::string clsid = GuidText(c.clsid);
        const std::string classKey = "HKCR\\CLSID\\" + clsid;
        const std::string progId = "Launcher." + c.name;
        Put("HKCR\\CLSID\\{Other}");
        Put(classKey + "\\Stale");

        ASSERT_EQ(RunRegistrationScript(nullptr, c.script, true), S_OK) << c.name;
        for (const std::string& id : {progId + ".1", progId}) {
            EXPECT_EQ(Text("HKCR\\" + id, ""), c.name + " Class");
            EXPECT_EQ(Text("HKCR\\" + id + "\\CLSID", ""), clsid);
        }
        EXPECT_EQ(Text(classKey, ""), c.name + " Class");
        EXPECT_FALSE(Exists(classKey + "\\Stale"));  // "ForceRemove" started the class key afresh
        EXPECT_EQ(Text(classKey + "\\ProgID", ""), progId + ".1");
        EXPECT_EQ(Text(classKey + "\\VersionIndependentProgID", ""), progId);
        EXPECT_EQ(Text(classKey, "AppID"), kAppIdText);
        EXPECT_EQ(Text(classKey + "\\LocalServer32", ""), std::string("\"") + shortPath + "\"");

        ASSERT_EQ(RunRegistrationScript(nullptr, c.script, false), S_OK) << c.name;
        EXPECT_EQ(Contents(), (std::vector<std::string>{"key hkcr\\clsid", "key hkcr\\clsid\\{other}"})) << c.name;
        // Removing what is not there succeeds and touches nothing.
        EXPECT_EQ(RunRegistrationScript(nullptr, c.script, false), S_OK) << c.name;
        EXPECT_EQ(Contents().size(), 2u);
        registry_.Clear();
    }
}

// On 64-bit Windows the class keys below HKCR are kept apart for 32-bit and 64-bit programs.
// A script run in one registry view writes, replaces ("ForceRemove") and removes its keys
// there alone: a key of the same name in the other view is never touched. (The real HKCR,
// not the redirected one: a redirected root has no views.)
TEST(RegistrarScriptViewTest, AScriptWorksInTheRegistryViewItIsGiven) {
    const std::string probeId = "{5B0E8A44-2D31-4F7A-9C61-0B7C2E8D4F13}";
    const std::string classKey = "CLSID\\" + probeId;
    const std::string script = "HKCR\n{\n NoRemove CLSID\n {\n  ForceRemove " + probeId +
                               " = s 'Probe'\n  {\n   InprocServer32 = s 'probe.dll'\n  }\n }\n}\n";
    struct Case {
        const char* name;
        REGSAM view;      // where the script runs
        REGSAM opposite;  // where a key of the same name must stay as it was
    } cases[] = {{"own view", 0, kOtherRegistryView}, {"other view", kOtherRegistryView, 0}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        WriteString(HKEY_CLASSES_ROOT, classKey, nullptr, "Bystander", c.opposite);
        WriteString(HKEY_CLASSES_ROOT, classKey + "\\Stale", nullptr, "", c.view);

        ASSERT_EQ(RunRegistrationScriptText(script, true, {}, c.view), S_OK);
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey, nullptr, nullptr, c.view), "Probe");
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", nullptr, nullptr, c.view), "probe.dll");
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\Stale", c.view));  // started afresh
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey, nullptr, nullptr, c.opposite), "Bystander");
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey + "\\InprocServer32", c.opposite));

        ASSERT_EQ(RunRegistrationScriptText(script, false, {}, c.view), S_OK);
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, classKey, c.view));
        EXPECT_EQ(ReadString(HKEY_CLASSES_ROOT, classKey, nullptr, nullptr, c.opposite), "Bystander");
        DeleteKeyTree(HKEY_CLASSES_ROOT, classKey, c.opposite);
        DeleteKeyTree(HKEY_CLASSES_ROOT, classKey, c.view);
    }
}

// The "Module" variable doubles a quote of the program's path, so that the quoted script text
// reads it back whole. A copy of the program in a folder named a'b stands in for the host.
TEST_F(RegistrarScriptTest, QuoteInTheProgramPathIsKept) {
    const std::string folder = BuildPath("a'b");
    const std::string copy = folder + "\\corvane.exe";
    CreateDirectoryA(folder.c_str(), nullptr);
    ASSERT_TRUE(CopyFileA(BuildPath("corvane.exe").c_str(), copy.c_str(), FALSE));
    HMODULE program = LoadLibraryA(copy.c_str());
    ASSERT_NE(program, nullptr) << GetLastError();
    char shortPath[MAX_PATH * 4];
    ASSERT_GT(GetShortPathNameA(copy.c_str(), shortPath, sizeof shortPath), 0u);
    ASSERT_NE(std::string(shortPath).find("a'b"), std::string::npos) << shortPath;

    HRESULT result = RunRegistrationScript(program, IDR_LAUNCH_SCRIPT, true);
    FreeLibrary(program);
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());

    ASSERT_EQ(result, S_OK);
    EXPECT_EQ(Text("HKCR\\CLSID\\" + GuidText(kClsidLaunch) + "\\LocalServer32", ""),
              std::string("\"") + shortPath + "\"");
}

TEST_F(RegistrarScriptTest, MissingScriptResourceIsAnErrorAndWritesNothing) {
    EXPECT_EQ(RunRegistrationScript(nullptr, 999, true), HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(Contents(), kNothing);
}

// --- Randomised scripts ------------------------------------------------------------------

// Builds valid scripts and, beside each, the registry that registering it must produce (with
// every root redirected to the one key "All").
class ScriptGenerator {
public:
    ScriptGenerator(std::mt19937& random, bool modifiers) : random_(random), modifiers_(modifiers) {}

    std::string script;
    std::map<std::string, std::map<std::string, std::string>> expected;  // key path -> value -> "type|hex"

    void Generate() {
        const char* roots[] = {"HKCR", "HKEY_CLASSES_ROOT", "HKCU", "hkey_current_user",
                               "HKLM", "HKU", "HKCC", "HKEY_DYN_DATA"};
        for (int count = Pick(1, 3); count > 0; --count) {
            script += roots[Pick(0, 7)];
            Space();
            script += "{";
            Space();
            Block("all", 1);
            script += "}";
            Space();
        }
    }

    std::vector<std::string> ExpectedDump() const {
        std::vector<std::string> lines;
        for (const auto& [path, values] : expected) {
            if (path.find('\\') != std::string::npos) lines.push_back("key " + path);
            for (const auto& [name, data] : values) lines.push_back("value " + path + "|" + name + "|" + data);
        }
        std::sort(lines.begin(), lines.end());
        return lines;
    }

private:
    int Pick(int low, int high) { return std::uniform_int_distribution<int>(low, high)(random_); }

    void Space() {
        const char* spaces[] = {" ", "\t", "\r\n", "\n", "  \r\n\t\t"};
        script += spaces[Pick(0, 4)];
    }

    // Script text and registry name of a key or value name.
    std::pair<std::string, std::string> Name() {
        static const std::pair<const char*, const char*> names[] = {
            {"Alpha", "alpha"}, {"ALPHA", "alpha"}, {"beta", "beta"}, {"'Gamma Delta'", "gamma delta"},
            {"'it''s'", "it's"}, {"it's", "it's"}, {"'50%%'", "50%"}, {"Launcher.Launch.1", "launcher.launch.1"},
            {"{0A1B2C3D-0000-4000-8000-00000000000A}", "{0a1b2c3d-0000-4000-8000-00000000000a}"},
            {"s", "s"}, {"CLSID", "clsid"}, {"'x y z'", "x y z"}, {"Omega", "omega"}, {"'%%Module%%'", "%module%"},
        };
        const auto& name = names[Pick(0, 13)];
        return {name.first, name.second};
    }

    // Script text of an assignment and the value it writes ("" when it writes nothing).
    std::pair<std::string, std::string> Value() {
        switch (Pick(0, 5)) {
        case 0: {
            std::string text, quoted = "'";
            for (int n = Pick(0, 12); n > 0; --n) {
                char c = static_cast<char>(Pick(32, 126));
                text += c;
                quoted += c == '\'' ? "''" : c == '%' ? "%%" : std::string(1, c);
            }
            return {"s " + quoted + "'", "1|" + Hex(reinterpret_cast<const BYTE*>(text.c_str()), text.size() + 1)};
        }
        case 1: {
            const char module[] = "C:\\PROGRA~1\\CORVANE\\CORVANE.EXE";
            return {"S %Module%", "1|" + Hex(reinterpret_cast<const BYTE*>(module), sizeof module)};
        }
        case 2: {
            DWORD number = static_cast<DWORD>(random_());
            return {"d " + std::to_string(number), "4|" + Hex(reinterpret_cast<const BYTE*>(&number), 4)};
        }
        case 3: {
            const char* words[] = {"twelve", "4294967296", "''", "1x"};
            return {"D " + std::string(words[Pick(0, 3)]), ""};
        }
        default: {
            std::string digits, bytes;
            for (int n = Pick(0, 6); n > 0; --n) {
                BYTE b = static_cast<BYTE>(Pick(0, 255));
                char pair[3];
                std::snprintf(pair, sizeof pair, Pick(0, 1) ? "%02X" : "%02x", b);
                digits += pair;
                bytes += Hex(&b, 1);
            }
            return {"b " + (digits.empty() ? std::string("''") : digits), "3|" + bytes};
        }
        }
    }

    void Assign(const std::string& path, const std::string& valueName) {
        auto [text, data] = Value();
        script += "=";
        Space();
        script += text;
        Space();
        if (!data.empty()) expected[path][valueName] = data;
    }

    void Block(const std::string& path, int depth) {
        expected[path];
        for (int entries = Pick(0, depth < 3 ? 3 : 1); entries > 0; --entries) {
            if (Pick(0, 3) == 0) {
                auto [text, name] = Name();
                script += Pick(0, 1) ? "val" : "Val";
                Space();
                script += text;
                Space();
                Assign(path, name);
                continue;
            }
            int modifier = modifiers_ ? Pick(0, 5) : 0;  // 1 to 3 name one
            if (modifier >= 1 && modifier <= 3) {
                const char* modifiers[] = {"NoRemove", "ForceRemove", "Delete"};
                script += modifiers[modifier - 1];
                Space();
            }
            auto [text, name] = Name();
            std::string keyPath = path + "\\" + name;
            expected[keyPath];
            script += text;
            Space();
            if (Pick(0, 1)) Assign(keyPath, "");
            if (depth < 3 && modifier != 3 && Pick(0, 2) > 0) {  // "Delete" has no block
                script += "{";
                Space();
                Block(keyPath, depth + 1);
                script += "}";
                Space();
            }
        }
    }

    std::mt19937& random_;
    bool modifiers_;
};

// Damages a script the ways hand-written scripts go wrong, and some ways they don't.
std::string Mutate(std::string script, std::mt19937& random) {
    auto pick = [&](std::size_t low, std::size_t high) {
        return std::uniform_int_distribution<std::size_t>(low, high)(random);
    };
    static const std::vector<std::string> pieces = {
        "{", "}", "=", "'", "''", "%", "%%", "%Module%", "%Nope%", "\\", "val", "Val x", "Delete", "ForceRemove",
        "NoRemove", "CLSID", "TypeLib", "s", "d", "b", "q", "123", "abc", "HKCR", "HKPD", "HKEY_CURRENT_USER",
        "= s", "= b 123", "= d -1", "{ {", "} }", "''''", "\t", "\r\n", " ", std::string(1, '\0'),
        "\x81\x40", "\xE9\xFF", std::string(5000, 'A'), "'" + std::string(5000, 'B') + "'",
        "'" + std::string(300, 'C') + "'", "%" + std::string(40, 'D') + "%",
    };
    for (std::size_t count = pick(1, 4); count > 0; --count) {
        std::size_t at = pick(0, script.size());
        std::size_t span = std::min(pick(1, 12), script.size() - at);
        switch (pick(0, 5)) {
        case 0: script.erase(at, span); break;
        case 1: script.insert(at, " " + pieces[pick(0, pieces.size() - 1)] + " "); break;
        case 2: script.insert(at, pieces[pick(0, pieces.size() - 1)]); break;
        case 3: script.insert(at, script.substr(at, span)); break;
        case 4:
            if (at < script.size()) script[at] = static_cast<char>(pick(0, 255));
            break;
        default: script.resize(at); break;
        }
    }
    return script;
}

// Digest of the real registry, for proof that nothing outside the redirected roots changed:
// all of HKCU but the tests' own scratch keys, and the first level of every other root, where
// any name of a script would appear if a root were not redirected.
std::uint64_t RealRegistryDigest() {
    std::uint64_t hash = 14695981039346656037ull;
    auto add = [&hash](const std::string& line) {
        if (line.find("\\software\\corvanetests") != std::string::npos) return;
        for (char c : line) hash = (hash ^ static_cast<BYTE>(c)) * 1099511628211ull;
    };
    for (const RootTarget& target : kRoots) {
        if (target.root == HKEY_PERFORMANCE_DATA) continue;
        RegistryKey key;
        if (key.Open(target.root, "", KEY_READ) != ERROR_SUCCESS) continue;
        add(target.name);
        if (target.root == HKEY_CURRENT_USER) {
            std::vector<std::string> lines;
            DumpKey(key.get(), "", lines);
            for (const std::string& line : lines) add(line);
            continue;
        }
        for (DWORD i = 0;; ++i) {
            char name[256];
            DWORD length = sizeof name;
            if (RegEnumKeyExA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            add(std::string(name, length));
        }
        for (DWORD i = 0;; ++i) {
            char name[16384];
            DWORD length = sizeof name;
            if (RegEnumValueA(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
            add(std::string(name, length));
        }
    }
    return hash;
}

bool IsEngineResult(HRESULT result) { return result == S_OK || result == DISP_E_EXCEPTION || result == E_FAIL; }

TEST(RegistrarScriptRandomTest, GeneratedAndDamagedScriptsStayInsideTheirRootsAndUndoCleanly) {
    const DWORD digestStart = GetTickCount();
    const std::uint64_t before = RealRegistryDigest();
    const DWORD digestTime = GetTickCount() - digestStart;
    const ReplacementMap map = {{L"Module", kModulePath}};
    int plain = 0, withModifiers = 0, damaged = 0, damagedRejected = 0;
    const DWORD start = GetTickCount();
    {
        RedirectedRegistry registry("RegistrarRandom", true);
        ASSERT_TRUE(registry.ok());
        for (unsigned seed = 1; seed <= 1000; ++seed) {
            std::mt19937 random(seed);
            const bool modifiers = seed % 4 == 0;
            ScriptGenerator generator(random, modifiers);
            generator.Generate();
            const std::string& script = generator.script;

            if (!modifiers) {
                // Register writes exactly what the script describes; unregister removes all of it.
                ASSERT_EQ(RunRegistrationScriptText(script, true, map), S_OK) << "seed " << seed << "\n" << script;
                ASSERT_EQ(registry.Dump(), generator.ExpectedDump()) << "seed " << seed << "\n" << script;
                ASSERT_EQ(RunRegistrationScriptText(script, false, map), S_OK) << "seed " << seed << "\n" << script;
                ASSERT_EQ(registry.Dump(), kNothing) << "seed " << seed << "\n" << script;
                ++plain;
            } else {
                ASSERT_EQ(RunRegistrationScriptText(script, true, map), S_OK) << "seed " << seed << "\n" << script;
                ASSERT_EQ(RunRegistrationScriptText(script, false, map), S_OK) << "seed " << seed << "\n" << script;
                ++withModifiers;
            }
            if (modifiers) registry.Clear();

            // The same script damaged: run against an empty registry, and against the
            // registration of the undamaged script.
            const std::string broken = Mutate(script, random);
            const bool registeredFirst = seed % 2 == 0;
            if (registeredFirst) {
                ASSERT_EQ(RunRegistrationScriptText(script, true, map), S_OK);
            }
            HRESULT registered = RunRegistrationScriptText(broken, true, map);
            HRESULT unregistered = RunRegistrationScriptText(broken, false, map);
            ASSERT_TRUE(IsEngineResult(registered)) << std::hex << registered << "\n" << broken;
            ASSERT_TRUE(IsEngineResult(unregistered)) << std::hex << unregistered << "\n" << broken;
            if (registered != S_OK) ++damagedRejected;
            ++damaged;
            registry.Clear();
            ASSERT_EQ(registry.Dump(), kNothing) << "clean-up failed after\n" << broken;
        }
    }
    std::printf("%d generated scripts checked against their model, %d with modifiers, %d damaged (%d rejected) "
                "in %lu ms; registry digest %lu ms\n",
                plain, withModifiers, damaged, damagedRejected, GetTickCount() - start, digestTime);
    EXPECT_EQ(RealRegistryDigest(), before);
}

}  // namespace
