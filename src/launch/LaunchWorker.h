// The launch pass: starts every configured application as many times as its record asks,
// and tracks what it started.
#pragma once
#include "config/ServiceKeys.h"
#include "launch/Tracking.h"

#include <windows.h>

class Supervisor;

// The work of the launch worker thread (and of the relaunch on continue): nothing when the
// EnableLaunch setting is off, else the pass. ticket is the pass's ticket
// (LaunchTracker::BeginPass), taken by whoever created the thread, so that a stop or pause
// that comes before the thread runs still cancels the pass; 0 takes a ticket now. Returns 0
// when launching is switched off or nothing is configured, else 1. With a supervisor, standard
// programs are started in its job and handed to it (see Supervisor::Adopt).
DWORD RunLaunchWorker(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket,
                      Supervisor* supervisor = nullptr);

// Walks the Modules key in enumeration order; 0 when it has no subkeys, else 1. A ticket of 0
// takes a new one. Each application is read once (ReadApplication, reporting its malformed
// values), and an ActiveX application's method is called from that reading.
DWORD LaunchAllApplications(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket = 0,
                            Supervisor* supervisor = nullptr);
