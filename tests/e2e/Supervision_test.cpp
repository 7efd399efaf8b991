// corvane.exe as a real service supervising what it launched: programs started again when they
// end by themselves, programs asked to end before a stop or pause terminates them, and a
// program's own processes ended with it. Watched through the service manager, the reports and
// endings of the sleepers, and the events the service reported.
#include "base/Owners.h"
#include "config/Application.h"
#include "config/LiveStatus.h"
#include "config/ServiceSettings.h"
#include "launch/ProgramOutput.h"
#include "support/ServiceFixture.h"
#include "support/SleeperReports.h"
#include "support/TestSupport.h"
#include "messages.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <set>
#include <thread>

namespace {

class SupervisionTest : public ProductServiceTest {
protected:
    void SetUp() override {
        ASSERT_TRUE(EventTrace::Available()) << "run under scripts/test: the event trace is missing";
        RemoveEverything();
        CreateProductService();
        SetSetting("TerminateOnStop", 1);
    }
    void TearDown() override { RemoveEverything(); }

    void RemoveEverything() {
        RemoveProductService();
        KillProcessesNamed("sleeper.exe");
        reports.Clear();
    }

    // One instance of the sleeper with args, tagged by the application's name.
    void AddSleeper(const std::string& name, const std::string& args) {
        AddApplication(name, 1, sleeper, args + " --report " + reports.path() + " --tag " + name);
    }
    static void SetApplicationValue(const std::string& name, const char* value, DWORD data) {
        WriteDword(HKEY_LOCAL_MACHINE, kModules + "\\" + name, value, data);
    }

    // The runs of an application: the reports of its instances, in no particular order.
    std::vector<SleeperReport> RunsOf(const std::string& name) {
        std::vector<SleeperReport> runs;
        const std::string tag = " --tag " + name;
        for (const auto& report : reports.Reports())
            if (report.commandLine.size() > tag.size() &&
                report.commandLine.compare(report.commandLine.size() - tag.size(), tag.size(), tag) == 0)
                runs.push_back(report);
        return runs;
    }
    std::size_t Runs(const std::string& name) { return RunsOf(name).size(); }

    // The warnings the service reported about the exits of an application's programs, in order.
    static std::vector<TracedEvent> ExitsOf(const EventTrace& trace, const std::string& name) {
        std::vector<TracedEvent> exits;
        for (const auto& event : trace.Events())
            if ((event.id == MSG_PROGRAM_RESTARTING || event.id == MSG_PROGRAM_ENDED_STOPPING ||
                 event.id == MSG_PROGRAM_ENDED_PAUSED || event.id == MSG_PROGRAM_ENDED_NOT_WANTED) &&
                !event.strings.empty() && event.strings[0] == name)
                exits.push_back(event);
        return exits;
    }
    // The waits announced by the exits of an application that were followed by a restart.
    static std::vector<std::string> WaitsOf(const EventTrace& trace, const std::string& name) {
        std::vector<std::string> waits;
        for (const auto& event : ExitsOf(trace, name))
            if (event.id == MSG_PROGRAM_RESTARTING && event.strings.size() == 4) waits.push_back(event.strings[3]);
        return waits;
    }
    static std::vector<TracedEvent> EventsWithId(const EventTrace& trace, DWORD id) {
        std::vector<TracedEvent> found;
        for (const auto& event : trace.Events())
            if (event.id == id) found.push_back(event);
        return found;
    }

