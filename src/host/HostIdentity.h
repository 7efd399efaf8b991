// Who the service is: its module, name, configuration keys and help file. Fixed once when the
// host is initialised and handed down by const reference to whatever needs it.
#pragma once
#include "config/ServiceKeys.h"

#include <windows.h>
#include <string>

struct HostIdentity {
    HINSTANCE instance = nullptr;
    std::string serviceName;
    ServiceKeys keys;
    std::string helpFileName;
};
