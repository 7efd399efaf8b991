// corvane.com: the verbs that configure and control the service from a prompt or a script,
// over the same model and tables as the dialogs. Exit codes, the same for every verb:
#pragma once
#include <string>
#include <vector>

enum CompanionExit : int {
    kExitDone = 0,
    kExitFailed = 1,     // with a message on standard error saying what and why
    kExitUsage = 2,      // unknown verb or option, with the usage
    kExitDifferent = 3,  // apply --check: the configuration differs from the file
};

// Runs the command line (without the program's name, UTF-8) for the service named serviceName.
int RunCompanion(const std::string& serviceName, const std::vector<std::string>& arguments);
