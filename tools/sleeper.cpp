// A program for tests, the demo and the benchmarks: it reports how it was started and then
// sleeps until it is killed, or behaves as the options say.
//
//   sleeper.exe [--report DIR] [--seconds N] [--exit-code N] [--marker FILE] [--window]
//               [--ignore-close] [--ctrl-c] [--ignore-ctrl-c] [--children N]
//               [--inherit] [--print N] [--print-err N] [--rate N] [--line-bytes N]
//               [--write-bytes N] [other words]
//
// With --report it writes DIR\sleeper-<pid>-<n>.txt (n makes the name new even when a process
// id comes back) with one "name=value" line each for: pid, commandline (GetCommandLineA as
// given), show and flags (wShowWindow and dwFlags of its STARTUPINFO) and directory (its
// current directory). The file appears whole: it is written under another name first. Without
// --report, the environment variable SLEEPER_REPORT_DIR names the directory. With --seconds it
// ends after N seconds with exit code 0, or the --exit-code given; with --marker FILE too, only
// while FILE does not exist, and it creates FILE as it ends (so only its first run ends).
//
// How it meets a request to end: --window opens a top-level window whose WM_CLOSE writes
// DIR\ended-<pid>.txt holding "how=close" and ends the program with 0 (--ignore-close: the
// window stays); --ctrl-c handles Ctrl+C the same way with "how=ctrl-c" (--ignore-ctrl-c: it
// goes on); without either, Ctrl+C ends it the system's way. --children N starts a copy of
// itself with --children N-1 (and the same --report), so N generations run below it; with
// --inherit they inherit its standard handles (and so hold its output pipe open). Other
// words are ignored, so tests can tell instances apart by them.
//
// --print N and --print-err N write N lines to standard output and error, first thing, each
// "<pid> out <i>" or "<pid> err <i>" (i from 1; padded with 'x' to --line-bytes N bytes with its
// line end), alternating, --rate N lines a second on each (absent: as fast as it can); with
// --write-times each line begins with the system time (FILETIME, decimal) at which it is written.
// Each line is one write, unless --write-bytes N gathers them into writes of about N bytes, as
// a C runtime's buffered standard output does (the rest is written at the end).
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

// Writes text to base-<n>.txt for the first n not taken, under a temporary name first, so that a
// reader never sees it half written.
bool WriteWhole(const std::string& base, const std::string& text) {
    std::string temporary = base + ".tmp";
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    BOOL ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    if (!ok || written != text.size()) return false;
    for (int n = 0; n < 1000; ++n) {
        std::string name = base + "-" + std::to_string(n) + ".txt";
        if (MoveFileExA(temporary.c_str(), name.c_str(), 0)) return true;
        if (GetLastError() != ERROR_ALREADY_EXISTS && GetLastError() != ERROR_FILE_EXISTS) break;
    }
    DeleteFileA(temporary.c_str());
    return false;
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

    return WriteWhole(directory + "\\sleeper-" + std::to_string(GetCurrentProcessId()), report);
}

struct Options {
    std::string reportDirectory;
    DWORD seconds = INFINITE;
    DWORD exitCode = 0;
    std::string marker;
    bool window = false;
    bool ignoreClose = false;
    bool ctrlC = false;
    bool ignoreCtrlC = false;
    int children = 0;
    bool inherit = false;
    DWORD print = 0;
    DWORD printErr = 0;
    DWORD rate = 0;
    DWORD lineBytes = 0;
    DWORD writeBytes = 0;
    bool writeTimes = false;
};
Options options;

// Records how the program was asked to end, then ends it.
void EndAsked(const char* how) {
    if (!options.reportDirectory.empty())
        WriteWhole(options.reportDirectory + "\\ended-" + std::to_string(GetCurrentProcessId()),
                   std::string("how=") + how + "\n");
    ExitProcess(0);
}

BOOL WINAPI OnConsoleControl(DWORD type) {
    if (type != CTRL_C_EVENT) return FALSE;
    if (options.ctrlC) EndAsked("ctrl-c");
    return TRUE;  // ignored
}

LRESULT CALLBACK WindowProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_CLOSE) {
        if (!options.ignoreClose) EndAsked("close");
        return 0;
    }
    if (message == WM_TIMER) PostQuitMessage(0);
    return DefWindowProcA(window, message, wParam, lParam);
}

// Starts the next generation below this one.
void StartChild() {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string line = "\"" + std::string(self) + "\" --children " + std::to_string(options.children - 1);
    if (!options.reportDirectory.empty()) line += " --report \"" + options.reportDirectory + "\"";
    if (options.inherit) line += " --inherit";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    if (options.inherit) {
        startup.dwFlags = STARTF_USESTDHANDLES;
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    }
    PROCESS_INFORMATION created{};
    if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, options.inherit, 0, nullptr, nullptr, &startup, &created))
        return;
    CloseHandle(created.hThread);
    CloseHandle(created.hProcess);
}

