// Log benchmark: program output through the service's logs against the same program handed a
// file as its standard output (the floor), under the same Wine in one run.
//
// Throughput: the sleeper prints 256 MiB (or the MiB given as the first argument) of 100-byte
// lines as fast as it can, once a write per line and once gathered into 4 KiB writes as a C
// runtime's buffered output does; the floor's time runs from its creation to its exit, the
// service's from the start request until the log holds every byte. Beside them, the same
// program's output through a plain anonymous pipe that a thread of the benchmark reads with
// blocking reads into a file: what a pipe itself costs on this system. Then 100 programs at
// once, 2.56 MiB each (256 MiB in all), each with its own file.
// Working set: the service's peak while the 100 print, against the service running the same
// 100 programs without logs. Delay: a program prints a line every 50 ms with the time it wrote
// it; the benchmark watches the log and takes the time it sees each line.
#include "base/Owners.h"
#include "config/Application.h"
#include "support/ServiceFixture.h"
#include "support/SleeperReports.h"
#include "support/TestSupport.h"

#include <psapi.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

const std::string kApplication = kModules + "\\Logged";
unsigned long long kTotalBytes = 256ull << 20;  // or the MiB given as the first argument
constexpr DWORD kLineBytes = 100;

template <typename Condition>
bool WaitUntil(Condition condition, DWORD timeoutMs = 600000, DWORD pollMs = 5) {
    const auto end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!condition()) {
        if (Clock::now() > end) return false;
        Sleep(pollMs);
    }
    return true;
}

double SecondsSince(Clock::time_point start) { return std::chrono::duration<double>(Clock::now() - start).count(); }

