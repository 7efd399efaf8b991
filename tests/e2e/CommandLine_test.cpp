// The command line of corvane.exe (which words match an option, the help box, the plain run's
// exit code without registration) and of its console companion corvane.com.
#include "host/EntryPoint.h"
#include "support/ProductKeys.h"
#include "support/ServiceFixture.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"
#include "Guids.h"

#include <gtest/gtest.h>
#include <cstring>
#include <fstream>
#include <functional>

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

class Companion : public ProductServiceTest {
protected:
    void SetUp() override { CreateProductService(); }
    void TearDown() override { RemoveProductService(); }
    static std::string Agent() { return kModules + "\\Agent"; }
    static FILETIME LastWrite(const std::string& path) {
        RegistryKey key;
        FILETIME time{};
        if (key.Open(HKEY_LOCAL_MACHINE, path.c_str(), KEY_READ) == ERROR_SUCCESS)
            RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                             nullptr, &time);
        return time;
    }
    static std::string WriteFile(const std::string& name, const std::string& text) {
        const std::string path = BuildPath(name);
        std::ofstream(path, std::ios::binary) << text;
        return path;
    }
};

TEST_F(Companion, EachVerbHasItsEffectAndExitCode) {
    const std::string sleeper = BuildPath("sleeper.exe");
    const struct {
        std::string arguments;
        DWORD code;
        std::function<bool()> effect;
    } steps[] = {
        {"add Agent --path \"" + sleeper + "\" --args \"-x 1\" --instances 2", 0,
         [&] { return ReadDword(HKEY_LOCAL_MACHINE, Agent(), "Instances") == 2 && ReadString(HKEY_LOCAL_MACHINE, Agent(), "ExePath") == sleeper; }},
        {"add agent --path \"" + sleeper + "\"", 1, [] { return true; }},
        {"add Other --path C:\\missing.exe --strict", 1, [] { return !KeyExists(HKEY_LOCAL_MACHINE, kModules + "\\Other"); }},
        {"add Other", 2, [] { return !KeyExists(HKEY_LOCAL_MACHINE, kModules + "\\Other"); }},
        {"set Agent Instances 3", 0, [] { return ReadDword(HKEY_LOCAL_MACHINE, Agent(), "Instances") == 3; }},
        {"set Agent Instances 0", 1, [] { return ReadDword(HKEY_LOCAL_MACHINE, Agent(), "Instances") == 3; }},
        {"set Agent Instances three", 1, [] { return ReadDword(HKEY_LOCAL_MACHINE, Agent(), "Instances") == 3; }},
        {"--strict set Agent Instances 12", 1, [] { return ReadDword(HKEY_LOCAL_MACHINE, Agent(), "Instances") == 3; }},
        {"set Agent Instances 12", 0, [] { return ReadDword(HKEY_LOCAL_MACHINE, Agent(), "Instances") == 12; }},
        {"set Agent RestartOnExit 1", 0, [] { return ReadDword(HKEY_LOCAL_MACHINE, Agent(), "RestartOnExit") == 1; }},
        {"set Agent Colour 1", 1, [] { return !ValueExists(HKEY_LOCAL_MACHINE, Agent(), "Colour"); }},
        {"set Nobody Instances 1", 1, [] { return !KeyExists(HKEY_LOCAL_MACHINE, kModules + "\\Nobody"); }},
        {"unset Agent CmdLineArgs", 0, [] { return !ValueExists(HKEY_LOCAL_MACHINE, Agent(), "CmdLineArgs"); }},
        {"unset Agent ExePath", 1, [] { return ValueExists(HKEY_LOCAL_MACHINE, Agent(), "ExePath"); }},
        {"settings TerminateOnStop 1", 0, [] { return ReadDword(HKEY_LOCAL_MACHINE, kParameters, "TerminateOnStop") == 1; }},
        {"settings TerminateOnStop 2", 1, [] { return ReadDword(HKEY_LOCAL_MACHINE, kParameters, "TerminateOnStop") == 1; }},
        {"settings Bogus 1", 1, [] { return !ValueExists(HKEY_LOCAL_MACHINE, kParameters, "Bogus"); }},
        {"frobnicate", 2, [] { return true; }},
        {"-Frobnicate", 2, [] { return true; }},
        {"add A\\B --path \"" + sleeper + "\"", 1, [] { return !KeyExists(HKEY_LOCAL_MACHINE, kModules + "\\A"); }},
        {"list --colour", 2, [] { return true; }},
        {"set --help", 0, [] { return true; }},
        {"apply C:\\missing.json", 1, [] { return KeyExists(HKEY_LOCAL_MACHINE, Agent()); }},
        {"add \"\xD0\x90\xD0\xB3\xD0\xB5\xD0\xBD\xD1\x82\" --path \"" + sleeper + "\"", 1,
         [] { return CountApplications(ServiceKeys::ForService(kService)) == 1; }},
        {"set Agent StartDir \"C:\\\xE2\x82\xAC\xD0\x90\"", 1, [] { return ReadString(HKEY_LOCAL_MACHINE, Agent(), "StartDir").empty(); }},
        {"remove AGENT", 0, [] { return !KeyExists(HKEY_LOCAL_MACHINE, Agent()); }},
        {"remove Agent", 1, [] { return true; }},
    };
    for (const auto& step : steps) {
        const CompanionRun run = RunCompanion(step.arguments);
        EXPECT_EQ(run.code, step.code) << step.arguments << "\n" << run.err;
        EXPECT_TRUE(step.effect()) << step.arguments;
        if (step.code == 1) {
            EXPECT_FALSE(run.err.empty()) << step.arguments;
        }
    }
}

