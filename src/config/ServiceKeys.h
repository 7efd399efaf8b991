// Where one service keeps its configuration: its Parameters key (the service-wide settings)
// and the Modules key below it (one subkey per application), both below HKEY_LOCAL_MACHINE.
// The host makes one for its service name and hands it to everything that reads or writes
// the configuration.
#pragma once
#include <windows.h>
#include <string>

struct ServiceKeys {
    std::string parameters;
    std::string modules;
    std::string status;  // the running service's live status (volatile), beside Parameters

    // The keys of the service named serviceName.
    static ServiceKeys ForService(const std::string& serviceName);
    // The key of one application.
    std::string Application(const std::string& name) const { return modules + "\\" + name; }
};

// Number of subkeys of the Modules key; 0 when it cannot be opened or queried.
DWORD CountApplications(const ServiceKeys& keys);
// Name of the subkey at index of an open Modules key; false past the end or on failure.
bool GetApplicationName(HKEY modulesKey, DWORD index, std::string& name);