unsigned long long FileBytes(const std::string& path) {
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExA(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<unsigned long long>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

std::string PrintArgs(unsigned long long bytes, DWORD writeBytes, const ReportDirectory& reports) {
    return "--print " + std::to_string(bytes / kLineBytes) + " --line-bytes " + std::to_string(kLineBytes) +
           " --write-bytes " + std::to_string(writeBytes) + " --report " + reports.path();
}

// What one copier thread copies from a pipe into a file.
struct Copy {
    HANDLE pipe = nullptr;
    HANDLE file = nullptr;
    unsigned long long bytes = 0;  // it ends once it has copied these, or when every writer has gone
};

DWORD WINAPI CopyPipe(void* argument) {
    Copy& copy = *static_cast<Copy*>(argument);
    std::vector<char> buffer(64 * 1024);
    DWORD read = 0, written = 0;
    for (unsigned long long copied = 0; copied < copy.bytes; copied += read)
        if (!ReadFile(copy.pipe, buffer.data(), static_cast<DWORD>(buffer.size()), &read, nullptr) || read == 0 ||
            !WriteFile(copy.file, buffer.data(), read, &written, nullptr))
            break;
    return 0;
}

// The service as the end-to-end tests make and remove it.
struct Service : ProductServiceTest {
    using ProductServiceTest::CreateProductService;
    using ProductServiceTest::RemoveProductService;
    using ProductServiceTest::SetSetting;
};

// count sleepers, each with its standard output handed a file of its own, or (piped) a pipe that
// a thread of this program copies into that file; seconds until all ended, or (piped) until
// every file holds all that its program printed (a program that Wine keeps from ending after
// that is ended then).
double Floor(DWORD count, unsigned long long bytesEach, DWORD writeBytes, bool piped, const std::string& folder,
             const ReportDirectory& reports) {
    reports.Clear();
    SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
    std::vector<UniqueHandle> processes, files, pipes, copiers;
    std::vector<Copy> copied(count);
    const auto started = Clock::now();
    for (DWORD i = 0; i < count; ++i) {
        files.emplace_back(CreateFileA((folder + "\\floor-" + std::to_string(i) + ".log").c_str(), GENERIC_WRITE,
                                       FILE_SHARE_READ, &inherit, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        UniqueHandle programEnd;
        if (piped) {
            HANDLE read = nullptr, write = nullptr;
            if (!CreatePipe(&read, &write, &inherit, 0)) return -1;
            SetHandleInformation(read, HANDLE_FLAG_INHERIT, 0);
            pipes.emplace_back(read);
            programEnd.reset(write);
        }
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdOutput = piped ? programEnd.get() : files.back().get();
        std::string line = "\"" + BuildPath("sleeper.exe") + "\" " + PrintArgs(bytesEach, writeBytes, reports) + " --seconds 0";
        PROCESS_INFORMATION created{};
        // With a console of its own, as the service starts every program.
        if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, TRUE, CREATE_NEW_CONSOLE, nullptr, nullptr, &startup,
                            &created))
            return -1;
        CloseHandle(created.hThread);
        processes.emplace_back(created.hProcess);
        if (piped) {
            programEnd.reset();  // the pipe ends when the program's end is gone
            copied[i] = {pipes.back().get(), files.back().get(), bytesEach / kLineBytes * kLineBytes};
            copiers.emplace_back(CreateThread(nullptr, 0, CopyPipe, &copied[i], 0, nullptr));
        }
    }
    for (const auto& copier : copiers) WaitForSingleObject(copier.get(), INFINITE);
    if (piped) {
        const double seconds = SecondsSince(started);
        for (const auto& process : processes) TerminateProcess(process.get(), 0);
        return seconds;
    }
    for (const auto& process : processes) WaitForSingleObject(process.get(), INFINITE);
    return SecondsSince(started);
}

SIZE_T WorkingSet(DWORD pid) {
    UniqueHandle process(OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, pid));
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof counters;
    return process && GetProcessMemoryInfo(process.get(), &counters, sizeof counters) ? counters.WorkingSetSize : 0;
}

void DeleteLogs(const std::string& folder, DWORD count) {
    for (DWORD i = 1; i <= count; ++i)
        DeleteFileA((folder + (i == 1 ? "\\svc.log" : "\\svc-" + std::to_string(i) + ".log")).c_str());
}

struct ServiceRun {
    double seconds = -1;
    SIZE_T peakWorkingSet = 0;
};

// The service runs count instances that print bytesEach each (logged to folder\svc.log when
// logged); until every log is complete (or, unlogged, every program runs), sampling its working set.
ServiceRun RunService(DWORD count, unsigned long long bytesEach, DWORD writeBytes, bool logged,
                      const std::string& folder, const ReportDirectory& reports) {
    reports.Clear();
    DeleteLogs(folder, count);
    WriteDword(HKEY_LOCAL_MACHINE, kApplication, "Instances", count);
    WriteString(HKEY_LOCAL_MACHINE, kApplication, "CmdLineArgs", PrintArgs(bytesEach, writeBytes, reports));
    if (logged) WriteString(HKEY_LOCAL_MACHINE, kApplication, kStdoutPathValue, folder + "\\svc.log");
    else (void)RegDeleteKeyValueA(HKEY_LOCAL_MACHINE, kApplication.c_str(), kStdoutPathValue);
    ServiceRun run;
    const auto started = Clock::now();
    if (!StartServiceNamed(kService)) return run;
    DWORD pid = 0;
    const bool done = WaitUntil([&] {
        if (pid == 0) {
            const std::vector<DWORD> pids = ProcessIdsNamed("corvane.exe");
            if (!pids.empty()) pid = pids[0];
        }
        if (pid) run.peakWorkingSet = std::max(run.peakWorkingSet, WorkingSet(pid));
        if (reports.Count() < count) return false;
        for (DWORD i = 1; logged && i <= count; ++i) {
            const std::string path = folder + (i == 1 ? "\\svc.log" : "\\svc-" + std::to_string(i) + ".log");
            if (FileBytes(path) < bytesEach / kLineBytes * kLineBytes) return false;
        }
        return true;
    }, 600000, 20);
    if (done) run.seconds = SecondsSince(started);
    if (!logged) {
        Sleep(500);
        run.peakWorkingSet = std::max(run.peakWorkingSet, WorkingSet(pid));
    }
    ControlServiceNamed(kService, SERVICE_CONTROL_STOP);
    WaitUntil([] { return ProcessIdsNamed("corvane.exe").empty(); }, 60000);
    KillProcessesNamed("sleeper.exe");
    DeleteLogs(folder, count);
    return run;
}

// The delays from the program's write to the line's appearance in its log, in milliseconds.
std::vector<double> Delays(const std::string& folder, const ReportDirectory& reports) {
    reports.Clear();
    const std::string log = folder + "\\delay.log";
    DeleteFileA(log.c_str());
    WriteDword(HKEY_LOCAL_MACHINE, kApplication, "Instances", 1);
    WriteString(HKEY_LOCAL_MACHINE, kApplication, "CmdLineArgs", "--print 100 --rate 20 --write-times --report " + reports.path());
    WriteString(HKEY_LOCAL_MACHINE, kApplication, kStdoutPathValue, log);
    std::vector<double> delays;
    if (!StartServiceNamed(kService)) return delays;
    std::size_t seen = 0;
    WaitUntil([&] {
        std::ifstream file(log, std::ios::binary);
        FILETIME now{};
        GetSystemTimeAsFileTime(&now);
        const unsigned long long at = (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
        std::size_t index = 0;
        for (std::string line; std::getline(file, line); ++index)
            if (index >= seen && !line.empty() && line.back() == '\r') {
                delays.push_back((at - std::stoull(line)) / 10000.0);
                seen = index + 1;
            }
        return seen >= 100;
    }, 60000, 1);
    ControlServiceNamed(kService, SERVICE_CONTROL_STOP);
    WaitUntil([] { return ProcessIdsNamed("corvane.exe").empty(); }, 60000);
    return delays;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::atoi(argv[1]) > 0) kTotalBytes = static_cast<unsigned long long>(std::atoi(argv[1])) << 20;
    Service::RemoveProductService();
    Service::CreateProductService();
    Service::SetSetting("TerminateOnStop", 1);
    ReportDirectory reports("log-bench");
    const std::string folder = BuildPath("log-bench");
    CreateDirectoryA(folder.c_str(), nullptr);
    WriteString(HKEY_LOCAL_MACHINE, kApplication, "ExePath", BuildPath("sleeper.exe"));
    WriteDword(HKEY_LOCAL_MACHINE, kApplication, "Attrib", SW_SHOWNORMAL);

    bool complete = true;
    // "start" is the service's own time from the start request to every program running (the
    // same programs printing nothing): part of the service's time, none of the floor's.
    std::printf("%9s %8s %10s %9s %9s %9s %9s %9s %10s %10s\n", "programs", "write", "MiB each", "floor", "pipe",
                "service", "start", "MiB/s svc", "svc/floor", "svc/pipe");
    for (DWORD writeBytes : {0u, 4096u}) {
        for (DWORD count : {1u, 100u}) {
            const unsigned long long each = kTotalBytes / count;
            const double floor = Floor(count, each, writeBytes, false, folder, reports);
            const double pipe = Floor(count, each, writeBytes, true, folder, reports);
            const ServiceRun service = RunService(count, each, writeBytes, true, folder, reports);
            const ServiceRun quiet = RunService(count, 0, 0, false, folder, reports);
            for (DWORD i = 0; i < count; ++i) DeleteFileA((folder + "\\floor-" + std::to_string(i) + ".log").c_str());
            if (floor < 0 || pipe < 0 || service.seconds < 0 || quiet.seconds < 0) {
                std::printf("%lu program(s) failed (floor %.1f s, pipe %.1f s, service %.1f s, start %.1f s)\n", count,
                            floor, pipe, service.seconds, quiet.seconds);
                complete = false;
                continue;
            }
            std::printf("%9lu %8s %10.2f %8.2fs %8.2fs %8.2fs %8.2fs %9.1f %10.2f %10.2f\n", count,
                        writeBytes ? "4 KiB" : "line", each / 1048576.0, floor, pipe, service.seconds, quiet.seconds,
                        kTotalBytes / 1048576.0 / service.seconds, floor / service.seconds, pipe / service.seconds);
            if (count == 100 && writeBytes == 0)
                std::printf("service working set: %.1f MiB without logs, peak %.1f MiB with 100 logs: growth %.1f MiB\n",
                            quiet.peakWorkingSet / 1048576.0, service.peakWorkingSet / 1048576.0,
                            (static_cast<double>(service.peakWorkingSet) - quiet.peakWorkingSet) / 1048576.0);
            std::fflush(stdout);
        }
    }
    std::vector<double> delays = Delays(folder, reports);
    if (delays.empty()) {
        std::printf("delay: no line seen\n");
        complete = false;
    } else {
        std::sort(delays.begin(), delays.end());
        std::printf("write-to-file delay over %zu lines: median %.1f ms, 95%% %.1f ms, max %.1f ms\n", delays.size(),
                    delays[delays.size() / 2], delays[delays.size() * 95 / 100], delays.back());
    }
    Service::RemoveProductService();
    KillProcessesNamed("sleeper.exe");
    return complete ? 0 : 1;
}