TEST_F(Companion, ListsShowsAndNamesTheFieldOutsideTheCodePage) {
    AddApplication("Agent", 2, BuildPath("sleeper.exe"), "-x");
    CompanionRun run = RunCompanion("list");
    EXPECT_EQ(run.out, "Agent\tprogram\t2\t" + BuildPath("sleeper.exe") + "\n");
    run = RunCompanion("show Agent --json");
    EXPECT_NE(run.out.find("\"Instances\": 2"), std::string::npos) << run.out;
    run = RunCompanion("settings");
    EXPECT_NE(run.out.find("EnableLaunch = 1 (default)\n"), std::string::npos) << run.out;
    run = RunCompanion("set Agent CmdLineArgs \"\xD0\x90\"");
    EXPECT_NE(run.err.find("Agent.CmdLineArgs: has characters that the ANSI code page cannot hold"), std::string::npos) << run.err;
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, Agent(), "CmdLineArgs"), "-x");
}

TEST_F(Companion, ExportWipeApplyGivesTheSameFileAndASecondApplyWritesNothing) {
    AddApplication("Agent", 2, BuildPath("sleeper.exe"), "-x");
    AddApplication("Other", 1, BuildPath("sleeper.exe"), "");
    WriteDword(HKEY_LOCAL_MACHINE, Agent(), "Colour", 7);
    const std::string file = BuildPath("exported.json");
    ASSERT_EQ(RunCompanion("export \"" + file + "\"").code, 0u);
    const std::string exported = RunCompanion("export").out;
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kParameters);
    EXPECT_EQ(RunCompanion("apply \"" + file + "\" --check").code, 3u);
    CompanionRun run = RunCompanion("apply \"" + file + "\"");
    EXPECT_EQ(run.code, 0u) << run.err;
    EXPECT_NE(run.out.find("+ Agent\n"), std::string::npos) << run.out;
    EXPECT_EQ(RunCompanion("export").out, exported);
    EXPECT_EQ(RunCompanion("apply \"" + file + "\" --check").code, 0u);

    WriteDword(HKEY_LOCAL_MACHINE, Agent(), "Colour", 7);  // unknown to the model: left alone, named
    const FILETIME before[] = {LastWrite(kParameters), LastWrite(Agent()), LastWrite(kModules + "\\Other")};
    run = RunCompanion("apply \"" + file + "\"");
    EXPECT_EQ(run.out, "unchanged\n");
    EXPECT_NE(run.err.find("applications.Agent.Colour"), std::string::npos) << run.err;
    const FILETIME after[] = {LastWrite(kParameters), LastWrite(Agent()), LastWrite(kModules + "\\Other")};
    EXPECT_EQ(0, memcmp(before, after, sizeof before));

    AddApplication("Extra", 1, BuildPath("sleeper.exe"), "");
    WriteDword(HKEY_LOCAL_MACHINE, Agent(), "Instances", 5);
    run = RunCompanion("apply \"" + file + "\"");
    EXPECT_EQ(run.out, "- Extra\n~ Agent.Instances: 5 -> 2\n");
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, Agent(), "Colour"), 7u);
}

TEST_F(Companion, AFileWithThreeErrorsWritesNothingAndNamesThemAll) {
    const std::string file = WriteFile("three.json", R"({"settings": {"EnableLaunch": "yes"}, "applications": {
        "A": {"ExePath": "C:\\a.exe", "Instances": 0}, "B": {"ProgId": "X.Y", "Instances": 1, "Size": 3}}})");
    const CompanionRun run = RunCompanion("apply \"" + file + "\"");
    EXPECT_EQ(run.code, 1u);
    for (const char* place : {"settings.EnableLaunch", "applications.A.Instances", "applications.B.Size"})
        EXPECT_NE(run.err.find(place), std::string::npos) << place << "\n" << run.err;
    EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kModules + "\\A"));
    EXPECT_EQ(ReadDword(HKEY_LOCAL_MACHINE, kParameters, "EnableLaunch"), 1u);
}

TEST_F(Companion, ControlsTheServiceAndPassesCorvaneExeOptionsOn) {
    const std::pair<const char*, DWORD> steps[] = {
        {"start", SERVICE_RUNNING}, {"pause", SERVICE_PAUSED}, {"continue", SERVICE_RUNNING},
        {"restart --timeout 60", SERVICE_RUNNING}, {"stop", SERVICE_STOPPED}};
    for (const auto& [verb, state] : steps) {
        EXPECT_EQ(RunCompanion(verb).code, 0u) << verb;
        EXPECT_EQ(QueryServiceState(kService), state) << verb;
    }
    ASSERT_TRUE(Eventually([] { return ProcessIdsNamed("corvane.exe").empty(); }));
    const DWORD direct = RunAndWait("\"" + BuildPath("corvane.exe") + "\" -Install");
    EXPECT_EQ(RunCompanion("-Install").code, direct);
    EXPECT_EQ(QueryServiceState(kService), static_cast<DWORD>(SERVICE_STOPPED));
}

}  // namespace
