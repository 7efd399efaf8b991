// Start benchmark: what one service with one program costs the machine, beside the project's
// minimal service (bench/minimal_service.exe) as the floor, in one run, round-robin.
//
// For each start: start -> RUNNING (the service manager reports it), start -> program running
// (the sleeper has written its report), the CPU the service process used in the first 2 s, its
// working set after the idle seconds, the CPU it used over those idle seconds, and stop ->
// STOPPED. corvane.exe runs with EnableTrayIcon 1 and with 0. Prints the medians and the ratios
// to the floor. When the service notes its start phases (CORVANE_START_TIMINGS, see
// base/StartTimings.h) and the bench's environment names the same file, it also prints the
// median time of each phase after the process was created.
//
//   start_bench.exe [--rounds N] [--idle SECONDS]     (defaults: 10 rounds, 10 idle seconds)
#include "base/Owners.h"
#include "base/StartTimings.h"
#include "support/SleeperReports.h"
#include "support/TestSupport.h"
#include "Guids.h"

#include <psapi.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kService = "Corvane";
const std::string kFloor = "CorvaneFloor";
const std::string kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Corvane";
const std::string kParameters = kServiceKey + "\\Parameters";
const std::string kEventSource = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvane";
const std::string kAppIdKey = std::string("AppID\\") + kAppIdText;
constexpr DWORD kFirstCpuMs = 2000;

double MillisecondsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

void SleepUntil(Clock::time_point when) {
    const double left = -MillisecondsSince(when);
    if (left > 0) Sleep(static_cast<DWORD>(left));
}

double Median(std::vector<double> values) {
    if (values.empty()) return -1;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

SERVICE_STATUS_PROCESS QueryProcessStatus(const std::string& name) {
    SERVICE_STATUS_PROCESS status{};
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT));
    ServiceHandle service(manager ? OpenServiceA(manager.get(), name.c_str(), SERVICE_QUERY_STATUS) : nullptr);
    DWORD needed = 0;
    if (service)
        (void)QueryServiceStatusEx(service.get(), SC_STATUS_PROCESS_INFO, reinterpret_cast<BYTE*>(&status),
                                   sizeof status, &needed);
    return status;
}

double CpuMs(HANDLE process) {
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(process, &created, &exited, &kernel, &user)) return -1;
    auto ticks = [](const FILETIME& t) { return (static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime; };
    return (ticks(kernel) + ticks(user)) / 10000.0;
}

// The floor's binary path names the program it starts, with its arguments.
bool CreateFloorService(const std::string& arguments) {
    ServiceHandle manager(OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS));
    if (!manager) return false;
    const std::string command =
        "\"" + BuildPath("bench\\minimal_service.exe") + "\" \"" + BuildPath("sleeper.exe") + "\"" + arguments;
    ServiceHandle service(CreateServiceA(manager.get(), kFloor.c_str(), kFloor.c_str(), SERVICE_ALL_ACCESS,
                                         SERVICE_WIN32_OWN_PROCESS | SERVICE_INTERACTIVE_PROCESS,
                                         SERVICE_DEMAND_START, SERVICE_ERROR_NORMAL, command.c_str(), nullptr,
                                         nullptr, "RPCSS\0", nullptr, nullptr));
    return static_cast<bool>(service);
}

void RemoveServices() {
    StopAndDeleteService(kService);
    StopAndDeleteService(kFloor);
    Eventually([] { return ProcessIdsNamed("corvane.exe").empty() && ProcessIdsNamed("minimal_service.exe").empty(); },
               30000);
    KillProcessesNamed("sleeper.exe");
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kServiceKey);
    DeleteKeyTree(HKEY_LOCAL_MACHINE, kEventSource);
    DeleteKeyTree(HKEY_CLASSES_ROOT, kAppIdKey);
}

enum Figure { kRunning, kProgram, kStop, kFirstCpu, kWorkingSet, kIdleCpu, kFigureCount };
const char* const kFigureNames[kFigureCount] = {"start -> RUNNING (ms)",      "start -> program running (ms)",
                                                "stop -> STOPPED (ms)",       "CPU in the first 2 s (ms)",
                                                "working set after idle (MB)", "CPU over the idle s (ms)"};

