#include "host/Installation.h"

#include "base/ModulePath.h"
#include "base/RegistryKey.h"
#include "config/ServiceSettings.h"

void PrepareRegistry(const HostIdentity& identity) {
    PrepareServiceKeys(identity.keys);

    RegistryKey source;
    std::string sourcePath = "SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\" + identity.serviceName;
    if (source.Create(HKEY_LOCAL_MACHINE, sourcePath.c_str(), KEY_ALL_ACCESS) == ERROR_SUCCESS) {
        (void)SetTextValue(source.get(), "EventMessageFile", ExecutablePath());
        (void)SetDwordValue(source.get(), "TypesSupported", EVENTLOG_ERROR_TYPE | EVENTLOG_WARNING_TYPE |
                                                           EVENTLOG_INFORMATION_TYPE);
    }
}
