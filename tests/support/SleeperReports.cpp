#include "support/SleeperReports.h"

#include "base/Owners.h"
#include "support/TestSupport.h"

#include <cstdlib>
#include <fstream>
#include <sstream>

namespace {

std::vector<std::string> ReportFiles(const std::string& directory, const char* pattern = "sleeper-*.txt") {
    std::vector<std::string> files;
    WIN32_FIND_DATAA found{};
    HANDLE search = FindFirstFileA((directory + "\\" + pattern).c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return files;
    do files.push_back(directory + "\\" + found.cFileName);
    while (FindNextFileA(search, &found));
    FindClose(search);
    return files;
}

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace

ReportDirectory::ReportDirectory(const std::string& name) : path_(BuildPath("reports\\" + name)) {
    CreateDirectoryA(BuildPath("reports").c_str(), nullptr);
    CreateDirectoryA(path_.c_str(), nullptr);
    Clear();
}

ReportDirectory::~ReportDirectory() {
    Clear();
    RemoveDirectoryA(path_.c_str());
}

void ReportDirectory::Clear() const {
    for (const char* pattern : {"sleeper-*.txt", "ended-*.txt", "*.tmp"})
        for (const auto& file : ReportFiles(path_, pattern)) DeleteFileA(file.c_str());
}

std::vector<SleeperReport> ReportDirectory::Reports() const {
    std::vector<SleeperReport> reports;
    for (const auto& file : ReportFiles(path_)) {
        SleeperReport report = ParseSleeperReport(ReadWholeFile(file));
        if (report.pid != 0) reports.push_back(report);
    }
    return reports;
}

std::map<DWORD, std::string> ReportDirectory::Endings() const {
    std::map<DWORD, std::string> endings;
    for (const auto& file : ReportFiles(path_, "ended-*.txt")) {
        // ended-<pid>-<n>.txt holding "how=<way>"
        const std::string name = file.substr(file.rfind('\\') + 1);
        const DWORD pid = std::strtoul(name.c_str() + 6, nullptr, 10);
        std::string text = ReadWholeFile(file);
        if (text.rfind("how=", 0) == 0) endings[pid] = text.substr(4, text.find('\n') - 4);
    }
    return endings;
}

std::size_t ReportDirectory::Count() const { return ReportFiles(path_).size(); }

SleeperReport ParseSleeperReport(const std::string& text) {
    SleeperReport report;
    std::istringstream lines(text);
    std::string line;
    while (std::getline(lines, line)) {
        std::size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        std::string name = line.substr(0, equals);
        std::string value = line.substr(equals + 1);
        if (name == "pid") report.pid = std::strtoul(value.c_str(), nullptr, 10);
        else if (name == "commandline") report.commandLine = value;
        else if (name == "show") report.show = std::strtoul(value.c_str(), nullptr, 10);
        else if (name == "flags") report.flags = std::strtoul(value.c_str(), nullptr, 10);
        else if (name == "directory") report.directory = value;
    }
    return report;
}

bool IsProcessAlive(DWORD pid) {
    UniqueHandle process(OpenProcess(SYNCHRONIZE, FALSE, pid));
    return process && WaitForSingleObject(process.get(), 0) == WAIT_TIMEOUT;
}
