// Names of the installed product that the end-to-end tests look at: the service "Corvane"
// as corvane.exe runs it, its configuration keys and its AppID.
#pragma once
#include "Guids.h"

#include <string>

inline const std::string kService = "Corvane";
inline const std::string kServiceKey = "SYSTEM\\CurrentControlSet\\Services\\Corvane";
inline const std::string kParameters = kServiceKey + "\\Parameters";
inline const std::string kModules = kParameters + "\\Modules";
inline const std::string kEventSource = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\Corvane";
inline const std::string kAppIdKey = std::string("AppID\\") + kAppIdText;
