// The baseline of the launch benchmark: a plain program that starts a program N times the way
// the service does (application name, "path args" command line, a new console, normal
// priority, shown normally) and does nothing else.
//
//   spawn_baseline.exe N PATH [ARGS...]
#include <windows.h>

#include <cstdlib>
#include <string>

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    const unsigned long count = std::strtoul(argv[1], nullptr, 10);
    const std::string path = argv[2];
    std::string arguments;
    for (int i = 3; i < argc; ++i) {
        if (i > 3) arguments += ' ';
        arguments += argv[i];
    }

    unsigned long failed = 0;
    for (unsigned long i = 0; i < count; ++i) {
        std::string commandLine = path + " " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESHOWWINDOW;
        startup.wShowWindow = SW_SHOWNORMAL;
        PROCESS_INFORMATION created{};
        if (!CreateProcessA(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE,
                            CREATE_NEW_CONSOLE | NORMAL_PRIORITY_CLASS, nullptr, nullptr, &startup, &created)) {
            ++failed;
            continue;
        }
        CloseHandle(created.hThread);
        CloseHandle(created.hProcess);
    }
    return failed == 0 ? 0 : 1;
}
