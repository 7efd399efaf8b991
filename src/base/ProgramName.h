// The name the program goes by: the service's name, which is also its event source and the
// caption of its message boxes. Set once at start-up, before any other thread runs.
#pragma once
#include <string>

void SetProgramName(std::string name);
const std::string& ProgramName();

// The options of corvane.exe's command line (after "-" or "/", letter case ignored), in the order
// in which they are tried. The console companion hands exactly these on to corvane.exe.
inline constexpr const char* kProgramOptions[] = {"?",         "Install",   "Remove", "InstallService",
                                                  "RemoveService", "InstallCOMServer", "RemoveCOMServer",
                                                  "Configure", "Tray",      "Embedding", "Embedding3"};
