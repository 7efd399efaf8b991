// The launch pass: starts every configured application as many times as its record asks,
// and tracks what it started.
#pragma once
#include "config/ServiceKeys.h"
#include "launch/Tracking.h"

#include <windows.h>
#include <string>

class AppCatalog;
class Supervisor;

// The values of one application that a launch reads, each with its meaning when missing.
struct ApplicationValues {
    DWORD instances = 0;
    DWORD attrib = 0;
    std::string exePath;
    std::string cmdLineArgs;
    std::string startDir;
    std::string progId;
};
// Reads the values of application name's subkey (a subkey that cannot be opened: none). A number
// is taken only from a REG_DWORD of 4 bytes and a text only from REG_SZ or REG_EXPAND_SZ of at
// most 259 characters; anything else counts as missing. With reportFaults (the launch pass, once
// per pass), each such value, the method values of an ActiveX application included, is reported.
ApplicationValues ReadApplicationValues(const ServiceKeys& keys, const std::string& name, bool reportFaults = false);

// The work of the launch worker thread (and of the relaunch on continue): nothing when the
// EnableLaunch setting is off, else the pass. ticket is the pass's ticket
// (LaunchTracker::BeginPass), taken by whoever created the thread, so that a stop or pause
// that comes before the thread runs still cancels the pass; 0 takes a ticket now. Returns 0
// when launching is switched off or nothing is configured, else 1. With a supervisor, standard
// programs are started in its job and handed to it (see Supervisor::Adopt).
DWORD RunLaunchWorker(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket,
                      Supervisor* supervisor = nullptr);

// Walks the Modules key in enumeration order; 0 when it has no subkeys, else 1. A ticket of 0
// takes a new one. catalog (null: one of its own) loads an ActiveX application's method.
DWORD LaunchAllApplications(const ServiceKeys& keys, LaunchTracker& tracker, LaunchTracker::Ticket ticket = 0,
                            AppCatalog* catalog = nullptr, Supervisor* supervisor = nullptr);
