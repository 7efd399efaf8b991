#include "config/SupervisionSettings.h"

#include "base/RegistryKey.h"

namespace {

DWORD ReadOr(const std::string& keyPath, const char* valueName, DWORD fallback) {
    DWORD value = fallback;
    ReadDwordValue(keyPath, valueName, &value);
    return value;
}

}  // namespace

DWORD GracefulStopTimeoutMs(const ServiceKeys& keys) { return ReadOr(keys.parameters, kGracefulStopTimeoutValue, 0); }

bool IsTerminateProcessTree(const ServiceKeys& keys) {
    return ReadOr(keys.parameters, kTerminateProcessTreeValue, 0) == 1;
}
