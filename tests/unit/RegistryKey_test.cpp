// The registry key owner, its tree deletion and the value readers.
#include "base/RegistryKey.h"
#include "config/ServiceSettings.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

namespace {

class RegistryKeyTest : public testing::Test {
protected:
    void SetUp() override { TearDown(); }
    void TearDown() override {
        DeleteKeyTree(HKEY_LOCAL_MACHINE, TestKeys().modules);
        PrepareServiceKeys(TestKeys());
    }
};

TEST_F(RegistryKeyTest, DeleteTreeRemovesTwoLevelsOfSubkeys) {
    ScratchKey scratch("DeleteTree");
    WriteString(HKEY_CURRENT_USER, scratch.path() + "\\Top\\A\\A1", "v", "1");
    WriteString(HKEY_CURRENT_USER, scratch.path() + "\\Top\\A\\A2", "v", "2");
    WriteString(HKEY_CURRENT_USER, scratch.path() + "\\Top\\B", "v", "3");
    WriteString(HKEY_CURRENT_USER, scratch.path() + "\\Other", "v", "4");
    RegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, scratch.path().c_str(), KEY_ALL_ACCESS), ERROR_SUCCESS);
    EXPECT_EQ(key.DeleteTree("Top"), ERROR_SUCCESS);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, scratch.path() + "\\Top"));
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, scratch.path() + "\\Other"));
    EXPECT_EQ(SubkeyNames(key.get()), std::vector<std::string>{"Other"});
    EXPECT_EQ(key.DeleteTree("Missing"), ERROR_FILE_NOT_FOUND);
}

TEST_F(RegistryKeyTest, OpenKeepsTheHeldKeyOnFailure) {
    ScratchKey scratch("OpenFailure");
    RegistryKey key;
    ASSERT_EQ(key.Open(HKEY_CURRENT_USER, scratch.path().c_str(), KEY_READ), ERROR_SUCCESS);
    HKEY held = key.get();
    EXPECT_EQ(key.Open(HKEY_CURRENT_USER, (scratch.path() + "\\Missing").c_str(), KEY_READ), ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(key.get(), held);
    EXPECT_EQ(key.Close(), ERROR_SUCCESS);
    EXPECT_FALSE(key);
    EXPECT_EQ(key.Close(), ERROR_SUCCESS);
}

TEST_F(RegistryKeyTest, TextAndNumberReadersByPath) {
    const std::string modules = TestKeys().modules;
    WriteString(HKEY_LOCAL_MACHINE, modules + "\\Alpha", "ExePath", "C:\\a.exe");
    WriteString(HKEY_LOCAL_MACHINE, modules + "\\Beta", "ExePath", std::string(259, 'x'));
    WriteString(HKEY_LOCAL_MACHINE, modules + "\\Beta", "TooLong", std::string(260, 'y'));
    WriteDword(HKEY_LOCAL_MACHINE, modules + "\\Beta", "Instances", 3);

    EXPECT_EQ(ReadTextValue(modules + "\\Alpha", "ExePath"), "C:\\a.exe");
    EXPECT_EQ(ReadTextValue(modules + "\\Beta", "ExePath"), std::string(259, 'x'));
    EXPECT_EQ(ReadTextValue(modules + "\\Beta", "TooLong"), "");
    EXPECT_EQ(ReadTextValue(modules + "\\Missing", "ExePath"), "");
    DWORD instances = 77, missing = 77;
    ReadDwordValue(modules + "\\Beta", "Instances", &instances);
    ReadDwordValue(modules + "\\Beta", "Attrib", &missing);
    EXPECT_EQ(instances, 3u);
    EXPECT_EQ(missing, 77u);
}

TEST_F(RegistryKeyTest, ReadersTakeNumbersOnlyFromDwordsAndTextsOnlyFromTexts) {
    const std::string key = TestKeys().modules + "\\Typed";
    char expanded[MAX_PATH] = "";
    ExpandEnvironmentStringsA("%SystemRoot%\\app.exe", expanded, sizeof expanded);
    ASSERT_NE(std::string(expanded).find(':'), std::string::npos) << expanded;
    const DWORD untouched = 77;
    const struct {
        const char* name;
        DWORD type;
        std::string bytes;
        std::string text;  // what the text reader gives
        DWORD number;      // what the number reader leaves in a variable holding 77
    } cases[] = {
        {"Text", REG_SZ, std::string("C:\\a b.exe\0", 11), "C:\\a b.exe", untouched},
        {"Unterminated", REG_SZ, "C:\\x.exe", "C:\\x.exe", untouched},
        {"UnterminatedFull", REG_SZ, std::string(259, 'u'), std::string(259, 'u'), untouched},
        {"Expandable", REG_EXPAND_SZ, std::string("%SystemRoot%\\app.exe\0", 21), expanded, untouched},
        {"TextNumber", REG_SZ, std::string("3\0", 2), "3", untouched},
        {"TextZero", REG_SZ, std::string("0\0", 2), "0", untouched},
        {"MultiText", REG_MULTI_SZ, std::string("a\0b\0\0", 5), "", untouched},
        {"Binary", REG_BINARY, std::string("\3\0\0\0", 4), "", untouched},
        {"Number", REG_DWORD, std::string("\3\0\0\0", 4), "", 3},
        {"ShortNumber", REG_DWORD, std::string("\3\0", 2), "", untouched},
        {"LongNumber", REG_QWORD, std::string("\3\0\0\0\0\0\0\0", 8), "", untouched},
        {"BigEndian", REG_DWORD_BIG_ENDIAN, std::string("\0\0\0\3", 4), "", untouched},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        WriteRawValue(HKEY_LOCAL_MACHINE, key, c.name, c.type, c.bytes);
        EXPECT_EQ(ReadTextValue(key, c.name), c.text);
        DWORD number = untouched;
        ReadDwordValue(key, c.name, &number);
        EXPECT_EQ(number, c.number);
    }
}

}  // namespace
