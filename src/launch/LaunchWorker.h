// The launch pass: starts every configured application as many times as its record asks.
#pragma once
#include "launch/Tracking.h"

#include <windows.h>

class AppCatalog;

// Thread routine of the worker; also run directly by the continue reaction. The parameter is
// the pass's ticket (LaunchTracker::BeginPass) taken by whoever created the thread, so that a
// stop or pause that comes before the thread runs still cancels the pass; null takes a ticket
// now. Returns 0 when launching is switched off or nothing is configured, else 1.
DWORD WINAPI RunLaunchWorker(void* ticket);

// Walks the Modules key in enumeration order; 0 when it has no subkeys, else 1. A ticket of 0
// takes a new one.
DWORD LaunchAllApplications(AppCatalog* catalog, LaunchTracker::Ticket ticket = 0);