// The window that receives WM_CLOSE; made before the report is written, so that a reader of
// the report may count on it.
HWND CreateSleeperWindow() {
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = WindowProcedure;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "SleeperWindow";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowA("SleeperWindow", "sleeper", WS_OVERLAPPEDWINDOW, 0, 0, 200, 100, nullptr, nullptr,
                                windowClass.hInstance, nullptr);
    if (!window) ExitProcess(3);
    return window;
}

// Sleeps for the time given, or for ever; with a window, its message loop runs meanwhile.
void Wait(HWND window, DWORD milliseconds) {
    if (!window) {
        Sleep(milliseconds);
        return;
    }
    if (milliseconds != INFINITE) SetTimer(window, 1, milliseconds, nullptr);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) DispatchMessageA(&message);
}

// Writes each line whole, unbuffered (unless --write-bytes), so that a reader sees every line as
// soon as it is written.
void PrintLines() {
    std::string pending[2];
    const auto write = [](DWORD handle, std::string& text) {
        DWORD written = 0;
        if (!text.empty()) WriteFile(GetStdHandle(handle), text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
        text.clear();
    };
    const DWORD lines = options.print > options.printErr ? options.print : options.printErr;
    for (DWORD i = 1; i <= lines; ++i) {
        const struct {
            DWORD count;
            DWORD handle;
            const char* name;
        } streams[] = {{options.print, STD_OUTPUT_HANDLE, "out"}, {options.printErr, STD_ERROR_HANDLE, "err"}};
        for (const auto& stream : streams) {
            if (i > stream.count) continue;
            std::string& gathered = pending[stream.handle == STD_ERROR_HANDLE];
            std::string line = std::to_string(GetCurrentProcessId()) + " " + stream.name + " " + std::to_string(i);
            FILETIME now{};
            GetSystemTimeAsFileTime(&now);
            if (options.writeTimes)
                line = std::to_string((static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime) +
                       " " + line;
            if (line.size() + 2 < options.lineBytes) line.append(options.lineBytes - line.size() - 2, 'x');
            gathered += line + "\r\n";
            if (gathered.size() >= options.writeBytes) write(stream.handle, gathered);
        }
        if (options.rate) Sleep(1000 / options.rate);
    }
    write(STD_OUTPUT_HANDLE, pending[0]);
    write(STD_ERROR_HANDLE, pending[1]);
}

}  // namespace

int main() {
    std::vector<std::string> words = SplitWords(GetCommandLineA());
    for (std::size_t i = 0; i < words.size(); ++i) {
        const std::string& word = words[i];
        const bool hasValue = i + 1 < words.size();
        auto number = [&] { return static_cast<DWORD>(std::strtoul(words[i + 1].c_str(), nullptr, 0)); };
        if (word == "--report" && hasValue) options.reportDirectory = words[i + 1];
        if (word == "--seconds" && hasValue) options.seconds = number();
        if (word == "--exit-code" && hasValue) options.exitCode = number();
        if (word == "--marker" && hasValue) options.marker = words[i + 1];
        if (word == "--children" && hasValue) options.children = static_cast<int>(number());
        if (word == "--print" && hasValue) options.print = number();
        if (word == "--print-err" && hasValue) options.printErr = number();
        if (word == "--rate" && hasValue) options.rate = number();
        if (word == "--line-bytes" && hasValue) options.lineBytes = number();
        if (word == "--write-bytes" && hasValue) options.writeBytes = number();
        options.window |= word == "--window";
        options.inherit |= word == "--inherit";
        options.writeTimes |= word == "--write-times";
        options.ignoreClose |= word == "--ignore-close";
        options.ctrlC |= word == "--ctrl-c";
        options.ignoreCtrlC |= word == "--ignore-ctrl-c";
    }
    if (options.reportDirectory.empty()) {
        DWORD length = GetEnvironmentVariableA("SLEEPER_REPORT_DIR", nullptr, 0);
        if (length > 0) {
            options.reportDirectory.resize(length);
            options.reportDirectory.resize(
                GetEnvironmentVariableA("SLEEPER_REPORT_DIR", options.reportDirectory.data(), length));
        }
    }
    // Ready for a request to end before the report says that it runs.
    if (options.ctrlC || options.ignoreCtrlC) SetConsoleCtrlHandler(OnConsoleControl, TRUE);
    HWND window = options.window ? CreateSleeperWindow() : nullptr;
    PrintLines();  // before the report, which then says that every line has been written
    if (!options.reportDirectory.empty() && !WriteReport(options.reportDirectory)) return 2;
    if (options.children > 0) StartChild();

    const bool limited = options.seconds != INFINITE &&
                         (options.marker.empty() || GetFileAttributesA(options.marker.c_str()) == INVALID_FILE_ATTRIBUTES);
    Wait(window, limited ? options.seconds * 1000 : INFINITE);
    if (!limited) Sleep(INFINITE);  // a window closed without ending the program
    if (!options.marker.empty()) CloseHandle(CreateFileA(options.marker.c_str(), GENERIC_WRITE, 0, nullptr,
                                                         CREATE_ALWAYS, 0, nullptr));
    return static_cast<int>(options.exitCode);
}
