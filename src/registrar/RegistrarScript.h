// Registration scripts: small texts, stored as "REGISTRY" resources, that name registry keys
// in nested blocks with their values and a few modifiers. Running a script in register mode
// creates the keys and writes the values; in unregister mode it removes what the script
// describes, sparing what it marks "NoRemove".
//
//   HKCR
//   {
//       NoRemove CLSID
//       {
//           ForceRemove {guid} = s 'Launch Class'
//           {
//               LocalServer32 = s '"%Module%"'
//               val AppID = s '{guid}'
//           }
//       }
//   }
#pragma once
#include <windows.h>
#include <string>
#include <vector>

// One variable of a script: "%name%" in the text stands for value. Names match without
// regard to case.
struct Replacement {
    std::wstring name;
    std::wstring value;
};
// Searched in order; the first pair whose name matches is used.
using ReplacementMap = std::vector<Replacement>;

// Result of every syntax error and of a key that can be neither opened nor created.
inline constexpr HRESULT kScriptSyntaxError = DISP_E_EXCEPTION;

// Runs the script held in REGISTRY resource resourceId of module (null: the executable).
// "Module" stands for the module's short path (single quotes doubled), followed by the extra
// pairs. A resource that cannot be loaded writes nothing and returns the system's error.
// view is added to every registry access: 0 works in the program's own registry view,
// kOtherRegistryView (base/RegistryKey.h) in that of the other architecture.
[[nodiscard]] HRESULT RunRegistrationScript(HMODULE module, UINT resourceId, bool doRegister,
                                            const ReplacementMap* extra = nullptr, REGSAM view = 0);

// Runs a script given as text, with exactly the variables of map. The text ends at its first
// zero byte, as a resource's text does.
[[nodiscard]] HRESULT RunRegistrationScriptText(const std::string& script, bool doRegister,
                                                const ReplacementMap& map, REGSAM view = 0);
