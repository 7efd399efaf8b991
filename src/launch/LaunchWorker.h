// The launch pass: starts every configured application as many times as its record asks,
// and tracks what it started.
#pragma once
#include "config/ServiceKeys.h"
#include "launch/Tracking.h"

#include <windows.h>

class AppCatalog;

// The work of the launch worker thread (and of the relaunch on continue): nothing when the
// EnableLaunch setting is off, else the pass. ticket is the pass's ticket
// (LaunchTracker::BeginPass), taken by whoever created the thread, so that a stop or pause
// that comes before the thread runs still cancels the pass; 0 takes a ticket now. Returns 0
// when launching is switched off or nothing is configured, else 1.
DWORD RunLaunchWorker(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket);

// Walks the Modules key in enumeration order; 0 when it has no subkeys, else 1. A ticket of 0
// takes a new one. catalog (null: one of its own) loads an ActiveX application's method.
DWORD LaunchAllApplications(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket = 0,
                            AppCatalog* catalog = nullptr);
