// Waiting for several kernel objects with one deadline, while telling someone that the wait
// goes on (a service in a pending state advances its checkpoint).
#pragma once
#include <windows.h>
#include <cstddef>
#include <functional>
#include <vector>

// How often a waiting caller hears that the wait goes on.
inline constexpr DWORD kWaitTickMs = 1000;

// Waits until every one of handles is signalled or timeoutMs has passed, calling tick about once
// every kWaitTickMs meanwhile; a tick that returns false ends the wait at once. Returns how many
// were not signalled when the wait ended. A handle that cannot be waited for (no SYNCHRONIZE
// access) is not waited for and not counted. Any number of handles.
std::size_t WaitForAllWithin(const std::vector<HANDLE>& handles, DWORD timeoutMs,
                             const std::function<bool()>& tick);
