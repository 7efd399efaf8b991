// Lists running processes (Toolhelp), optionally only those with a given executable name.
//   pslist [NAME.exe]
#include <windows.h>
#include <tlhelp32.h>
#include <cstdio>

int main(int argc, char** argv) {
    HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    if (snapshot == INVALID_HANDLE_VALUE) return 1;
    PROCESSENTRY32 entry{};
    entry.dwSize = sizeof entry;
    int count = 0;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
        if (argc > 1 && lstrcmpiA(entry.szExeFile, argv[1]) != 0) continue;
        std::printf("%6lu  parent %6lu  %s\n", entry.th32ProcessID, entry.th32ParentProcessID, entry.szExeFile);
        ++count;
    }
    CloseHandle(snapshot);
    if (argc > 1) std::printf("%d process(es) named %s\n", count, argv[1]);
    return 0;
}
