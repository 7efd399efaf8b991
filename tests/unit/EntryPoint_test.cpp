// The option scanner and the help text.
#include "host/EntryPoint.h"

#include <gtest/gtest.h>

namespace {

TEST(FindNextOption, StopsJustAfterEachSeparatorInTurn) {
    const char* line = "C:\\my-tools\\corvane.exe /Install -x";
    const char* first = FindNextOption(line, "-/");
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first, "tools\\corvane.exe /Install -x");
    const char* second = FindNextOption(first, "-/");
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second, "Install -x");
    const char* third = FindNextOption(second, "-/");
    ASSERT_NE(third, nullptr);
    EXPECT_STREQ(third, "x");
    EXPECT_EQ(FindNextOption(third, "-/"), nullptr);
    EXPECT_EQ(FindNextOption("", "-/"), nullptr);
    EXPECT_EQ(FindNextOption("no options here", "-/"), nullptr);
}

TEST(FindNextOption, ASeparatorAtTheEndLeavesAnEmptyRemainder) {
    const char* position = FindNextOption("corvane.exe -", "-/");
    ASSERT_NE(position, nullptr);
    EXPECT_STREQ(position, "");
    EXPECT_EQ(FindNextOption(position, "-/"), nullptr);
}

TEST(HelpText, ListsTheThreeMainOptions) {
    EXPECT_EQ(HelpText("Corvane"),
              "Following command line arguments are available for Corvane:\n"
              "\n-Install        [Installs the service and registers its COM components]"
              "\n-Remove    [Uninstalls the service and unregisters its COM components]"
              "\n-Configure  [Allows you to change properties of the service]");
    EXPECT_GT(HelpText("Corvane").size(), 256u);
}

}  // namespace
