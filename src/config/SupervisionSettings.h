// The settings of supervision: starting again a program that ends by itself, asking programs
// to end before they are terminated, and ending a program's own processes with it. Each is off
// unless its value says otherwise, and none is written by default: without them the service
// behaves as it always has. Like every setting they are read when they are needed.
#pragma once
#include "config/Application.h"
#include "config/ServiceKeys.h"

#include <windows.h>
#include <string>

// An application's RestartOnExit (on only when exactly 1) and RestartDelay (milliseconds,
// kDefaultRestartDelayMs when absent) are values of its record (config/Application.h).

// REG_DWORD values in the Parameters key.
inline constexpr char kGracefulStopTimeoutValue[] = "GracefulStopTimeout";
inline constexpr char kTerminateProcessTreeValue[] = "TerminateProcessTree";

// GracefulStopTimeout in milliseconds; 0 (programs are terminated at once) when absent.
DWORD GracefulStopTimeoutMs(const ServiceKeys& keys);
// On only when TerminateProcessTree is present and exactly 1.
bool IsTerminateProcessTree(const ServiceKeys& keys);
