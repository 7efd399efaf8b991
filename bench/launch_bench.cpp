// Launch benchmark: the service's launch pass and its stop against a plain program doing the
// same system calls, side by side under the same Wine in one run.
//
// Start: from the request (StartService / starting the baseline program) until all N sleepers
// run, i.e. each has written its report. Stop: from the request (the service's stop control /
// the benchmark's own TerminateProcess calls) until no sleeper is left, with the service
// reported stopped. Each figure is the median of a few rounds.
//
// Then the same pass of 100 programs with the live status published and without it.
//
// Then a supervised program (RestartOnExit 1, RestartDelay 0, so that only the service's own
// work is measured): its restart, from its exit until it runs again, beside its first start,
// from the service's start request until it runs.
#include "base/Owners.h"
#include "config/Application.h"
#include "config/ServiceSettings.h"
#include "support/SleeperReports.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kService = "Corvane";
const std::string kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Corvane";
const std::string kModules = kServiceKey + "\\Parameters\\Modules";
const std::string kEventSource = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvane";
const std::string kAppIdKey = std::string("AppID\\") + kAppIdText;

// Polls finely: the figures for one program are a few tens of milliseconds.
template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 120000) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() > end) return false;
        Sleep(2);
    }
    return true;
}

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

bool NoSleeperLeft() { return ProcessIdsNamed("sleeper.exe").empty(); }

void RemoveService() {
    StopAndDeleteService(kService);
    WaitUntil([] { return ProcessIdsNamed("corvane.exe").empty(); }, 30000);
    KillProcessesNamed("sleeper.exe");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kEventSource);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kAppIdKey);
}

struct Figures {
    double start = -1;
    double stop = -1;
};

Figures MeasureBaseline(DWORD count, const ReportDirectory& reports) {
    reports.Clear();
    const std::string command = BuildPath("bench\\spawn_baseline.exe") + " " + std::to_string(count) + " " +
                                BuildPath("sleeper.exe") + " --report " + reports.path();
    Figures figures;
    auto started = Clock::now();
    if (RunAndWait(command) != 0) return figures;
    if (!WaitUntil([&] { return reports.Count() == count; })) return figures;
    figures.start = MillisecondsSince(started);

    std::vector<SleeperReport> running = reports.Reports();
    started = Clock::now();
    for (const auto& report : running) {
        UniqueHandle process(OpenProcess(PROCESS_TERMINATE, FALSE, report.pid));
        if (process) TerminateProcess(process.get(), 0);
    }
    if (WaitUntil(NoSleeperLeft)) figures.stop = MillisecondsSince(started);
    KillProcessesNamed("sleeper.exe");
    return figures;
}

// Stops the service; the time until it is reported stopped with no sleeper left (-1: never),
// and then until it and every sleeper have gone.
double StopService() {
    double stopped = -1;
    const auto started = Clock::now();
    if (ControlServiceNamed(kService, SERVICE_CONTROL_STOP) &&
        WaitUntil([] { return QueryServiceState(kService) == SERVICE_STOPPED && NoSleeperLeft(); }))
        stopped = MillisecondsSince(started);
    WaitUntil([] { return QueryServiceState(kService) == SERVICE_STOPPED; });
    WaitUntil([] { return ProcessIdsNamed("corvane.exe").empty(); });
    KillProcessesNamed("sleeper.exe");
    return stopped;
}

Figures MeasureService(DWORD count, const ReportDirectory& reports) {
    reports.Clear();
    WriteDword(HKEY_LOCAL_MACHINE, kModules + "\\Bench", "Instances", count);
    Figures figures;
    auto started = Clock::now();
    if (!StartServiceNamed(kService)) return figures;
    if (!WaitUntil([&] { return reports.Count() == count; })) return figures;
    figures.start = MillisecondsSince(started);

    figures.stop = StopService();
    return figures;
}

struct RestartFigures {
    double firstStart = -1;
    double restart = -1;
};

// One service run of the supervised program, which ends after a second the first time only.
RestartFigures MeasureRestart(const ReportDirectory& reports, const std::string& marker) {
    reports.Clear();
    DeleteFileA(marker.c_str());
    RestartFigures figures;
    const auto started = Clock::now();
    if (StartServiceNamed(kService) && WaitUntil([&] { return reports.Count() == 1; })) {
        figures.firstStart = MillisecondsSince(started);
        const std::vector<SleeperReport> first = reports.Reports();
        UniqueHandle program(first.empty() ? nullptr : OpenProcess(SYNCHRONIZE, FALSE, first[0].pid));
        if (program && WaitForSingleObject(program.get(), 60000) == WAIT_OBJECT_0) {
            const auto ended = Clock::now();
            if (WaitUntil([&] { return reports.Count() == 2; })) figures.restart = MillisecondsSince(ended);
        }
    }
    (void)StopService();
    return figures;
}

}  // namespace