struct Subject {
    const char* label;
    std::string service;
    DWORD trayIcon;  // EnableTrayIcon for corvane.exe; unused for the floor
    std::vector<double> figures[kFigureCount];
    // The measured starts: the process, and where its phases lie in the timings file (Wine
    // hands a process ID out again, so the ID alone would mix the subjects' phases).
    struct Start {
        DWORD processId;
        ULONGLONG from, to;
    };
    std::vector<Start> starts;
};

// The size of the start timings file, 0 when there is none.
ULONGLONG TimingsSize() {
    const char* path = std::getenv(kStartTimingsVariable);
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!path || !GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return 0;
    return (ULONGLONG{data.nFileSizeHigh} << 32) | data.nFileSizeLow;
}

// One start, idle and stop; false when a step did not happen.
bool Measure(Subject& subject, const ReportDirectory& reports, DWORD idleSeconds) {
    if (subject.service == kService) WriteDword(HKEY_LOCAL_MACHINE, kParameters, "EnableTrayIcon", subject.trayIcon);
    reports.Clear();
    double figures[kFigureCount];
    const ULONGLONG timingsFrom = TimingsSize();
    const auto started = Clock::now();
    if (!StartServiceNamed(subject.service)) return false;
    double running = -1, program = -1;
    while ((running < 0 || program < 0) && MillisecondsSince(started) < 60000) {
        if (running < 0 && QueryServiceState(subject.service) == SERVICE_RUNNING) running = MillisecondsSince(started);
        if (program < 0 && reports.Count() >= 1) program = MillisecondsSince(started);
        Sleep(1);
    }
    figures[kRunning] = running;
    figures[kProgram] = program;
    const DWORD processId = QueryProcessStatus(subject.service).dwProcessId;
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ | SYNCHRONIZE, FALSE, processId));
    SleepUntil(started + std::chrono::milliseconds(kFirstCpuMs));
    figures[kFirstCpu] = process ? CpuMs(process.get()) : -1;
    SleepUntil(started + std::chrono::milliseconds(kFirstCpuMs + idleSeconds * 1000));
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof memory;
    figures[kWorkingSet] = process && GetProcessMemoryInfo(process.get(), &memory, sizeof memory)
                               ? memory.WorkingSetSize / (1024.0 * 1024.0)
                               : -1;
    figures[kIdleCpu] = process ? CpuMs(process.get()) - figures[kFirstCpu] : -1;

    const auto stopping = Clock::now();
    figures[kStop] = -1;
    // Polled every millisecond, as the start is: the tests' 50 ms steps would round a stop up.
    if (ControlServiceNamed(subject.service, SERVICE_CONTROL_STOP))
        while (MillisecondsSince(stopping) < 30000) {
            if (QueryServiceState(subject.service) == SERVICE_STOPPED) {
                figures[kStop] = MillisecondsSince(stopping);
                break;
            }
            Sleep(1);
        }
    if (process) WaitForSingleObject(process.get(), 10000);
    Eventually([] { return ProcessIdsNamed("sleeper.exe").empty(); }, 10000);
    KillProcessesNamed("sleeper.exe");

    for (int figure = 0; figure < kFigureCount; ++figure)
        if (figures[figure] < 0) return false;
    for (int figure = 0; figure < kFigureCount; ++figure) subject.figures[figure].push_back(figures[figure]);
    subject.starts.push_back({processId, timingsFrom, TimingsSize()});
    return true;
}

