// A program for tests, the demo and the benchmark: it reports how it was started and then
// sleeps until it is killed.
//
//   sleeper.exe [--report DIR] [--seconds N] [other words]
//
// With --report it writes DIR\sleeper-<pid>-<n>.txt (n makes the name new even when a process
// id comes back) with one "name=value" line each for: pid, commandline (GetCommandLineA as
// given), show and flags (wShowWindow and dwFlags of its STARTUPINFO) and directory (its
// current directory). The file appears whole: it is written under another name first. Without
// --report, the environment variable SLEEPER_REPORT_DIR names the directory. With --seconds it
// ends after N seconds with exit code 0, else it sleeps for ever. Other words are ignored, so
// tests can tell instances apart by them.
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

// Splits a command line into words; double quotes group words and are removed.
std::vector<std::string> SplitWords(const char* line) {
    std::vector<std::string> words;
    std::string word;
    bool quoted = false, inWord = false;
    for (const char* c = line; *c; ++c) {
        if (*c == '"') {
            quoted = !quoted;
            inWord = true;
        } else if ((*c == ' ' || *c == '\t') && !quoted) {
            if (inWord) words.push_back(word);
            word.clear();
            inWord = false;
        } else {
            word += *c;
            inWord = true;
        }
    }
    if (inWord) words.push_back(word);
    return words;
}

bool WriteReport(const std::string& directory) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    GetStartupInfoA(&startup);
    DWORD length = GetCurrentDirectoryA(0, nullptr);
    std::string current(length, '\0');
    current.resize(GetCurrentDirectoryA(length, current.data()));

    char header[128];
    std::snprintf(header, sizeof header, "pid=%lu\n", GetCurrentProcessId());
    std::string report = header;
    report += "commandline=" + std::string(GetCommandLineA()) + "\n";
    std::snprintf(header, sizeof header, "show=%u\nflags=%lu\n", startup.wShowWindow, startup.dwFlags);
    report += header;
    report += "directory=" + current + "\n";

    std::string base = directory + "\\sleeper-" + std::to_string(GetCurrentProcessId());
    std::string temporary = base + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, report.data(), static_cast<DWORD>(report.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != report.size()) return false;
    for (int n = 0; n < 1000; ++n) {
        std::string name = base + "-" + std::to_string(n) + ".txt";
        if (MoveFileExA(temporary.c_str(), name.c_str(), 0)) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    DeleteFileA(temporary.c_str());
    return false;
}

}  // namespace

int main() {
    std::vector<std::string> words = SplitWords(GetCommandLineA());
    std::string reportDirectory;
    DWORD seconds = INFINITE;
    for (std::size_t i = 0; i + 1 < words.size(); ++i) {
        if (words[i] == "--report") reportDirectory = words[i + 1];
        if (words[i] == "--seconds") seconds = static_cast<DWORD>(std::strtoul(words[i + 1].c_str(), nullptr, 10));
    }
    if (reportDirectory.empty()) {
        DWORD length = GetEnvironmentVariableA("SLEEPER_REPORT_DIR", nullptr, 0);
        if (length > 0) {
            reportDirectory.resize(length);
            reportDirectory.resize(GetEnvironmentVariableA("SLEEPER_REPORT_DIR", reportDirectory.data(), length));
        }
    }
    if (!reportDirectory.empty() && !WriteReport(reportDirectory)) return 2;
    Sleep(seconds == INFINITE ? INFINITE : seconds * 1000);
    return 0;
}