    const std::string sleeper = BuildPath("sleeper.exe");
    ReportDirectory reports{"Supervision"};
    const std::string logs = BuildPath("logs");
};

SERVICE_STATUS ServiceStatus() {
    SERVICE_STATUS status{};
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager ? OpenServiceA(manager.get(), kService.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    if (service) QueryServiceStatus(service.get(), &status);
    return status;
}

// The lines of a file, without their line ends; none when it cannot be read.
std::vector<std::string> LinesOf(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream file(path, std::ios::binary);
    for (std::string line; std::getline(file, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line.substr(0, line.find_first_of('x')));
    }
    return lines;
}
// What the sleeper prints with --print count --print-err errors, as LinesOf reads it.
std::vector<std::string> PrintedBy(DWORD pid, unsigned count, unsigned errors) {
    std::vector<std::string> lines;
    for (unsigned i = 1; i <= std::max(count, errors); ++i) {
        if (i <= count) lines.push_back(std::to_string(pid) + " out " + std::to_string(i));
        if (i <= errors) lines.push_back(std::to_string(pid) + " err " + std::to_string(i));
    }
    return lines;
}

// Records the states and checkpoints that the service manager shows until the service reaches
// a final state.
class StatusRecorder {
public:
    explicit StatusRecorder(DWORD finalState)
        : thread_([this, finalState] {
              Eventually(
                  [&] {
                      SERVICE_STATUS status = ServiceStatus();
                      seen_.push_back({status.dwCurrentState, status.dwCheckPoint});
                      return status.dwCurrentState == finalState;
                  },
                  60000);
          }) {}
    ~StatusRecorder() { Join(); }

    void Join() {
        if (thread_.joinable()) thread_.join();
    }
    // The distinct checkpoints shown in state, and whether the last state seen was finalState.
    std::set<DWORD> CheckpointsIn(DWORD state) const {
        std::set<DWORD> checkpoints;
        for (const auto& [seenState, checkpoint] : seen_)
            if (seenState == state) checkpoints.insert(checkpoint);
        return checkpoints;
    }
    DWORD LastState() const { return seen_.empty() ? 0 : seen_.back().first; }

private:
    std::vector<std::pair<DWORD, DWORD>> seen_;
    std::thread thread_;
};

TEST_F(SupervisionTest, RestartOnExitStartsAgainWhatAsksWithGrowingWaitsAndNeverWhilePausedOrStopping) {
    const std::string marker = reports.path() + "\\once.marker";
    DeleteFileA(marker.c_str());
    const struct {
        const char* name;
        std::optional<DWORD> restartOnExit;
        std::string args;
    } applications[] = {
        {"NotSet", std::nullopt, "--seconds 1 --exit-code 3"},
        {"Off", 0, "--seconds 1 --exit-code 3"},
        {"On", 1, "--seconds 3 --exit-code 3"},
        // Keeps crashing at once.
        {"Crasher", 1, "--seconds 0 --exit-code 0xC0000005"},
        // Ends with code 3 after a second, then runs for ever once restarted.
        {"Once", 1, "--seconds 1 --exit-code 3 --marker " + marker},
    };
    for (const auto& application : applications) {
        AddSleeper(application.name, application.args);
        if (application.restartOnExit) SetApplicationValue(application.name, kRestartOnExitValue, *application.restartOnExit);
    }
    EventTrace trace;
    Start();

    // Each exit of the crasher announces twice the wait of the one before, so when the exit
    // that announces 16 s is reported it has run exactly five times: a handful, not hundreds.
    ASSERT_TRUE(Eventually([&] { return WaitsOf(trace, "Crasher").size() >= 5; }, 90000));
    EXPECT_EQ(WaitsOf(trace, "Crasher"), (std::vector<std::string>{"1000", "2000", "4000", "8000", "16000"}));
    EXPECT_EQ(Runs("Crasher"), 5u);
    for (const auto& exit : ExitsOf(trace, "Crasher")) {
        EXPECT_EQ(exit.type, EVENTLOG_WARNING_TYPE);
        ASSERT_EQ(exit.strings.size(), 4u);
        EXPECT_EQ(exit.strings[2], "0xC0000005");
    }
    // Without RestartOnExit 1 a program that ends stays ended, and its exit is nobody's concern.
    for (const char* unsupervised : {"NotSet", "Off"}) {
        SCOPED_TRACE(unsupervised);
        EXPECT_EQ(Runs(unsupervised), 1u);
        EXPECT_TRUE(ExitsOf(trace, unsupervised).empty());
    }
    // Once ended with code 3, was started again after the default second and runs now.
    ASSERT_TRUE(Eventually([&] { return Runs("Once") == 2; }));
    const std::vector<TracedEvent> onceExits = ExitsOf(trace, "Once");
    ASSERT_EQ(onceExits.size(), 1u);
    EXPECT_EQ(onceExits[0].id, MSG_PROGRAM_RESTARTING);
    EXPECT_EQ(onceExits[0].strings, (std::vector<std::string>{"Once", onceExits[0].strings[1], "3", "1000"}));
    std::set<DWORD> onceRuns;
    for (const auto& run : RunsOf("Once")) onceRuns.insert(run.pid);
    EXPECT_EQ(onceRuns.count(std::stoul(onceExits[0].strings[1])), 1u);

    // A pause that keeps the programs while On runs: On ends while the service is paused and is
    // not started again, and the crasher, waiting for its restart, stays ended.
    const std::size_t onRuns = Runs("On");
    ASSERT_TRUE(Eventually([&] { return Runs("On") == onRuns + 1; }, 60000));
    Control(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
    ASSERT_TRUE(trace.WaitFor(MSG_PROGRAM_ENDED_PAUSED, "On"));
    EXPECT_EQ(Runs("Crasher"), 5u);
    const std::vector<TracedEvent> onExits = ExitsOf(trace, "On");
    ASSERT_EQ(onExits.size(), onRuns + 1);
    for (std::size_t i = 0; i + 1 < onExits.size(); ++i) {
        EXPECT_EQ(onExits[i].id, MSG_PROGRAM_RESTARTING) << i;
        EXPECT_EQ(onExits[i].strings[2], "3");
    }

    // The continue lets the crasher's restart, due or not, go on; On stays ended.
    Control(SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
    ASSERT_TRUE(Eventually([&] { return Runs("Crasher") == 6; }, 60000));
    EXPECT_EQ(Runs("On"), onRuns + 1);

    // The stop ends the restarted program like any other and starts nothing again.
    const DWORD restartedOnce = [&] {
        for (const auto& run : RunsOf("Once"))
            if (IsProcessAlive(run.pid)) return run.pid;
        return DWORD{0};
    }();
    ASSERT_NE(restartedOnce, 0u);
    Stop();
    EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }, 10000));
    const std::vector<TracedEvent> stopExits = ExitsOf(trace, "Once");
    ASSERT_EQ(stopExits.size(), 2u);
    EXPECT_EQ(stopExits[1].id, MSG_PROGRAM_ENDED_STOPPING);
    EXPECT_EQ(stopExits[1].strings[1], std::to_string(restartedOnce));
    EXPECT_EQ(Runs("Crasher"), 6u);
    EXPECT_EQ(Runs("Once"), 2u);
}

TEST_F(SupervisionTest, GracefulStopTimeoutAsksProgramsToEndAndTerminatesOnlyThoseThatDoNot) {
    const struct {
        const char* name;
        const char* args;
        const char* ending;  // how it meets the request; null: it ignores it and is terminated
    } applications[] = {
        {"Windowed", "--window --ignore-ctrl-c", "close"},
        {"Console", "--ctrl-c", "ctrl-c"},
        {"Stubborn", "--window --ignore-close --ignore-ctrl-c", nullptr},
    };
    for (const auto& application : applications) AddSleeper(application.name, application.args);
    SetSetting("TerminateOnPause", 1);

    const struct {
        const char* what;
        DWORD timeoutMs;  // 0: GracefulStopTimeout absent
        DWORD control;
        DWORD pending;
        DWORD final;
    } cases[] = {
        // First, while the service has never had the setting.
        {"stop without the setting", 0, SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING, SERVICE_STOPPED},
        {"stop", 3000, SERVICE_CONTROL_STOP, SERVICE_STOP_PENDING, SERVICE_STOPPED},
        {"pause", 3000, SERVICE_CONTROL_PAUSE, SERVICE_PAUSE_PENDING, SERVICE_PAUSED},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reports.Clear();
        if (c.timeoutMs) SetSetting(kGracefulStopTimeoutValue, c.timeoutMs);
        Start();
        ASSERT_TRUE(Eventually([&] { return reports.Reports().size() == 3; }));
        EventTrace trace;

        StatusRecorder recorder(c.final);
        ASSERT_TRUE(ControlServiceNamed(kService, c.control));
        recorder.Join();
        EXPECT_EQ(recorder.LastState(), c.final);
        EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }, 10000));

        const std::map<DWORD, std::string> endings = reports.Endings();
        const std::vector<TracedEvent> terminated = EventsWithId(trace, MSG_PROGRAMS_TERMINATED);
        if (c.timeoutMs) {
            for (const auto& application : applications) {
                SCOPED_TRACE(application.name);
                const std::vector<SleeperReport> runs = RunsOf(application.name);
                ASSERT_EQ(runs.size(), 1u);
                const auto ending = endings.find(runs[0].pid);
                if (application.ending) {
                    ASSERT_NE(ending, endings.end());
                    EXPECT_EQ(ending->second, application.ending);
                } else {
                    EXPECT_EQ(ending, endings.end());
                }
            }
            // The manager saw the wait progress, then the final state.
            EXPECT_GE(recorder.CheckpointsIn(c.pending).size(), 2u);
            ASSERT_EQ(terminated.size(), 1u);
            EXPECT_EQ(terminated[0].type, EVENTLOG_WARNING_TYPE);
            EXPECT_EQ(terminated[0].strings, (std::vector<std::string>{"1", "3000"}));
        } else {
            // As before: terminated at once, nobody asked.
            EXPECT_TRUE(endings.empty());
            EXPECT_TRUE(terminated.empty());
        }
        if (c.final == SERVICE_PAUSED) Stop();
        ASSERT_TRUE(Eventually([] { return ProcessIdsNamed("corvane.exe").empty(); }));
    }
}

