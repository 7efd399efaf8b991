// The name the program goes by: the service's name, which is also its event source and the
// caption of its message boxes. Set once at start-up, before any other thread runs.
#pragma once
#include <string>

void SetProgramName(std::string name);
const std::string& ProgramName();
