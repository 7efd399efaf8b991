// The launch pass over the Modules key of the test service: what it starts, what it skips,
// what it tracks, and how a stop or pause in the middle of it ends it.
#include "base/RegistryKey.h"
#include "base/EventLog.h"
#include "config/ServiceSettings.h"
#include "base/Owners.h"
#include "launch/LaunchWorker.h"
#include "launch/Tracking.h"
#include "support/SleeperReports.h"
#include "support/TestSupport.h"

#include <gtest/gtest.h>

#include <mutex>
#include <optional>
#include <thread>

namespace {

class LaunchPassTest : public testing::Test {
protected:
    void SetUp() override {
        KillProcessesNamed("sleeper.exe");
        tracker.Cancel(true);
        DeleteKeyTree(HKEY_LOCAL_MACHINE, TestKeys().parameters);
        PrepareServiceKeys(TestKeys());
        SetEventSink([this](WORD, DWORD, const std::string& text) {
            std::lock_guard<std::mutex> guard(eventsLock);
            events.push_back(text);
        });
    }
    void TearDown() override {
        tracker.Cancel(true);
        SetEventSink({});
        KillProcessesNamed("sleeper.exe");
        DeleteKeyTree(HKEY_LOCAL_MACHINE, TestKeys().parameters);
        PrepareServiceKeys(TestKeys());
    }

    void AddApplication(const std::string& name, std::optional<DWORD> instances, const std::string& exePath,
                        const std::string& args, DWORD attrib = SW_SHOWNORMAL, const std::string& startDir = {},
                        const std::string& progId = {}) {
        const std::string key = TestKeys().modules + "\\" + name;
        if (instances) WriteDword(HKEY_LOCAL_MACHINE, key, "Instances", *instances);
        WriteDword(HKEY_LOCAL_MACHINE, key, "Attrib", attrib);
        WriteString(HKEY_LOCAL_MACHINE, key, "ExePath", exePath);
        WriteString(HKEY_LOCAL_MACHINE, key, "CmdLineArgs", args);
        WriteString(HKEY_LOCAL_MACHINE, key, "StartDir", startDir);
        WriteString(HKEY_LOCAL_MACHINE, key, "ProgId", progId);
    }
    std::string ReportArgs(const std::string& tag) { return "--report " + reports.path() + " --tag " + tag; }
    std::vector<std::string> Events() {
        std::lock_guard<std::mutex> guard(eventsLock);
        return events;
    }
    std::size_t ReportsTagged(const std::string& tag) {
        std::size_t count = 0;
        for (const auto& report : reports.Reports())
            if (report.commandLine == sleeper + " " + ReportArgs(tag)) ++count;
        return count;
    }
    void SetEnableLaunch(std::optional<DWORD> value) {
        if (value) {
            WriteDword(HKEY_LOCAL_MACHINE, TestKeys().parameters, "EnableLaunch", *value);
            return;
        }
        RegistryKey parameters;
        ASSERT_EQ(parameters.Open(HKEY_LOCAL_MACHINE, TestKeys().parameters.c_str(), KEY_ALL_ACCESS),
                  ERROR_SUCCESS);
        ASSERT_EQ(RegDeleteValueA(parameters.get(), "EnableLaunch"), ERROR_SUCCESS);
    }

    const std::string sleeper = BuildPath("sleeper.exe");
    ReportDirectory reports{"LaunchPass"};
    std::mutex eventsLock;
    std::vector<std::string> events;
    LaunchTracker tracker;
};

// --- What a pass starts ---------------------------------------------------------------

TEST_F(LaunchPassTest, EveryInstanceIsStartedAndTrackedUntilTheSweepEndsItWithExitCodeZero) {
    AddApplication("Three", 3, sleeper, ReportArgs("three"));
    ASSERT_EQ(LaunchAllApplications(TestKeys(), tracker), 1u);

    EXPECT_EQ(tracker.ProcessCount(), 3u);
    ASSERT_TRUE(Eventually([&] { return ReportsTagged("three") == 3; }));
    std::vector<UniqueHandle> started;
    for (const auto& report : reports.Reports())
        started.emplace_back(OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, report.pid));
    ASSERT_EQ(ProcessIdsNamed("sleeper.exe").size(), 3u);

