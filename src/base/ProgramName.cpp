#include "base/ProgramName.h"

namespace {
std::string& Name() {
    static std::string name = "Corvane";
    return name;
}
}  // namespace

void SetProgramName(std::string name) { Name() = std::move(name); }

const std::string& ProgramName() { return Name(); }
