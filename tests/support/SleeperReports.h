// The reports that tools/sleeper.exe writes about how it was started, read back by the tests
// and the benchmark.
#pragma once
#include <windows.h>
#include <map>
#include <string>
#include <vector>

struct SleeperReport {
    DWORD pid = 0;
    std::string commandLine;
    DWORD show = 0;
    DWORD flags = 0;
    std::string directory;
};

// A directory below the build folder, empty when made and removed with its reports at the end.
class ReportDirectory {
public:
    explicit ReportDirectory(const std::string& name);
    ~ReportDirectory();
    ReportDirectory(const ReportDirectory&) = delete;
    ReportDirectory& operator=(const ReportDirectory&) = delete;

    const std::string& path() const { return path_; }
    // The complete reports written so far, in no particular order.
    std::vector<SleeperReport> Reports() const;
    std::size_t Count() const;
    // How the sleepers that were asked to end met the request ("close", "ctrl-c"), by pid.
    std::map<DWORD, std::string> Endings() const;
    void Clear() const;

private:
    std::string path_;
};

// Parses one report file's text; pid 0 when it is not a report.
SleeperReport ParseSleeperReport(const std::string& text);

// Whether the process with this id is still running.
bool IsProcessAlive(DWORD pid);