TEST_F(SupervisionTest, ACrashLoopIsGivenUpAndExitCodesThatMeanDoneAreNotRestarted) {
    const struct {
        const char* name;
        std::string args;
        std::vector<std::pair<const char*, DWORD>> values;
        const char* successExitCodes;
        std::size_t runs;  // before it stays ended (0: keeps running)
        DWORD lastEvent;
    } applications[] = {
        // Three restarts within the window, then the fourth exit gives it up.
        {"Crasher", "--seconds 0 --exit-code 0xC0000005", {{kRestartLimitValue, 3}, {kRestartWindowValue, 10000}}, "", 4,
         MSG_PROGRAM_GIVEN_UP},
        {"Done", "--seconds 0 --exit-code 3", {}, "0, 3", 1, MSG_PROGRAM_ENDED_DONE},
        {"NotDone", "--seconds 0 --exit-code 4", {{kRestartLimitValue, 1}}, "0, 3", 2, MSG_PROGRAM_GIVEN_UP},
        {"Steady", "--seconds 600", {{kRestartLimitValue, 1}}, "", 0, 0},
    };
    for (const auto& application : applications) {
        AddSleeper(application.name, application.args);
        SetApplicationValue(application.name, kRestartOnExitValue, 1);
        SetApplicationValue(application.name, kRestartDelayValue, 100);
        for (const auto& [value, data] : application.values) SetApplicationValue(application.name, value, data);
        if (*application.successExitCodes)
            WriteString(HKEY_LOCAL_MACHINE, kModules + "\\" + application.name, kSuccessExitCodesValue,
                        application.successExitCodes);
    }
    EventTrace trace;
    Start();
    for (const auto& application : applications) {
        if (application.runs == 0) continue;
        SCOPED_TRACE(application.name);
        ASSERT_TRUE(trace.WaitFor(application.lastEvent, application.name));
        EXPECT_EQ(Runs(application.name), application.runs);
        const std::vector<TracedEvent> exits = ExitsOf(trace, application.name);
        EXPECT_EQ(exits.size() + 1, application.runs);  // the restarts before the last exit
    }
    const std::vector<TracedEvent> givenUp = EventsWithId(trace, MSG_PROGRAM_GIVEN_UP);
    ASSERT_EQ(givenUp.size(), 2u);
    for (const auto& event : givenUp) {
        if (event.strings[0] != "Crasher") continue;
        EXPECT_EQ(event.strings, (std::vector<std::string>{"Crasher", event.strings[1], "0xC0000005", "3", "10000 ms"}));
        const auto runs = RunsOf("Crasher");
        EXPECT_TRUE(std::any_of(runs.begin(), runs.end(), [&](const auto& run) {
            return std::to_string(run.pid) == event.strings[1];
        }));
    }
    // Nothing else is given up, and the service runs on; the status says which one was.
    Sleep(1000);
    EXPECT_EQ(Runs("Crasher"), 4u);
    std::map<std::string, std::string> states;
    for (const auto& one : ReadLiveStatus(ServiceKeys::ForService(kService)).instances)
        states[one.application] = one.state + " " + std::to_string(one.restarts);
    EXPECT_EQ(states, (std::map<std::string, std::string>{{"Crasher", "given up 3"}, {"Done", "ended 0"},
                                                           {"NotDone", "given up 1"}, {"Steady", "running 0"}}));
    ASSERT_EQ(RunsOf("Steady").size(), 1u);
    EXPECT_TRUE(IsProcessAlive(RunsOf("Steady")[0].pid));
    EXPECT_EQ(ServiceStatus().dwCurrentState, SERVICE_RUNNING);
    Stop();

    // Asked for, giving up stops the service with its own exit code, for the recovery actions;
    // the stop ends the other programs as any stop does.
    SetApplicationValue("NotDone", kStopServiceOnGiveUpValue, 1);
    reports.Clear();
    Start();
    ASSERT_TRUE(Eventually([] { return ServiceStatus().dwCurrentState == SERVICE_STOPPED; }, 30000));
    const SERVICE_STATUS stopped = ServiceStatus();
    EXPECT_EQ(stopped.dwWin32ExitCode, static_cast<DWORD>(ERROR_SERVICE_SPECIFIC_ERROR));
    EXPECT_EQ(stopped.dwServiceSpecificExitCode, 1u);
    EXPECT_TRUE(Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }, 10000));
}

