// The settings of supervision: starting again a program that ends by itself, asking programs
// to end before they are terminated, and ending a program's own processes with it. Each is off
// unless its value says otherwise, and none is written by default: without them the service
// behaves as it always has. Like every setting they are read when they are needed.
#pragma once
#include "config/ServiceKeys.h"

#include <windows.h>
#include <string>

// REG_DWORD values in an application's key under Modules.
inline constexpr char kRestartOnExitValue[] = "RestartOnExit";
inline constexpr char kRestartDelayValue[] = "RestartDelay";
// REG_DWORD values in the Parameters key.
inline constexpr char kGracefulStopTimeoutValue[] = "GracefulStopTimeout";
inline constexpr char kTerminateProcessTreeValue[] = "TerminateProcessTree";

inline constexpr DWORD kDefaultRestartDelayMs = 1000;

// On only when the application's RestartOnExit is present and exactly 1.
bool IsRestartOnExit(const ServiceKeys& keys, const std::string& application);
// The application's RestartDelay in milliseconds; kDefaultRestartDelayMs when absent.
DWORD RestartDelayMs(const ServiceKeys& keys, const std::string& application);
// GracefulStopTimeout in milliseconds; 0 (programs are terminated at once) when absent.
DWORD GracefulStopTimeoutMs(const ServiceKeys& keys);
// On only when TerminateProcessTree is present and exactly 1.
bool IsTerminateProcessTree(const ServiceKeys& keys);