    tracker.Cancel(true);
    EXPECT_EQ(tracker.ProcessCount(), 0u);
    for (auto& process : started) {
        ASSERT_TRUE(process);
        ASSERT_EQ(WaitForSingleObject(process.get(), 10000), WAIT_OBJECT_0);
        DWORD code = 1;
        ASSERT_TRUE(GetExitCodeProcess(process.get(), &code));
        EXPECT_EQ(code, 0u);
    }
    // A second sweep finds nothing left.
    tracker.Cancel(true);
    EXPECT_EQ(tracker.ProcessCount(), 0u);
    EXPECT_TRUE(Events().empty());
}

TEST_F(LaunchPassTest, ApplicationsWithoutInstancesAreSkippedAndTheRecordValuesPassOn) {
    const std::string windows = "C:\\windows";
    AddApplication("Absent", std::nullopt, sleeper, ReportArgs("absent"));
    AddApplication("None", 0, sleeper, ReportArgs("none"));
    AddApplication("One", 1, sleeper, ReportArgs("one"), SW_SHOWMAXIMIZED, windows);
    AddApplication("Hidden", 1, sleeper, ReportArgs("hidden"), SW_HIDE);

    ASSERT_EQ(LaunchAllApplications(TestKeys(), tracker), 1u);
    EXPECT_EQ(tracker.ProcessCount(), 2u);
    ASSERT_TRUE(Eventually([&] { return reports.Count() == 2; }));
    for (const auto& report : reports.Reports()) {
        if (report.commandLine == sleeper + " " + ReportArgs("one")) {
            EXPECT_EQ(report.show, static_cast<DWORD>(SW_SHOWMAXIMIZED));
            EXPECT_EQ(lstrcmpiA(report.directory.c_str(), windows.c_str()), 0) << report.directory;
        } else {
            EXPECT_EQ(report.commandLine, sleeper + " " + ReportArgs("hidden"));
            EXPECT_EQ(report.show, static_cast<DWORD>(SW_HIDE));
        }
    }
    EXPECT_EQ(ProcessIdsNamed("sleeper.exe").size(), 2u);
    EXPECT_TRUE(Events().empty());
}

TEST_F(LaunchPassTest, OneFailingApplicationDoesNotStopTheOthers) {
    const std::string missing = BuildPath("no-such-program.exe");
    AddApplication("A", 1, sleeper, ReportArgs("a"));
    AddApplication("B", 1, missing, "-q");
    AddApplication("C", 1, sleeper, ReportArgs("c"));

    ASSERT_EQ(LaunchAllApplications(TestKeys(), tracker), 1u);
    EXPECT_EQ(tracker.ProcessCount(), 2u);
    EXPECT_TRUE(Eventually([&] { return ReportsTagged("a") == 1 && ReportsTagged("c") == 1; }));
    std::vector<std::string> logged = Events();
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(logged[0].rfind("Unable to start application: " + missing + " -q\nDetailed error info: \n", 0), 0u)
        << logged[0];
}

TEST_F(LaunchPassTest, AnApplicationWithProgIdNeverStartsItsExePath) {
    AddApplication("Server", 2, sleeper, ReportArgs("server"), SW_SHOWNORMAL, {}, "No.Such.Server");
    AddApplication("Program", 1, sleeper, ReportArgs("program"));
    ASSERT_EQ(LaunchAllApplications(TestKeys(), tracker), 1u);
    EXPECT_EQ(tracker.ProcessCount(), 1u);
    ASSERT_TRUE(Eventually([&] { return ReportsTagged("program") == 1; }));
    EXPECT_EQ(ReportsTagged("server"), 0u);
    EXPECT_EQ(ProcessIdsNamed("sleeper.exe").size(), 1u);
}

