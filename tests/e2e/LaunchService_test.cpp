// corvane.exe as a real service: what it launches when it starts, and what stop, pause and
// continue do to it, watched through the service manager and the list of processes.
#include "base/Owners.h"
#include "base/RegistryKey.h"
#include "support/DialogDriver.h"
#include "support/SleeperReports.h"
#include "support/ServiceFixture.h"
#include "support/TestSupport.h"
#include "support/WindowDriver.h"
#include "Guids.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <set>

namespace {


std::size_t Running(const std::string& exe) { return ProcessIdsNamed(exe).size(); }

// Plain-text events traced since trace began whose text begins with start.
std::size_t CountReports(const EventTrace& trace, const std::string& start) {
    std::size_t count = 0;
    for (const auto& event : trace.Events())
        if (event.id == 1000 && !event.strings.empty() && event.strings[0].rfind(start, 0) == 0) ++count;
    return count;
}

class LaunchServiceTest : public ProductServiceTest {
protected:
    void SetUp() override {
        RemoveEverything();
        CreateProductService();
    }
    void TearDown() override { RemoveEverything(); }

    void RemoveEverything() {
        RemoveProductService();
        KillProcessesNamed("sleeper.exe");
        reports.Clear();
    }

    std::string ReportArgs(const std::string& tag) { return "--report " + reports.path() + " --tag " + tag; }
    std::size_t ReportsTagged(const std::string& tag) {
        std::size_t count = 0;
        for (const auto& report : reports.Reports())
            if (report.commandLine == sleeper + " " + ReportArgs(tag)) ++count;
        return count;
    }
    std::set<DWORD> LivePids() {
        std::vector<DWORD> ids = ProcessIdsNamed("sleeper.exe");
        return {ids.begin(), ids.end()};
    }