TEST_F(SupervisionTest, TheLiveStatusFollowsEveryInstanceThroughExitRestartPauseContinueAndStop) {
    const std::string marker = reports.path() + "\\flaky.marker";
    DeleteFileA(marker.c_str());
    AddApplication("Pair", 2, sleeper, "--seconds 600 --report " + reports.path() + " --tag Pair");
    // Ends with code 5 after a second, then runs for ever once restarted.
    AddSleeper("Flaky", "--seconds 1 --exit-code 5 --marker " + marker);
    SetApplicationValue("Flaky", kRestartOnExitValue, 1);
    SetApplicationValue("Flaky", kRestartDelayValue, 100);
    SetSetting("TerminateOnPause", 1);
    SetSetting("RelaunchOnContinue", 1);
    const ServiceKeys keys = ServiceKeys::ForService(kService);
    // What the status lists, as "Application#instance state pid restarts lastExit", with every
    // listed program's process checked against the running ones.
    const auto listed = [&] {
        std::vector<std::string> lines;
        const std::vector<DWORD> running = ProcessIdsNamed("sleeper.exe");
        for (const auto& one : ReadLiveStatus(keys).instances) {
            const bool alive = std::find(running.begin(), running.end(), one.processId) != running.end();
            lines.push_back(one.application + "#" + std::to_string(one.instance) + " " + one.state + " " +
                            (alive ? "alive" : "gone") + " " + std::to_string(one.restarts) + " " +
                            (one.lastExitCode ? std::to_string(*one.lastExitCode) : "-"));
        }
        return lines;
    };
    Start();
    const std::vector<std::string> afterRestart = {"Flaky#1 running alive 1 5", "Pair#1 running alive 0 -",
                                                   "Pair#2 running alive 0 -"};
    EXPECT_TRUE(Eventually([&] { return listed() == afterRestart; }, 20000)) << testing::PrintToString(listed());
    const LiveStatus running = ReadLiveStatus(keys);
    EXPECT_EQ(running.state, static_cast<DWORD>(SERVICE_RUNNING));
    EXPECT_EQ(ProcessIdsNamed("corvane.exe"), std::vector<DWORD>{running.processId});
    ASSERT_TRUE(Eventually([&] { return Runs("Flaky") == 2; }));
    const std::vector<SleeperReport> flakyRuns = RunsOf("Flaky");
    ASSERT_EQ(running.instances.size(), 3u);
    // The restarted one, as its report has it.
    EXPECT_TRUE(std::any_of(flakyRuns.begin(), flakyRuns.end(),
                            [&](const auto& run) { return run.pid == running.instances[0].processId; }));
    EXPECT_TRUE(IsProcessAlive(running.instances[0].processId));
    EXPECT_FALSE(running.instances[0].lastExit.empty());
    // The companion says the same, for tools.
    const CompanionRun shown = RunCompanion("status --json");
    ASSERT_EQ(shown.code, 0u) << shown.err;
    const nlohmann::json document = nlohmann::json::parse(shown.out);
    EXPECT_EQ(document["state"], "running");
    EXPECT_EQ(document["processId"], running.processId);
    EXPECT_EQ(document["applications"]["Pair"]["instances"].size(), 2u);
    const nlohmann::json& flaky = document["applications"]["Flaky"]["instances"][0];
    EXPECT_EQ(flaky["state"], "running");
    EXPECT_EQ(flaky["restarts"], 1);
    EXPECT_EQ(flaky["lastExitCode"], 5);
    EXPECT_EQ(flaky["processId"], running.instances[0].processId);

    // The pause terminates them (with exit code 0).
    Control(SERVICE_CONTROL_PAUSE, SERVICE_PAUSED);
    EXPECT_TRUE(Eventually([&] {
        return listed() == std::vector<std::string>{"Flaky#1 ended gone 1 0", "Pair#1 ended gone 0 0",
                                                    "Pair#2 ended gone 0 0"};
    })) << testing::PrintToString(listed());
    EXPECT_EQ(ReadLiveStatus(keys).state, static_cast<DWORD>(SERVICE_PAUSED));

    // The continue's pass starts a fresh set, counted afresh.
    Control(SERVICE_CONTROL_CONTINUE, SERVICE_RUNNING);
    EXPECT_TRUE(Eventually([&] {
        return listed() == std::vector<std::string>{"Flaky#1 running alive 0 -", "Pair#1 running alive 0 -",
                                                    "Pair#2 running alive 0 -"};
    })) << testing::PrintToString(listed());
    Stop();
    EXPECT_FALSE(ReadLiveStatus(keys).published);
    const CompanionRun stopped = RunCompanion("status");
    EXPECT_EQ(stopped.code, 0u);
    EXPECT_EQ(stopped.out, "Corvane: stopped\n");
}

