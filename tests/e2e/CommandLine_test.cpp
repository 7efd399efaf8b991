// The command line of corvane.exe: which words match an option, the help box, the plain run's
// exit code without registration.
#include "host/EntryPoint.h"
#include "support/ProductKeys.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"
#include "Guids.h"

#include <gtest/gtest.h>

namespace {


class CommandLine : public testing::Test {
protected:
    void SetUp() override {
        DeleteKeyTree(HKEY_CLASSES_ROOT, kAppIdKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey);
    }
    void TearDown() override {
        DeleteKeyTree(HKEY_CLASSES_ROOT, kAppIdKey);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey);
    }
    static std::string Exe() { return "\"" + BuildPath("corvane.exe") + "\""; }
};

// EnumChildWindows callback: keeps the longest text of a static control in the string at param.
// A named CALLBACK function, since a lambda has the wrong calling convention on x86.
BOOL CALLBACK KeepLongestStaticText(HWND child, LPARAM param) {
    char className[32] = "", childText[2048] = "";
    GetClassNameA(child, className, sizeof className);
    GetWindowTextA(child, childText, sizeof childText);
    auto* best = reinterpret_cast<std::string*>(param);
    if (lstrcmpiA(className, "Static") == 0 && strlen(childText) > best->size()) *best = childText;
    return TRUE;
}

// Waits for the product's message box, returns its text and presses its OK button.
std::string AnswerMessageBox(const char* caption) {
    HWND box = nullptr;
    Eventually([&] { return (box = FindWindowA("#32770", caption)) != nullptr; });
    if (!box) return "<no box>";
    char text[2048] = "";
    if (GetDlgItemTextA(box, 0xFFFF, text, sizeof text) == 0) {
        // Fall back to the longest static text of the box.
        std::string best;
        EnumChildWindows(box, KeepLongestStaticText, reinterpret_cast<LPARAM>(&best));
        lstrcpynA(text, best.c_str(), sizeof text);
    }
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    return text;
}

TEST_F(CommandLine, WithoutTheAppIdAPlainRunEndsWithFileNotFound) {
    EXPECT_EQ(RunAndWait(Exe()), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // A remainder that is not exactly an option falls through to a plain run.
    EXPECT_EQ(RunAndWait(Exe() + " -Install "), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RunAndWait(Exe() + " -Install x"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RunAndWait(Exe() + " -Help"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RunAndWait(Exe() + " -Configure -Embedding"), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    // Nothing was prepared by those options.
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kServiceKey + "\\Parameters"));
}

TEST_F(CommandLine, WithTheAppIdButNoServiceManagerTheProcessEndsQuietly) {
    WriteString(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService", "Kestrun");
    // Started by hand, the dispatcher cannot connect; without Embedding nothing is served.
    EXPECT_EQ(RunAndWait(Exe()), 0u);
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kServiceKey + "\\Parameters", "EnableLaunch"), 1u);
}

TEST_F(CommandLine, EmbeddingBeforeConfigureRunsTheConfiguration) {
    // "Embedding -Configure" is not exactly "Embedding"; the scan moves on to "Configure",
    // which shows the Properties dialog over prepared keys.
    EXPECT_EQ(RunAndAnswer(Exe() + " -Embedding -Configure", "Corvane - Properties", IDCANCEL), 0u);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kServiceKey + "\\Parameters\\Modules"));
}

TEST_F(CommandLine, QuestionMarkShowsTheHelpBox) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    std::string line = Exe() + " /?";
    ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info));
    std::string text = AnswerMessageBox("Corvane");
    DWORD code = ~0u;
    if (WaitForSingleObject(info.hProcess, 20000) != WAIT_OBJECT_0) TerminateProcess(info.hProcess, 1);
    GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hProcess);
    CloseHandle(info.hThread);
    EXPECT_EQ(text, HelpText("Corvane"));
    EXPECT_EQ(code, 0u);
}

TEST_F(CommandLine, AHyphenInTheExecutablesPathIsHarmless) {
    std::string folder = BuildPath("folder-with-hyphen");
    CreateDirectoryA(folder.c_str(), nullptr);
    std::string copy = folder + "\\corvane.exe";
    ASSERT_TRUE(CopyFileA(BuildPath("corvane.exe").c_str(), copy.c_str(), FALSE));
    EXPECT_EQ(RunAndWait("\"" + copy + "\""), static_cast<DWORD>(ERROR_FILE_NOT_FOUND));
    EXPECT_EQ(RunAndAnswer("\"" + copy + "\" -Embedding -Configure", "Corvane - Properties", IDCANCEL), 0u);
    DeleteFileA(copy.c_str());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
