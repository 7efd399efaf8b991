// corvane.com, the console companion of corvane.exe.
#include "base/Owners.h"
#include "base/ProgramName.h"
#include "cli/Companion.h"
#include "cli/Console.h"
#include "resource.h"

#include <windows.h>
#include <shellapi.h>

int main() {
    char serviceName[256] = "";
    LoadStringA(GetModuleHandleA(nullptr), IDS_SERVICENAME, serviceName, sizeof serviceName);
    SetProgramName(serviceName);
    // The model's check of a ProgID asks COM.
    ComInitialization com(COINIT_APARTMENTTHREADED);
    int count = 0;
    LPWSTR* words = CommandLineToArgvW(GetCommandLineW(), &count);
    std::vector<std::string> arguments;
    for (int index = 1; words && index < count; ++index) arguments.push_back(ToUtf8(words[index]));
    LocalFree(words);
    return RunCompanion(serviceName, arguments);
}
