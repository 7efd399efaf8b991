// A developer's view of where the time of a start goes. When the process's environment names a
// file in CORVANE_START_TIMINGS, each phase noted here is appended to that file the first time
// it is reached, one line each: "<process id> <milliseconds since the process was created>
// <phase>". Otherwise a note costs one look at a flag (the environment is read once).
//
// A service takes its environment from the service manager: on Windows the REG_MULTI_SZ value
// "Environment" of the service's key (one NAME=VALUE per string) sets it; `scripts/bench start
// --timings` starts the Wine session with it.
#pragma once

inline constexpr char kStartTimingsVariable[] = "CORVANE_START_TIMINGS";

// phase: a fixed text (a literal); only its first note in the process is written.
void NoteStartPhase(const char* phase);