int main() {
    RemoveService();
    if (!CreateDemandService(kService, BuildPath("corvane.exe"))) {
        std::printf("cannot create the service\n");
        return 1;
    }
    WriteString(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService", kService);
    const std::string parameters = kServiceKey + "\\Parameters";
    WriteDword(HKEY_LOCAL_MACHINE, parameters, "EnableLaunch", 1);
    WriteDword(HKEY_LOCAL_MACHINE, parameters, "EnableTrayIcon", 0);
    WriteDword(HKEY_LOCAL_MACHINE, parameters, "TerminateOnStop", 1);
    ReportDirectory reports("bench");
    const std::string app = kModules + "\\Bench";
    WriteString(HKEY_LOCAL_MACHINE, app, "ExePath", BuildPath("sleeper.exe"));
    WriteString(HKEY_LOCAL_MACHINE, app, "CmdLineArgs", "--report " + reports.path());
    WriteDword(HKEY_LOCAL_MACHINE, app, "Attrib", SW_SHOWNORMAL);

    // One warm-up of each, so that neither side pays for the first load of the programs.
    (void)MeasureBaseline(1, reports);
    (void)MeasureService(1, reports);

    bool complete = true;
    std::printf("%6s  %12s %12s %7s   %12s %12s %7s\n", "N", "start base", "start svc", "ratio", "stop base",
                "stop svc", "ratio");
    for (DWORD count : {1u, 10u, 100u}) {
        const int rounds = count >= 100 ? 3 : 5;
        std::vector<double> baseStart, baseStop, svcStart, svcStop;
        for (int round = 0; round < rounds; ++round) {
            // Alternate the order so that neither side always runs on a machine just tidied.
            Figures base, service;
            if (round % 2 == 0) {
                base = MeasureBaseline(count, reports);
                service = MeasureService(count, reports);
            } else {
                service = MeasureService(count, reports);
                base = MeasureBaseline(count, reports);
            }
            if (base.start < 0 || base.stop < 0 || service.start < 0 || service.stop < 0) {
                std::printf("N=%lu round %d failed (base %.0f/%.0f, service %.0f/%.0f)\n", count, round, base.start,
                            base.stop, service.start, service.stop);
                complete = false;
                continue;
            }
            baseStart.push_back(base.start);
            baseStop.push_back(base.stop);
            svcStart.push_back(service.start);
            svcStop.push_back(service.stop);
        }
        if (baseStart.empty()) continue;
        const double bs = Median(baseStart), ss = Median(svcStart), bt = Median(baseStop), st = Median(svcStop);
        std::printf("%6lu  %10.1fms %10.1fms %7.2f   %10.1fms %10.1fms %7.2f\n", count, bs, ss, ss / bs, bt, st,
                    st / bt);
        std::fflush(stdout);
    }

    // The cost of publishing the live status: the pass of 100 programs with it and without it,
    // alternating.
    {
        std::vector<double> published, unpublished;
        for (int round = 0; round < 6; ++round) {
            const bool publish = round % 2 == 0;
            WriteDword(HKEY_LOCAL_MACHINE, parameters, "PublishStatus", publish ? 1 : 0);
            const Figures figures = MeasureService(100, reports);
            if (figures.start < 0) {
                std::printf("status round %d failed\n", round);
                complete = false;
                continue;
            }
            (publish ? published : unpublished).push_back(figures.start);
        }
        RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, parameters.c_str(), "PublishStatus");
        if (!published.empty() && !unpublished.empty()) {
            const double on = Median(published), off = Median(unpublished);
            std::printf("\n100 programs, start with the live status %.1fms, without %.1fms, ratio %.3f\n", on, off,
                        on / off);
        }
    }

    WriteDword(HKEY_LOCAL_MACHINE, app, "Instances", 0);
    const std::string supervised = kModules + "\\Supervised";
    const std::string marker = reports.path() + "\\restarted.marker";
    WriteString(HKEY_LOCAL_MACHINE, supervised, "ExePath", BuildPath("sleeper.exe"));
    WriteString(HKEY_LOCAL_MACHINE, supervised, "CmdLineArgs",
                "--report " + reports.path() + " --seconds 1 --exit-code 3 --marker " + marker);
    WriteDword(HKEY_LOCAL_MACHINE, supervised, "Attrib", SW_SHOWNORMAL);
    WriteDword(HKEY_LOCAL_MACHINE, supervised, "Instances", 1);
    WriteDword(HKEY_LOCAL_MACHINE, supervised, kRestartOnExitValue, 1);
    WriteDword(HKEY_LOCAL_MACHINE, supervised, kRestartDelayValue, 0);
    std::vector<double> firstStarts, restarts;
    for (int round = 0; round < 7; ++round) {
        const RestartFigures figures = MeasureRestart(reports, marker);
        if (figures.firstStart < 0 || figures.restart < 0) {
            std::printf("restart round %d failed (first start %.0f, restart %.0f)\n", round, figures.firstStart,
                        figures.restart);
            complete = false;
            continue;
        }
        firstStarts.push_back(figures.firstStart);
        restarts.push_back(figures.restart);
    }
    if (!restarts.empty()) {
        const double first = Median(firstStarts), restart = Median(restarts);
        std::printf("\nsupervised program: first start %.1fms, restart after its exit %.1fms, ratio %.2f\n", first,
                    restart, restart / first);
    }
    RemoveService();
    return complete ? 0 : 1;
}