// The median of each start phase that the subjects' processes noted, in the order noted.
void PrintStartPhases(const std::vector<Subject>& subjects) {
    const char* path = std::getenv(kStartTimingsVariable);
    std::ifstream file(path ? path : "", std::ios::binary);  // binary: tellg is the byte offset
    if (!file) return;
    struct Line {
        ULONGLONG offset;
        DWORD processId;
        double ms;
        std::string phase;
    };
    std::vector<Line> lines;
    for (std::string line;;) {
        const ULONGLONG offset = static_cast<ULONGLONG>(file.tellg());
        if (!std::getline(file, line)) break;
        std::istringstream fields(line);
        Line parsed{offset, 0, 0, {}};
        if (fields >> parsed.processId >> parsed.ms >> std::ws && std::getline(fields, parsed.phase)) {
            if (!parsed.phase.empty() && parsed.phase.back() == '\r') parsed.phase.pop_back();
            lines.push_back(std::move(parsed));
        }
    }
    std::printf("\nstart phases, ms after the process was created (medians)\n");
    for (const Subject& subject : subjects) {
        std::vector<std::string> order;
        std::map<std::string, std::vector<double>> values;
        for (const Subject::Start& start : subject.starts)
            for (const Line& line : lines) {
                if (line.processId != start.processId || line.offset < start.from || line.offset >= start.to) continue;
                if (values[line.phase].empty()) order.push_back(line.phase);
                values[line.phase].push_back(line.ms);
            }
        if (order.empty()) continue;
        std::printf("%s:\n", subject.label);
        for (const std::string& phase : order) std::printf("  %-28s %8.1f\n", phase.c_str(), Median(values[phase]));
    }
}

}  // namespace

int main(int argc, char** argv) {
    int rounds = 10;
    DWORD idleSeconds = 10;
    for (int i = 1; i + 1 < argc; i += 2) {
        if (!std::strcmp(argv[i], "--rounds")) rounds = std::atoi(argv[i + 1]);
        if (!std::strcmp(argv[i], "--idle")) idleSeconds = static_cast<DWORD>(std::atoi(argv[i + 1]));
    }

    RemoveServices();
    ReportDirectory reports("start-bench");
    const std::string arguments = " --report " + reports.path();
    if (!CreateDemandService(kService, BuildPath("corvane.exe")) || !CreateFloorService(arguments)) {
        std::printf("cannot create the services\n");
        return 1;
    }
    WriteString(HKEY_CLASSES_ROOT, kAppIdKey, "LocalService", kService);
    WriteDword(HKEY_LOCAL_MACHINE, kParameters, "EnableLaunch", 1);
    WriteDword(HKEY_LOCAL_MACHINE, kParameters, "TerminateOnStop", 1);
    const std::string app = kParameters + "\\Modules\\Bench";
    WriteString(HKEY_LOCAL_MACHINE, app, "ExePath", BuildPath("sleeper.exe"));
    WriteString(HKEY_LOCAL_MACHINE, app, "CmdLineArgs", arguments.substr(1));
    WriteDword(HKEY_LOCAL_MACHINE, app, "Attrib", SW_SHOWNORMAL);
    WriteDword(HKEY_LOCAL_MACHINE, app, "Instances", 1);

    std::vector<Subject> subjects = {{"minimal", kFloor, 0, {}, {}},
                                     {"tray 1", kService, 1, {}, {}},
                                     {"tray 0", kService, 0, {}, {}}};
    // One warm-up start each, unmeasured, so that no side pays for the first load of its files.
    for (Subject& subject : subjects) {
        (void)Measure(subject, reports, 0);
        for (auto& values : subject.figures) values.clear();
        subject.starts.clear();
    }

    bool complete = true;
    for (int round = 0; round < rounds; ++round) {
        // Round-robin: each round starts with the next subject.
        for (std::size_t i = 0; i < subjects.size(); ++i) {
            Subject& subject = subjects[(round + i) % subjects.size()];
            if (!Measure(subject, reports, idleSeconds)) {
                std::printf("round %d of %s failed\n", round, subject.label);
                complete = false;
            }
        }
        std::fflush(stdout);
    }

    std::printf("%d rounds, %lu idle seconds, medians\n", rounds, idleSeconds);
    std::printf("%-32s %10s %10s %7s %10s %7s\n", "", "minimal", "tray 1", "ratio", "tray 0", "ratio");
    for (int figure = 0; figure < kFigureCount; ++figure) {
        const double floor = Median(subjects[0].figures[figure]);
        const double tray1 = Median(subjects[1].figures[figure]), tray0 = Median(subjects[2].figures[figure]);
        auto ratio = [floor](double value) { return floor > 0 ? value / floor : 0.0; };
        std::printf("%-32s %10.1f %10.1f %7.2f %10.1f %7.2f\n", kFigureNames[figure], floor, tray1, ratio(tray1), tray0,
                    ratio(tray0));
    }
    PrintStartPhases(subjects);
    RemoveServices();
    return complete ? 0 : 1;
}