TEST_F(SupervisionTest, TerminateProcessTreeEndsTheProcessesAProgramStartedWithIt) {
    // The program starts a child, which starts a grandchild; all three report, and the two
    // below hold the program's output pipe open for as long as they run.
    AddSleeper("Tree", "--children 2 --inherit");
    WriteString(HKEY_LOCAL_MACHINE, kModules + "\\Tree", kStdoutPathValue, logs + "\\tree.log");
    const struct {
        const char* what;
        DWORD terminateProcessTree;
        bool descendantsSurvive;
    } cases[] = {{"on", 1, false}, {"off", 0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        reports.Clear();
        SetSetting(kTerminateProcessTreeValue, c.terminateProcessTree);
        EventTrace trace;
        Start();
        ASSERT_TRUE(Eventually([&] { return reports.Reports().size() == 3; }));
        const std::vector<SleeperReport> tracked = RunsOf("Tree");
        ASSERT_EQ(tracked.size(), 1u);
        Stop();

        EXPECT_TRUE(Eventually([&] { return !IsProcessAlive(tracked[0].pid); }, 10000));
        std::size_t descendants = 0;
        for (const auto& report : reports.Reports()) {
            if (report.pid == tracked[0].pid) continue;
            ++descendants;
            if (c.descendantsSurvive)
                EXPECT_TRUE(IsProcessAlive(report.pid)) << report.commandLine;
            else
                EXPECT_TRUE(Eventually([&] { return !IsProcessAlive(report.pid); }, 10000)) << report.commandLine;
        }
        EXPECT_EQ(descendants, 2u);
        // Every program joined the job: nothing to report.
        EXPECT_TRUE(EventsWithId(trace, MSG_JOB_NOT_JOINED).empty());
        // The stop waited for the pipe that its survivors hold only up to its bound, and said so.
        const std::vector<TracedEvent> drains = EventsWithId(trace, MSG_LOG_DRAIN_INCOMPLETE);
        ASSERT_EQ(drains.size(), c.descendantsSurvive ? std::size_t{1} : std::size_t{0});
        if (!drains.empty()) {
            EXPECT_EQ(drains[0].strings, (std::vector<std::string>{"1", "5000"}));
        }
        KillProcessesNamed("sleeper.exe");
    }
}

TEST_F(SupervisionTest, OutputGoesToLogsThatAppendAcrossRunsAndLosesNothingAtTheStop) {
    std::filesystem::remove_all(logs);
    const std::string both = logs + "\\new folder\\both.log";
    const struct {
        const char* name;
        DWORD instances;
        std::string args, stdoutPath, stderrPath;
    } applications[] = {
        // A burst far beyond what the pipe holds, stopped as soon as it has been written.
        {"Both", 1, "--print 2000 --print-err 2000 --line-bytes 100", both, both},
        {"Split", 1, "--print 3 --print-err 2", logs + "\\split-out.log", logs + "\\split-err.log"},
        {"ErrorOnly", 1, "--print 3 --print-err 2", "", logs + "\\error.txt"},
        {"Twice", 2, "--print 5", logs + "\\twice.log", ""},
        // A folder: never written, and the program is not held up by its output.
        {"Unwritable", 1, "--print 2000 --line-bytes 100", logs, ""},
    };
    for (const auto& application : applications) {
        AddSleeper(application.name, application.args);
        const std::string key = kModules + "\\" + application.name;
        SetApplicationValue(application.name, "Instances", application.instances);
        if (!application.stdoutPath.empty()) WriteString(HKEY_LOCAL_MACHINE, key, kStdoutPathValue, application.stdoutPath);
        if (!application.stderrPath.empty()) WriteString(HKEY_LOCAL_MACHINE, key, kStderrPathValue, application.stderrPath);
    }
    // What each log holds of one run of its program: its first lines to standard output and error.
    const struct {
        std::string path;
        const char* application;
        unsigned out, err;
    } files[] = {{both, "Both", 2000, 2000}, {logs + "\\split-out.log", "Split", 3, 0},
                 {logs + "\\split-err.log", "Split", 0, 2}, {logs + "\\error.txt", "ErrorOnly", 0, 2}};
    EventTrace trace;
    std::map<std::string, std::vector<std::string>> expected;  // by path, over the runs so far
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE(run);
        reports.Clear();
        Start();
        ASSERT_TRUE(Eventually([&] { return reports.Reports().size() == 6; }, 60000));
        Stop();
        // Each run's lines follow the last run's, whole and in the order written.
        for (const auto& file : files) {
            const std::vector<SleeperReport> runs = RunsOf(file.application);
            ASSERT_EQ(runs.size(), 1u);
            const std::vector<std::string> lines = PrintedBy(runs[0].pid, file.out, file.err);
            expected[file.path].insert(expected[file.path].end(), lines.begin(), lines.end());
            EXPECT_EQ(LinesOf(file.path), expected[file.path]) << file.path;
        }
        // Each instance has its own file.
        std::set<DWORD> twice;
        for (const std::string& path : {logs + "\\twice.log", logs + "\\twice-2.log"}) {
            const std::vector<std::string> lines = LinesOf(path);
            ASSERT_EQ(lines.size(), 5u * run) << path;
            const DWORD pid = std::stoul(lines[5 * (run - 1)]);
            twice.insert(pid);
            EXPECT_EQ(std::vector<std::string>(lines.end() - 5, lines.end()), PrintedBy(pid, 5, 0)) << path;
        }
        std::set<DWORD> started;
        for (const auto& report : RunsOf("Twice")) started.insert(report.pid);
        EXPECT_EQ(twice, started);
    }
    // The folder was reported once, at the first start, naming the path; nothing else was.
    const std::vector<TracedEvent> failures = EventsWithId(trace, MSG_LOG_NOT_WRITTEN);
    ASSERT_EQ(failures.size(), 2u);  // one per start of the service
    for (const auto& failure : failures) {
        EXPECT_EQ(failure.type, EVENTLOG_WARNING_TYPE);
        ASSERT_EQ(failure.strings.size(), 3u);
        EXPECT_EQ(failure.strings[0], "Unwritable");
        EXPECT_EQ(failure.strings[1], logs);
        EXPECT_FALSE(failure.strings[2].empty());
    }
    EXPECT_TRUE(EventsWithId(trace, MSG_LOG_DRAIN_INCOMPLETE).empty());
}

