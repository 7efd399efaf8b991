// Installing and removing the service and its COM registration, and the configuration keys
// that every run makes sure of.
#pragma once
#include "host/HostIdentity.h"

#include <windows.h>
#include <oaidl.h>
#include <string>

// Values below HKCR\AppID\{AppID} that decide whether a run becomes the service.
inline constexpr char kLocalServiceValue[] = "LocalService";
inline constexpr char kServiceParametersValue[] = "ServiceParameters";

// Each works on the service and the module that identity names.

// Creates the host's Parameters key with any missing default, its Modules key and the event
// source key. Reports nothing.
void PrepareRegistry(const HostIdentity& identity);

// Installs: any installed service is stopped and deleted first; then, by the two switches,
// the AppID registration and the service, and the classes with the type library. The AppID key
// is written for either half; it names the service only when the service is installed.
[[nodiscard]] HRESULT RegisterHost(const HostIdentity& identity, bool classes, bool service);
// Removes by the two switches and returns the first failure. The AppID key goes with the last
// half installed; removing the service alone removes only the AppID's naming of the service.
[[nodiscard]] HRESULT UnregisterHost(const HostIdentity& identity, bool classes, bool service);


bool IsServiceInstalled(const HostIdentity& identity);
// Creates the service (own process, interactive, auto start, depends on RPCSS); an existing
// service is left unchanged.
[[nodiscard]] bool CreateHostService(const HostIdentity& identity);
// Stops and deletes an installed service; true when none is installed afterwards. On failure
// the reason is in the event log and the thread's last error.
[[nodiscard]] bool DeleteHostService(const HostIdentity& identity);
// Points the LocalServer32 of class keys that already exist at this executable.
void ResetLocalServerKeys();
[[nodiscard]] HRESULT RegisterClasses(const HostIdentity& identity);
// Removes the classes and the type library; the first failure (a library that is not
// registered is none).
[[nodiscard]] HRESULT UnregisterClasses(const HostIdentity& identity);
// The type library stored in this executable (or in a .tlb beside it) and the path it came from.
[[nodiscard]] HRESULT LoadOwnTypeLibrary(const HostIdentity& identity, ITypeLib** library, std::wstring* path);
[[nodiscard]] HRESULT RegisterTypeLibrary(const HostIdentity& identity);
[[nodiscard]] HRESULT UnregisterTypeLibrary(const HostIdentity& identity);