    const std::string sleeper = BuildPath("sleeper.exe");
    ReportDirectory reports{"LaunchService"};
};

TEST_F(LaunchServiceTest, StartLaunchesTheConfiguredProgramsAndAStopThatTerminatesEndsThem) {
    const std::string missing = BuildPath("no-such-program.exe");
    AddApplication("Sleepers", 3, sleeper, ReportArgs("run"));
    AddApplication("Idle", 0, sleeper, ReportArgs("idle"));
    AddApplication("Missing", 1, missing, "-q");
    SetSetting("TerminateOnStop", 1);
    ASSERT_TRUE(EventTrace::Available()) << "run under scripts/test: the event trace is missing";
    EventTrace trace;

    Start();
    ASSERT_TRUE(Eventually([&] { return ReportsTagged("run") == 3; }));
    // The failed start was told to the event log as a plain text event.
    EXPECT_TRUE(Eventually([&] {
        return CountReports(trace, "Unable to start application: " + missing + " -q\nDetailed error info: \n") == 1;
    }));
    EXPECT_EQ(ReportsTagged("idle"), 0u);
    EXPECT_EQ(Running("sleeper.exe"), 3u);
    for (const auto& report : reports.Reports()) EXPECT_EQ(report.show, static_cast<DWORD>(SW_SHOWMINIMIZED));

    Stop();
    EXPECT_TRUE(Eventually([] { return Running("sleeper.exe") == 0; }, 10000));
    EXPECT_EQ(reports.Count(), 3u);
}

TEST_F(LaunchServiceTest, AStopThatDoesNotTerminateLeavesTheProgramsRunning) {
    AddApplication("Sleepers", 2, sleeper, ReportArgs("run"));
    Start();
    ASSERT_TRUE(Eventually([&] { return ReportsTagged("run") == 2; }));
    Stop();
    for (const auto& report : reports.Reports()) EXPECT_TRUE(IsProcessAlive(report.pid)) << report.pid;
    EXPECT_EQ(Running("sleeper.exe"), 2u);
}

TEST_F(LaunchServiceTest, PauseThatTerminatesThenContinueThatRelaunchesGivesAFreshSet) {
    AddApplication("Sleepers", 3, sleeper, ReportArgs("run"));
    SetSetting("TerminateOnPause", 1);
    SetSetting("RelaunchOnContinue", 1);
    SetSetting("TerminateOnStop", 1);
    Start();
    ASSERT_TRUE(Eventually([&] { return ReportsTagged("run") == 3 && Running("sleeper.exe") == 3; }));

    Control(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
    EXPECT_TRUE(Eventually([] { return Running("sleeper.exe") == 0; }, 10000));

    Control(SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
    ASSERT_TRUE(Eventually([&] { return ReportsTagged("run") == 6 && Running("sleeper.exe") == 3; }));
    // What runs now is the second set: its reports are the three that came after the pause.
    std::set<DWORD> secondSet;
    for (const auto& report : reports.Reports())
        if (IsProcessAlive(report.pid)) secondSet.insert(report.pid);
    EXPECT_EQ(secondSet.size(), 3u);
    EXPECT_EQ(LivePids(), secondSet);

    // The relaunched set is tracked like the first: the stop ends it.
    Stop();
    EXPECT_TRUE(Eventually([] { return Running("sleeper.exe") == 0; }, 10000));
}

TEST_F(LaunchServiceTest, EnableLaunchZeroStartsNothingAtStartOrContinue) {
    AddApplication("Sleepers", 3, sleeper, ReportArgs("run"));
    SetSetting("EnableLaunch", 0);
    SetSetting("RelaunchOnContinue", 1);
    SetSetting("TerminateOnPause", 1);
    SetSetting("TerminateOnStop", 1);
    Start();
    // With launching off the passes of start and continue start nothing.
    Control(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
    Control(SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
    Stop();
    EXPECT_EQ(Running("sleeper.exe"), 0u);
    EXPECT_EQ(reports.Count(), 0u);

    // The same configuration with launching on launches at start and again at continue.
    SetSetting("EnableLaunch", 1);
    Start();
    ASSERT_TRUE(Eventually([&] { return ReportsTagged("run") == 3; }));
    Control(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
    Control(SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
    EXPECT_TRUE(Eventually([&] { return ReportsTagged("run") == 6; }));
}

TEST_F(LaunchServiceTest, AStopDuringALongPassLeavesNoSurvivor) {
    // As many instances as the value can say: the pass never ends by itself.
    const DWORD many = 4294967295u;
    AddApplication("Many", many, sleeper, ReportArgs("many"));
    SetSetting("TerminateOnStop", 1);
    // Stop at different moments of the pass, round after round.
    for (int round = 0; round < 10; ++round) {
        SCOPED_TRACE(round);
        reports.Clear();
        Start();
        // 0: the stop comes as soon as the service reports RUNNING.
        const std::size_t stopAfter = static_cast<std::size_t>(round % 5) * 2;
        ASSERT_TRUE(Eventually([&] { return Running("sleeper.exe") >= stopAfter; }));
        Stop();
        // The service process has ended: whatever it started and did not end survives now.
        EXPECT_TRUE(Eventually([] { return Running("sleeper.exe") == 0; }, 10000))
            << Running("sleeper.exe") << " survivors";
        KillProcessesNamed("sleeper.exe");
    }
}

// Beside one good application, one application for each way its values can be wrong. Numbers
// count only as a REG_DWORD of 4 bytes and texts only as REG_SZ or REG_EXPAND_SZ of at most 259
// characters; anything else counts as missing, and the service says so once, naming the
// application and the value. The good application starts, whatever the others hold; the stop
// is answered and ends everything that was started.
TEST_F(LaunchServiceTest, MalformedValuesAreReportedOnceAndHarmNoOtherApplication) {
    ASSERT_TRUE(EventTrace::Available()) << "run under scripts/test: the event trace is missing";
    struct Value {
        const char* name;
        DWORD type;
        std::string bytes;
    };
    auto text = [](const std::string& t) { return std::string(t.c_str(), t.size() + 1); };
    auto number = [](DWORD n) { return std::string(reinterpret_cast<const char*>(&n), sizeof n); };
    const std::string noPath;
    const std::string missingDirectory = BuildPath("reports\\no such directory");
    const struct Case {
        std::string application;
        std::vector<Value> values;          // written over those of a good program
        bool starts;                        // a program runs for it
        std::vector<const char*> reported;  // the values reported as wrong
        const std::string* failedPath;      // the path of its launch failure, when its start fails
    } cases[] = {
        {"Text number", {{"Instances", REG_SZ, text("3")}}, false, {"Instances"}, nullptr},
        {"Binary number", {{"Instances", REG_BINARY, number(1)}}, false, {"Instances"}, nullptr},
        {"Long number", {{"Instances", REG_QWORD, number(1) + number(0)}}, false, {"Instances"}, nullptr},
        {"Text show value", {{"Attrib", REG_SZ, text("2")}}, true, {"Attrib"}, nullptr},
        {"Multi-text path", {{"ExePath", REG_MULTI_SZ, text(sleeper) + '\0'}}, false, {"ExePath"}, &noPath},
        {"Number path", {{"ExePath", REG_DWORD, number(7)}}, false, {"ExePath"}, &noPath},
        {"Unterminated path", {{"ExePath", REG_SZ, sleeper}}, true, {}, nullptr},
        {"Binary arguments", {{"CmdLineArgs", REG_BINARY, "--tag"}}, true, {"CmdLineArgs"}, nullptr},
        {"Long arguments", {{"CmdLineArgs", REG_SZ, text(std::string(40000, 'a'))}}, true, {"CmdLineArgs"}, nullptr},
        {"Number directory", {{"StartDir", REG_DWORD, number(0)}}, true, {"StartDir"}, nullptr},
        {"Missing directory", {{"StartDir", REG_SZ, text(missingDirectory)}}, false, {}, &sleeper},
        {"Number ProgId", {{"ProgId", REG_DWORD, number(0x41)}}, true, {"ProgId"}, nullptr},
        {"Method values",
         {{"ProgId", REG_SZ, text("Scripting.Dictionary")},
          {"MethodName", REG_BINARY, "Add"},
          {"ParamOne", REG_DWORD, number(1)},
          {"ParamOneType", REG_MULTI_SZ, text("VT_VARIANT") + '\0'},
          {"ParamTwo", REG_QWORD, number(1) + number(0)},
          {"ParamTwoType", REG_DWORD, number(0)},
          {"ParamThree", REG_BINARY, "x"},
          {"ParamThreeType", REG_BINARY, "VT_VARIANT"},
          {"ParamFour", REG_MULTI_SZ, text("4") + '\0'},
          {"ParamFourType", REG_DWORD, number(0)}},
         false,
         {"MethodName", "ParamOne", "ParamOneType", "ParamTwo", "ParamTwoType", "ParamThree", "ParamThreeType",
          "ParamFour", "ParamFourType"},
         nullptr},
        {std::string(150, 'N'), {{"Attrib", REG_BINARY, number(2)}}, true, {"Attrib"}, nullptr},
    };
    AddApplication("Good", 1, sleeper, ReportArgs("good"));
    std::size_t programs = 1;
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const Case& c = cases[row];
        AddApplication(c.application, 1, sleeper, "--tag row" + std::to_string(row));
        for (const Value& value : c.values)
            WriteRawValue(HKEY_LOCAL_MACHINE, kModules + "\\" + c.application, value.name, value.type, value.bytes);
        if (c.starts) ++programs;
    }
    RegistryKey emptyKey;  // an application without values has nothing to start and nothing wrong
    ASSERT_EQ(emptyKey.Create(HKEY_LOCAL_MACHINE, (kModules + "\\Empty key").c_str(), KEY_READ), ERROR_SUCCESS);
    SetSetting("TerminateOnStop", 1);
    WriteRawValue(HKEY_LOCAL_MACHINE, kParameters, "TerminateOnPause", REG_BINARY, number(1));
    EventTrace trace;

    // What each application, and the service for its own setting, must have reported: the text
    // each report begins with.
    std::vector<std::string> expected{"Setting \"TerminateOnPause\" is not a REG_DWORD of 4 bytes"};
    for (std::size_t row = 0; row < std::size(cases); ++row) {
        const Case& c = cases[row];
        for (const char* value : c.reported)
            expected.push_back("Application \"" + c.application + "\": value \"" + value + "\" ");
        if (c.failedPath)
            expected.push_back("Unable to start application: " + *c.failedPath + " --tag row" + std::to_string(row) +
                               "\nDetailed error info: ");
    }

    Start();
    ASSERT_TRUE(Eventually([&] { return ReportsTagged("good") == 1; }));
    EXPECT_TRUE(Eventually([&] {
        for (const std::string& start : expected)
            if (CountReports(trace, start) == 0) return false;
        return Running("sleeper.exe") == programs;
    }));
    // Each once, and nothing else reported as wrong: not the good application, the unterminated
    // path or the empty key.
    for (const std::string& start : expected) EXPECT_EQ(CountReports(trace, start), 1u) << start.substr(0, 80);
    std::size_t wrongValues = 0;
    for (const Case& c : cases) wrongValues += c.reported.size();
    EXPECT_EQ(CountReports(trace, "Application \""), wrongValues);
    EXPECT_EQ(Running("sleeper.exe"), programs);

    Stop();
    EXPECT_TRUE(Eventually([] { return Running("sleeper.exe") == 0; }, 10000)) << Running("sleeper.exe");
}

TEST_F(LaunchServiceTest, TheMainDialogMadeAtTheFirstOpenLivesUntilStopAndWhatItAddsIsLaunchedAtTheNextStart) {
    SetSetting("EnableTrayIcon", 1);  // without the icon the service makes no window
    Start();
    EXPECT_EQ(FindWindowA(nullptr, "Corvane - Manage Applications"), nullptr) << "made at the first Open only";
    // Shown by the tray's Open, filled and saved as a person would.
    const std::vector<DWORD> service = ProcessIdsNamed("corvane.exe");
    ASSERT_EQ(service.size(), 1u);
    PostMessageA(ProductMainWindow(service[0]), WM_COMMAND, ID_TRAY_OPEN, 0);
    HWND dialog = nullptr;
    ASSERT_TRUE(Eventually([&] { return (dialog = FindWindowA(nullptr, "Corvane - Manage Applications")) != nullptr; }));
    SetItemText(dialog, IDC_NAME, "Added");
    SetItemText(dialog, IDC_PATH, sleeper);
    SetItemText(dialog, IDC_ARGUMENTS, ReportArgs("added"));
    Click(dialog, IDC_SAVE);
    EXPECT_EQ(ReadString(HKEY_LOCAL_MACHINE, kModules + "\\Added", "ExePath"), sleeper);
    Click(dialog, IDCANCEL);
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_FALSE(IsWindowVisible(dialog));

    Stop();
    EXPECT_FALSE(IsWindow(dialog));
    EXPECT_EQ(ReportsTagged("added"), 0u) << "saving launches nothing";
    Start();
    EXPECT_TRUE(Eventually([&] { return ReportsTagged("added") == 1; }));
}

}  // namespace