TEST_F(LaunchPassTest, EnableLaunchGatesTheWorkerAndAnEmptyCatalogueStartsNothing) {
    // No applications: both routines answer 0.
    EXPECT_EQ(LaunchAllApplications(TestKeys(), tracker), 0u);
    EXPECT_EQ(RunLaunchWorker(TestKeys(), tracker, 0), 0u);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, TestKeys().modules);
    EXPECT_EQ(LaunchAllApplications(TestKeys(), tracker), 0u);

    AddApplication("One", 1, sleeper, ReportArgs("one"));
    SetEnableLaunch(0);
    EXPECT_EQ(RunLaunchWorker(TestKeys(), tracker, 0), 0u);
    EXPECT_EQ(tracker.ProcessCount(), 0u);
    EXPECT_TRUE(ProcessIdsNamed("sleeper.exe").empty());

    // Absent, or any value but 0, means launching is on.
    SetEnableLaunch(std::nullopt);
    EXPECT_EQ(RunLaunchWorker(TestKeys(), tracker, 0), 1u);
    EXPECT_EQ(tracker.ProcessCount(), 1u);
    SetEnableLaunch(2);
    EXPECT_EQ(RunLaunchWorker(TestKeys(), tracker, 0), 1u);
    EXPECT_EQ(tracker.ProcessCount(), 2u);
    EXPECT_EQ(ProcessIdsNamed("sleeper.exe").size(), 2u);
}

// --- A stop or pause during a pass ----------------------------------------------------

TEST_F(LaunchPassTest, TerminatingDuringAPassLeavesNoSurvivor) {
    const DWORD many = 200;
    AddApplication("Many", many, sleeper, ReportArgs("many"));
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        reports.Clear();
        std::thread pass([this] { (void)LaunchAllApplications(TestKeys(), tracker); });
        bool started = Eventually([this] { return tracker.ProcessCount() >= 3; });
        tracker.Cancel(true);
        pass.join();

        EXPECT_TRUE(started);
        EXPECT_EQ(tracker.ProcessCount(), 0u);
        // Not one process of the pass is left, the one in flight at the sweep included.
        EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }, 10000))
            << ProcessIdsNamed("sleeper.exe").size() << " survivors";
        KillProcessesNamed("sleeper.exe");
    }
}

TEST_F(LaunchPassTest, AStopBeforeThePassRunsCancelsItAllTheSame) {
    // The service takes the pass's ticket before it can report RUNNING; a stop that comes
    // before the worker thread runs cancels the pass.
    AddApplication("Early", 3, sleeper, ReportArgs("early"));
    const LaunchTracker::Ticket ticket = tracker.BeginPass();
    tracker.Cancel(true);
    EXPECT_EQ(RunLaunchWorker(TestKeys(), tracker, ticket), 1u);
    EXPECT_EQ(tracker.ProcessCount(), 0u);
    EXPECT_EQ(reports.Count(), 0u);
    EXPECT_TRUE(ProcessIdsNamed("sleeper.exe").empty());

    // A pass of its own, as a continue runs it, launches.
    EXPECT_EQ(RunLaunchWorker(TestKeys(), tracker, 0), 1u);
    EXPECT_EQ(tracker.ProcessCount(), 3u);
}

TEST_F(LaunchPassTest, APauseThatKeepsApplicationsEndsThePassAndKeepsWhatRuns) {
    const DWORD many = 200;
    AddApplication("Many", many, sleeper, ReportArgs("many"));
    std::thread pass([this] { (void)LaunchAllApplications(TestKeys(), tracker); });
    bool started = Eventually([this] { return tracker.ProcessCount() >= 2; });
    tracker.Cancel(false);
    pass.join();
    ASSERT_TRUE(started);

    // Everything the pass started still runs and is tracked; the rest was not started.
    const std::size_t tracked = tracker.ProcessCount();
    EXPECT_LT(tracked, many);
    EXPECT_EQ(ProcessIdsNamed("sleeper.exe").size(), tracked);

    // A pass that begins afterwards is not affected by the earlier pause and appends.
    WriteDword(HKEY_LOCAL_MACHINE, TestKeys().modules + "\\Many", "Instances", 2);
    ASSERT_EQ(LaunchAllApplications(TestKeys(), tracker), 1u);
    EXPECT_EQ(tracker.ProcessCount(), tracked + 2);

    tracker.Cancel(true);
    EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }, 10000));
}

}  // namespace
