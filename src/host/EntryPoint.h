// The process entry: chooses what the process does from the Windows version, the command line
// and the AppID's "LocalService" value.
#pragma once
#include <windows.h>
#include <string>

// Returns the position just after the next character of the command line that belongs to
// separators, or null when the text ends. Steps by characters, never splitting a double-byte one.
const char* FindNextOption(const char* position, const char* separators);

// The help text shown for "?".
std::string HelpText(const std::string& serviceName);

class UserInterface;

// Runs the whole entry and returns the process exit code. ui (may be null) is the user
// interface that the host shows.
DWORD RunEntry(HINSTANCE instance, const char* commandLine, UserInterface* ui);
