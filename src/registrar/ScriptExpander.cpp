#include "registrar/ScriptExpander.h"

#include "base/Conversions.h"

namespace {

// Bytes of the character at position: two for a lead byte with its trail byte, else one.
std::size_t CharacterLength(const std::string& text, std::size_t position) {
    if (IsDBCSLeadByte(static_cast<BYTE>(text[position])) && position + 1 < text.size() &&
        text[position + 1] != '\0')
        return 2;
    return 1;
}

const Replacement* FindVariable(const ReplacementMap& map, const std::string& name) {
    for (const Replacement& pair : map)
        if (lstrcmpiA(ToAnsi(pair.name).c_str(), name.c_str()) == 0) return &pair;
    return nullptr;
}

}  // namespace

HRESULT ExpandScriptText(const std::string& script, const ReplacementMap& map, std::string& expanded) {
    expanded.clear();
    std::string output;
    output.reserve(script.size() * 2);
    std::size_t position = 0;
    while (position < script.size()) {
        if (script[position] != '%') {
            std::size_t length = CharacterLength(script, position);
            output.append(script, position, length);
            position += length;
            continue;
        }
        if (position + 1 < script.size() && script[position + 1] == '%') {
            output += '%';
            position += 2;
            continue;
        }
        std::size_t nameStart = position + 1;
        std::size_t nameEnd = nameStart;
        while (nameEnd < script.size() && script[nameEnd] != '%') nameEnd += CharacterLength(script, nameEnd);
        if (nameEnd >= script.size()) return DISP_E_EXCEPTION;
        std::string name = script.substr(nameStart, nameEnd - nameStart);
        if (name.size() > kMaxVariableName) return E_FAIL;
        const Replacement* variable = FindVariable(map, name);
        if (!variable) return DISP_E_EXCEPTION;
        output += ToAnsi(variable->value);
        position = nameEnd + 1;
    }
    expanded = std::move(output);
    return S_OK;
}
