// Asking programs to end before they are terminated: WM_CLOSE to each of a program's top-level
// windows, as if its user closed them, and Ctrl+C to its console, as if its user pressed it.
#pragma once
#include "base/Owners.h"

#include <windows.h>
#include <cstddef>
#include <functional>
#include <vector>

// Posts WM_CLOSE to every top-level window of the process and sends Ctrl+C to its console when
// it has one. The service has no console of its own: this attaches to the program's for a
// moment (one program at a time) and ignores the Ctrl+C that it receives itself.
void AskProgramToEnd(DWORD processId);

// Asks every running one of programs to end, then waits for all of them together until they
// have ended or timeoutMs has passed, calling tick about once a second meanwhile; a tick that
// returns false ends the wait at once. Returns how many were still running when the wait ended.
// A handle needs SYNCHRONIZE and PROCESS_QUERY_LIMITED_INFORMATION; without them its program is
// neither asked nor counted.
std::size_t AskToEndAndWait(const std::vector<UniqueHandle>& programs, DWORD timeoutMs,
                            const std::function<bool()>& tick);