TEST_F(SupervisionTest, LogsRotateAreStampedAndBegunAgainWhenDeletedWhileTheProgramWrites) {
    std::filesystem::remove_all(logs);
    const struct {
        const char* name;
        std::string args;
        DWORD bytes, seconds;
        std::optional<DWORD> keep;
        std::size_t rotatedFiles;  // at the end (0: at least 2)
        unsigned printed, linesKept;  // in all files: the last ones printed
    } applications[] = {
        {"BySize", "--print 1000 --line-bytes 100", 20000, 0, 0, 4, 1000, 1000},
        {"Kept", "--print 1000 --line-bytes 100", 20000, 0, 2, 2, 1000, 600},
        {"ByAge", "--print 30 --rate 10", 0, 1, std::nullopt, 0, 30, 30},
    };
    for (const auto& application : applications) {
        AddSleeper(application.name, application.args);
        WriteString(HKEY_LOCAL_MACHINE, kModules + "\\" + application.name, kStdoutPathValue,
                    logs + "\\" + application.name + ".log");
        SetApplicationValue(application.name, kLogRotateBytesValue, application.bytes);
        SetApplicationValue(application.name, kLogRotateSecondsValue, application.seconds);
        if (application.keep) SetApplicationValue(application.name, kLogRotateKeepValue, *application.keep);
    }
    // Lines of 40000 bytes, each stamped and cut in three.
    AddSleeper("Stamped", "--print 3 --line-bytes 40000");
    WriteString(HKEY_LOCAL_MACHINE, kModules + "\\Stamped", kStdoutPathValue, logs + "\\stamped.log");
    SetApplicationValue("Stamped", kLogTimestampsValue, 1);
    // Deleted while it is written: begun again with what came after.
    const std::string slow = logs + "\\slow.log";
    AddSleeper("Slow", "--print 60 --rate 20");
    WriteString(HKEY_LOCAL_MACHINE, kModules + "\\Slow", kStdoutPathValue, slow);
    SYSTEMTIME today{};
    GetSystemTime(&today);
    Start();
    ASSERT_TRUE(Eventually([&] { return LinesOf(slow).size() >= 5; }));
    ASSERT_TRUE(DeleteFileA(slow.c_str())) << GetLastError();
    ASSERT_TRUE(Eventually([&] { return reports.Reports().size() == 5; }));
    Stop();
    const std::vector<std::string> slowLines = LinesOf(slow), slowPrinted = PrintedBy(RunsOf("Slow").at(0).pid, 60, 0);
    EXPECT_TRUE(slowLines.size() > 5 && slowLines.size() < 60) << slowLines.size();
    EXPECT_EQ(slowLines, std::vector<std::string>(slowPrinted.end() - slowLines.size(), slowPrinted.end()));
    {
        std::ifstream file(logs + "\\stamped.log", std::ios::binary);
        const std::string text{std::istreambuf_iterator<char>(file), {}};
        std::string contents, expected;
        std::size_t pieces = 0;
        for (std::size_t at = 0, end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2, ++pieces) {
            const std::string piece = text.substr(at, end - at);
            ASSERT_GT(piece.size(), 25u);
            EXPECT_TRUE(piece.compare(0, 5, std::to_string(today.wYear) + "-") == 0 && piece[10] == 'T' &&
                        piece[19] == '.' && piece.compare(23, 2, "Z ") == 0) << piece.substr(0, 30);
            EXPECT_LE(piece.size() - 25, 16384u);
            contents += piece.substr(25);
        }
        EXPECT_EQ(pieces, 9u);
        for (const std::string& line : PrintedBy(RunsOf("Stamped").at(0).pid, 3, 0))
            expected += line + std::string(40000 - 2 - line.size(), 'x');
        EXPECT_EQ(contents, expected);
    }
    for (const auto& application : applications) {
        SCOPED_TRACE(application.name);
        const std::string logName = std::string(application.name) + ".log";
        std::map<std::string, std::string> files;  // the rotated ones from oldest to newest, then the log
        for (const auto& entry : std::filesystem::directory_iterator(logs)) {
            std::string order;
            if (IsRotatedName(logName, entry.path().filename().string(), order)) files.emplace(order, entry.path().string());
        }
        EXPECT_TRUE(application.rotatedFiles ? files.size() == application.rotatedFiles : files.size() >= 2) << files.size();
        files.emplace("~", logs + "\\" + logName);
        std::vector<std::string> lines;
        for (const auto& [order, path] : files) {
            if (application.bytes) {
                EXPECT_LE(std::filesystem::file_size(path), application.bytes) << path;
            }
            const std::vector<std::string> more = LinesOf(path);
            lines.insert(lines.end(), more.begin(), more.end());
        }
        const std::vector<std::string> printed = PrintedBy(RunsOf(application.name).at(0).pid, application.printed, 0);
        EXPECT_EQ(lines, std::vector<std::string>(printed.end() - application.linesKept, printed.end()));
    }
}

}  // namespace
