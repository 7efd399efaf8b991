// Launch benchmark: the service's launch pass and its stop against a plain program doing the
// same system calls, side by side under the same Wine in one run.
//
// Start: from the request (StartService / starting the baseline program) until all N sleepers
// run, i.e. each has written its report. Stop: from the request (the service's stop control /
// the benchmark's own TerminateProcess calls) until no sleeper is left, with the service
// reported stopped. Each figure is the median of a few rounds.
#include "base/Owners.h"
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

Figures MeasureService(DWORD count, const ReportDirectory& reports) {
    reports.Clear();
    WriteDword(HKEY_LOCAL_MACHINE, kModules + "\\Bench", "Instances", count);
    Figures figures;
    auto started = Clock::now();
    if (!StartServiceNamed(kService)) return figures;
    if (!WaitUntil([&] { return reports.Count() == count; })) return figures;
    figures.start = MillisecondsSince(started);

    started = Clock::now();
    if (ControlServiceNamed(kService, SERVICE_CONTROL_STOP) &&
        WaitUntil([] { return QueryServiceState(kService) == SERVICE_STOPPED && NoSleeperLeft(); }))
        figures.stop = MillisecondsSince(started);
    WaitUntil([] { return QueryServiceState(kService) == SERVICE_STOPPED; });
    WaitUntil([] { return ProcessIdsNamed("corvane.exe").empty(); });
    KillProcessesNamed("sleeper.exe");
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
    RemoveService();
    return complete ? 0 : 1;
}
