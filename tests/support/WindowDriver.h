// Finding and answering the windows of another process: the service's hidden main window, the
// dialogs of a configuration process.
#pragma once
#include <windows.h>

#include <functional>
#include <string>

// The top-level window of the process with this class (any when null) and caption (any when
// null); null when there is none.
HWND TopLevelWindowOf(DWORD processId, const char* className, const char* caption);

// The hidden main window of the running corvane.exe process (the owner of its icon), waited
// for; null when none came.
HWND ProductMainWindow(DWORD processId);

// Starts the command line, waits for its window with the caption, lets act do its part with it
// (when given), sends it WM_COMMAND with the command, and waits for the process to end.
// Returns the exit code; ~0u when the window never came or the process did not end.
DWORD RunAndAnswer(const std::string& commandLine, const char* caption, WORD command,
                   const std::function<void(HWND)>& act = {});
