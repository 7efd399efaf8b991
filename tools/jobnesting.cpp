// Shows how this system nests job objects: a program that runs in a job (as it does when the
// service itself runs in one) is assigned to a second job, once plain and once with UI limits.
// Windows 8 and later accept the first and refuse the second (a job in a nested hierarchy
// cannot have UI limits); Windows 7 refuses both. Wine 8 accepts both, so under Wine a program
// that cannot join the service's job can only be imitated, not met.
//
//   jobnesting      prints the outcome of each assignment; exit code 0, or 1 when a step fails
#include <windows.h>

#include <cstdio>
#include <string>

namespace {

// Starts this program again, suspended, as a child that would only sleep.
bool StartChild(PROCESS_INFORMATION& created) {
    char self[MAX_PATH];
    GetModuleFileNameA(nullptr, self, sizeof self);
    std::string line = "\"" + std::string(self) + "\" child";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, CREATE_SUSPENDED, nullptr, nullptr,
                          &startup, &created) != FALSE;
}

void Report(const char* what, HANDLE secondJob, HANDLE child) {
    if (AssignProcessToJobObject(secondJob, child))
        std::printf("%s: accepted\n", what);
    else
        std::printf("%s: refused (error %lu)\n", what, GetLastError());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1) {
        Sleep(INFINITE);
        return 0;
    }
    // This process joins a job; what it starts then runs in that job too.
    HANDLE outer = CreateJobObjectA(nullptr, nullptr);
    if (!outer || !AssignProcessToJobObject(outer, GetCurrentProcess())) {
        std::printf("cannot run in a job (error %lu)\n", GetLastError());
        return 1;
    }
    HANDLE plain = CreateJobObjectA(nullptr, nullptr);
    HANDLE limited = CreateJobObjectA(nullptr, nullptr);
    JOBOBJECT_BASIC_UI_RESTRICTIONS restrictions{JOB_OBJECT_UILIMIT_HANDLES};
    PROCESS_INFORMATION first{}, second{};
    if (!plain || !limited ||
        !SetInformationJobObject(limited, JobObjectBasicUIRestrictions, &restrictions, sizeof restrictions) ||
        !StartChild(first) || !StartChild(second)) {
        std::printf("cannot prepare (error %lu)\n", GetLastError());
        return 1;
    }
    Report("a program in a job, into a second job", plain, first.hProcess);
    Report("a program in a job, into a second job with UI limits", limited, second.hProcess);
    std::fflush(stdout);
    // Ends the children and this program with them.
    TerminateJobObject(outer, 0);
    return 0;
}
