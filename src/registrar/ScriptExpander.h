// Replaces the "%name%" variables of a registration script before it is parsed.
#pragma once
#include "registrar/RegistrarScript.h"

#include <string>

// Longest variable name between percent signs; a longer one is refused with E_FAIL.
inline constexpr std::size_t kMaxVariableName = 31;

// Copies script into expanded with every "%name%" replaced by the ANSI form of its value and
// every "%%" by one "%". Quoting does not matter: a lone "%" anywhere starts a name.
// A name without its closing "%" or not in the map: DISP_E_EXCEPTION; a name longer than
// kMaxVariableName: E_FAIL. On failure expanded is left empty.
[[nodiscard]] HRESULT ExpandScriptText(const std::string& script, const ReplacementMap& map, std::string& expanded);
