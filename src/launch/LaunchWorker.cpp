#include "launch/LaunchWorker.h"

#include "config/RegistryKey.h"
#include "config/ServiceSettings.h"

DWORD WINAPI RunLaunchWorker(void*) {
    if (!IsSettingOn(ServiceSetting::EnableLaunch)) return 0;
    return LaunchAllApplications(nullptr);
}

DWORD LaunchAllApplications(AppCatalog*) {
    // The pass over the Modules key arrives with the application catalogue.
    return CountApplications() == 0 ? 0 : 1;
}
