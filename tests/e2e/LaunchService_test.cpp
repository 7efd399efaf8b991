// corvane.exe as a real service: what it launches when it starts, and what stop, pause and
// continue do to it, watched through the service manager and the list of processes.
#include "base/Owners.h"
#include "support/DialogDriver.h"
#include "support/SleeperReports.h"
#include "support/ServiceFixture.h"
#include "support/TestSupport.h"
#include "Guids.h"
#include "resource.h"

#include <gtest/gtest.h>

#include <set>

namespace {


std::size_t Running(const std::string& exe) { return ProcessIdsNamed(exe).size(); }

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
    EventTrace trace;

    Start();
    ASSERT_TRUE(Eventually([&] { return ReportsTagged("run") == 3; }));
    if (EventTrace::Available()) {
        // The failed start was told to the event log as a plain text event.
        EXPECT_TRUE(trace.WaitForStart(1000, "Unable to start application: " + missing + " -q\nDetailed error info: \n"));
    }
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
    const DWORD many = 200;
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

TEST_F(LaunchServiceTest, TheHiddenMainDialogLivesUntilStopAndWhatItAddsIsLaunchedAtTheNextStart) {
    Start();
    HWND dialog = nullptr;
    ASSERT_TRUE(Eventually([&] { return (dialog = FindWindowA(nullptr, "Corvane - Manage Applications")) != nullptr; }));
    EXPECT_FALSE(IsWindowVisible(dialog));

    // Shown as the tray shows it, filled and saved as a person would.
    ShowWindow(dialog, SW_SHOWNORMAL);
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
