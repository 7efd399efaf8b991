// Conversions between ANSI and wide text, and GUIDs as the registry names them.
#include "base/Conversions.h"
#include "base/Owners.h"

#include <gtest/gtest.h>

namespace {

TEST(ConversionsTest, TextsConvertWholeAndCompareExactly) {
    Bstr converted(ToBstr("C:\\Tool \xE9t\xE9.exe"));
    EXPECT_EQ(converted.length(), 15u);
    EXPECT_EQ(converted.get()[8], L'\u00E9');
    EXPECT_EQ(ToAnsi(converted.get()), "C:\\Tool \xE9t\xE9.exe");
    const std::string longText(5000, 'L');
    EXPECT_EQ(ToAnsi(Bstr(ToBstr(longText)).get()), longText);
    EXPECT_EQ(ToBstr(static_cast<const char*>(nullptr)), nullptr);
    EXPECT_EQ(ToAnsi(nullptr), "");

    EXPECT_TRUE(EqualsAnsi(L"Editor", "Editor"));
    EXPECT_FALSE(EqualsAnsi(L"Editor", "editor"));
    EXPECT_TRUE(EqualsAnsi(nullptr, nullptr));
    EXPECT_FALSE(EqualsAnsi(nullptr, ""));
    EXPECT_FALSE(EqualsAnsi(L"", nullptr));

    const GUID guid = {0x01234567, 0x89ab, 0xcdef, {0x01, 0x23, 0x45, 0x67, 0x89, 0xab, 0xcd, 0xef}};
    EXPECT_EQ(GuidText(guid), "{01234567-89AB-CDEF-0123-456789ABCDEF}");
}

}  // namespace
