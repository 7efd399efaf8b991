// The launch pass: starts every configured application as many times as its record asks.
#pragma once
#include <windows.h>

class AppCatalog;

// Thread routine of the worker; also run directly by the continue reaction. Returns 0 when
// launching is switched off or nothing is configured, else 1.
DWORD WINAPI RunLaunchWorker(void* unused);

// Walks the Modules key in enumeration order; 0 when it has no subkeys, else 1.
DWORD LaunchAllApplications(AppCatalog* catalog);
