#include "registrar/RegistrarScript.h"

#include "base/Conversions.h"
#include "base/ErrorResult.h"
#include "base/ModulePath.h"
#include "base/Owners.h"
#include "base/RegistryKey.h"
#include "registrar/ScriptExpander.h"
#include "registrar/ScriptTokenizer.h"

#include <oleauto.h>
#include <new>
#include <vector>

namespace {

// Longest value name after "Val".
constexpr std::size_t kMaxValueName = 259;
// Deepest block nesting that is walked key by key. The registry itself holds at most 512
// levels; the bound keeps a hostile script from exhausting the stack. Blocks walked without
// touching the registry are not nested calls and have no such bound.
constexpr unsigned kMaxBlockDepth = 512;

struct RootKey {
    const char* name;
    HKEY key;
};
const RootKey kRootKeys[] = {
    {"HKCR", HKEY_CLASSES_ROOT},
    {"HKCU", HKEY_CURRENT_USER},
    {"HKLM", HKEY_LOCAL_MACHINE},
    {"HKU", HKEY_USERS},
    {"HKPD", HKEY_PERFORMANCE_DATA},
    {"HKDD", HKEY_DYN_DATA},
    {"HKCC", HKEY_CURRENT_CONFIG},
    {"HKEY_CLASSES_ROOT", HKEY_CLASSES_ROOT},
    {"HKEY_CURRENT_USER", HKEY_CURRENT_USER},
    {"HKEY_LOCAL_MACHINE", HKEY_LOCAL_MACHINE},
    {"HKEY_USERS", HKEY_USERS},
    {"HKEY_PERFORMANCE_DATA", HKEY_PERFORMANCE_DATA},
    {"HKEY_DYN_DATA", HKEY_DYN_DATA},
    {"HKEY_CURRENT_CONFIG", HKEY_CURRENT_CONFIG},
};

constexpr char kDelete[] = "Delete";
constexpr char kNoRemove[] = "NoRemove";
constexpr char kForceRemove[] = "ForceRemove";
constexpr char kVal[] = "Val";

// Keys that no modifier ever deletes: removing them would break every COM class and type
// library of the machine.
constexpr const char* kProtectedKeys[] = {"CLSID", "TYPELIB"};

bool SameText(const std::string& token, const char* word) { return lstrcmpiA(token.c_str(), word) == 0; }
bool BeginsWith(const std::string& token, char c) { return !token.empty() && token[0] == c; }

HKEY FindRootKey(const std::string& name) {
    for (const RootKey& root : kRootKeys)
        if (SameText(name, root.name)) return root.key;
    return nullptr;
}

bool IsProtected(const std::string& name) {
    for (const char* key : kProtectedKeys)
        if (SameText(name, key)) return true;
    return false;
}

// A key name must name one subkey of its parent. A backslash would reach further down; an
// empty name would stand for the parent itself, so that a deletion removed the parent (or,
// for "ForceRemove", everything below a root key).
HRESULT CheckKeyName(const std::string& name) {
    if (name.empty() || name.find('\\') != std::string::npos) return kScriptSyntaxError;
    return S_OK;
}

bool HasSubkeys(HKEY key) {
    DWORD subkeys = 0;
    // A key that cannot be queried is kept, as one with subkeys is.
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, nullptr, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return true;
    return subkeys > 0;
}

// True when the key has subkeys or a value other than its unnamed one.
bool HasContents(HKEY key) {
    DWORD subkeys = 0;
    DWORD values = 0;
    DWORD longestName = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, &longestName, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS)
        return true;
    if (subkeys > 0 || values > 1) return true;
    if (values == 0) return false;
    std::vector<char> name(static_cast<std::size_t>(longestName) + 2);
    DWORD length = static_cast<DWORD>(name.size());
    if (RegEnumValueA(key, 0, name.data(), &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return true;  // a name that does not fit is not empty
    return length > 0;
}

// Deletes parent\name with everything below it; a failure leaves what could not be deleted.
void DeleteKeyWithSubkeys(HKEY parent, const std::string& name, REGSAM view) {
    if (!parent) return;
    RegistryKey holder;
    holder.Attach(parent);
    (void)holder.DeleteTree(name.c_str(), view);  // forced removal: errors are not examined
    holder.Release();                        // the parent belongs to the caller
}

int HexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return 0;  // anything else counts as 0
}

// Walks an expanded script. The token in hand is held in token_; each step reads what it
// needs from the tokenizer and leaves the next token in hand for the one after it.
class ScriptWalker {
public:
    // view is added to every access to the registry: 0 for the program's own view.
    ScriptWalker(const std::string& text, REGSAM view) : tokens_(text), view_(view) {}

    HRESULT Run(bool doRegister) {
        tokens_.SkipWhiteSpace();
        while (!tokens_.AtEnd()) {
            RETURN_IF_FAILED(Next());
            HKEY root = FindRootKey(token_);
            if (!root) return kScriptSyntaxError;
            RETURN_IF_FAILED(Next());
            if (!BeginsWith(token_, '{')) return kScriptSyntaxError;
            std::size_t blockStart = tokens_.position();
            HRESULT result = WalkBlock(root, doRegister, 1);
            if (FAILED(result)) {
                // Take back what this root's block wrote; earlier roots stay registered.
                if (doRegister) {
                    tokens_.Seek(blockStart);
                    (void)WalkBlock(root, false, 1);
                }
                return result;
            }
            tokens_.SkipWhiteSpace();
        }
        return S_OK;
    }

private:
    HRESULT Next() { return tokens_.NextToken(token_); }

    // The block's "{" has been read; walks its entries up to and including its "}", which
    // stays in hand.
    HRESULT WalkBlock(HKEY parent, bool doRegister, unsigned depth) {
        if (depth > kMaxBlockDepth) return kScriptSyntaxError;
        RegistryKey current;       // register mode: the key of the latest key entry
        bool deleteKeys = true;    // cleared by "NoRemove" for the rest of the block
        RETURN_IF_FAILED(Next());
        while (!BeginsWith(token_, '}')) {
            if (doRegister)
                RETURN_IF_FAILED(RegisterEntry(parent, current, deleteKeys, depth));
            else
                RETURN_IF_FAILED(UnregisterEntry(parent, deleteKeys, depth));
        }
        return S_OK;
    }

    HRESULT RegisterEntry(HKEY parent, RegistryKey& current, bool& deleteKeys, unsigned depth) {
        bool isDelete = SameText(token_, kDelete);
        if (isDelete || SameText(token_, kForceRemove)) {
            RETURN_IF_FAILED(Next());
            RETURN_IF_FAILED(CheckKeyName(token_));
            if (!IsProtected(token_)) DeleteKeyWithSubkeys(parent, token_, view_);
            if (isDelete) {
                // "Delete" only removes; parsing continues after the name and any assignment.
                RETURN_IF_FAILED(Next());
                RETURN_IF_FAILED(SkipAssignment());
                return WalkFollowingBlock(current.get(), depth);
            }
            // "ForceRemove": the name goes on as an ordinary entry and is created afresh.
        }
        if (SameText(token_, kNoRemove)) {
            deleteKeys = false;
            RETURN_IF_FAILED(Next());
        }
        if (SameText(token_, kVal)) {
            std::string valueName;
            RETURN_IF_FAILED(ReadValueName(valueName));
            RETURN_IF_FAILED(WriteValue(parent, valueName.c_str()));
            return WalkFollowingBlock(current.get(), depth);
        }

        RETURN_IF_FAILED(CheckKeyName(token_));
        RegistryKey key;
        if (!OpenOrCreate(parent, token_, key)) return kScriptSyntaxError;
        current = std::move(key);
        RETURN_IF_FAILED(Next());
        if (BeginsWith(token_, '=')) RETURN_IF_FAILED(WriteValue(current.get(), nullptr));
        return WalkFollowingBlock(current.get(), depth);
    }

    // Register mode: a block that follows an entry is walked with key as its parent - the
    // entry's own key, or after "Val" and "Delete", which have no key of their own, the block's
    // latest key if there is one (without one, the block's first key entry fails).
    // In both modes only a token that is exactly "{" opens a block after an entry, so that a
    // key named by a GUID in braces is read as a key whether or not the entry before it had a
    // value.
    HRESULT WalkFollowingBlock(HKEY key, unsigned depth) {
        if (token_ != "{") return S_OK;
        RETURN_IF_FAILED(WalkBlock(key, true, depth + 1));
        return Next();
    }

    bool OpenOrCreate(HKEY parent, const std::string& name, RegistryKey& key) const {
        if (!parent) return false;
        if (key.Open(parent, name.c_str(), KEY_ALL_ACCESS | view_) == ERROR_SUCCESS) return true;
        if (key.Open(parent, name.c_str(), KEY_READ | view_) == ERROR_SUCCESS) return true;
        return key.Create(parent, name.c_str(), KEY_ALL_ACCESS | view_) == ERROR_SUCCESS;
    }

    HRESULT UnregisterEntry(HKEY parent, bool& deleteKeys, unsigned depth) {
        // Outside register mode "ForceRemove" and "Delete" only introduce an ordinary entry.
        if (SameText(token_, kDelete) || SameText(token_, kForceRemove)) RETURN_IF_FAILED(Next());
        if (SameText(token_, kNoRemove)) {
            deleteKeys = false;
            RETURN_IF_FAILED(Next());
        }
        if (SameText(token_, kVal)) {
            std::string valueName;
            RETURN_IF_FAILED(ReadValueName(valueName));
            if (parent) (void)RegDeleteValueA(parent, valueName.c_str());  // may be gone already
            return SkipAssignment();
        }

        RETURN_IF_FAILED(CheckKeyName(token_));
        const std::string name = token_;
        RegistryKey key;
        // Writing is asked for so that the values named in the key's block can be deleted;
        // a key that only allows reading is still walked.
        bool exists = parent && (key.Open(parent, name.c_str(), KEY_READ | KEY_WRITE | view_) == ERROR_SUCCESS ||
                                 key.Open(parent, name.c_str(), KEY_READ | view_) == ERROR_SUCCESS);

        if (exists && !HasContents(key.get())) {
            // Nothing below the key: it goes at once. A block that follows describes only
            // what is gone with it and is read without deleting.
            key.Close();
            if (deleteKeys) (void)RegDeleteKeyExA(parent, name.c_str(), view_, 0);
            RETURN_IF_FAILED(Next());
            RETURN_IF_FAILED(SkipAssignment());
            return SkipFollowingBlock();
        }

        RETURN_IF_FAILED(Next());
        RETURN_IF_FAILED(SkipAssignment());
        if (!exists) {
            // Recovery: a key that is not there has nothing to remove below it.
            return SkipFollowingBlock();
        }
        bool hadBlock = token_ == "{";
        if (hadBlock) RETURN_IF_FAILED(WalkBlock(key.get(), false, depth + 1));
        // Subkeys that the script does not name keep the key.
        if (!HasSubkeys(key.get())) {
            if (key.Close() != ERROR_SUCCESS) return kScriptSyntaxError;
            if (deleteKeys) (void)RegDeleteKeyExA(parent, name.c_str(), view_, 0);
        }
        return hadBlock ? Next() : S_OK;
    }

    // Unregister mode: when the token in hand opens a block, reads that block without
    // touching the registry, then the token after it and any assignment.
    HRESULT SkipFollowingBlock() {
        if (token_ != "{") return S_OK;
        RETURN_IF_FAILED(SkipBlock());
        RETURN_IF_FAILED(Next());
        return SkipAssignment();
    }

    // Reads a block as unregister mode reads it in recovery - same syntax, same errors, no
    // registry access - with a counter instead of nested calls, so that nesting depth is not
    // bounded by the stack. The block's "{" is in hand; its "}" is left in hand.
    HRESULT SkipBlock() {
        std::size_t nested = 0;
        RETURN_IF_FAILED(Next());
        for (;;) {
            if (BeginsWith(token_, '}')) {
                if (nested == 0) return S_OK;
                --nested;
                RETURN_IF_FAILED(Next());
                RETURN_IF_FAILED(SkipAssignment());
                continue;
            }
            if (SameText(token_, kDelete) || SameText(token_, kForceRemove)) RETURN_IF_FAILED(Next());
            if (SameText(token_, kNoRemove)) RETURN_IF_FAILED(Next());
            if (SameText(token_, kVal)) {
                std::string valueName;
                RETURN_IF_FAILED(ReadValueName(valueName));
                RETURN_IF_FAILED(SkipAssignment());
                continue;
            }
            RETURN_IF_FAILED(CheckKeyName(token_));
            RETURN_IF_FAILED(Next());
            RETURN_IF_FAILED(SkipAssignment());
            if (token_ == "{") {
                ++nested;
                RETURN_IF_FAILED(Next());
            }
        }
    }

    // "Val" is in hand: reads the value name and the "=" that must follow it.
    HRESULT ReadValueName(std::string& valueName) {
        RETURN_IF_FAILED(Next());
        if (token_.size() > kMaxValueName) return kScriptSyntaxError;
        valueName = token_;
        RETURN_IF_FAILED(Next());
        if (!BeginsWith(token_, '=')) return kScriptSyntaxError;
        return S_OK;
    }

    // When "=" is in hand: reads its type and value without using them, then the next token.
    HRESULT SkipAssignment() {
        if (!BeginsWith(token_, '=')) return S_OK;
        RETURN_IF_FAILED(Next());
        std::string value;
        RETURN_IF_FAILED(tokens_.NextToken(value));
        return Next();
    }

    // "=" is in hand: writes the typed value into key (valueName null: the unnamed value),
    // then reads the next token.
    HRESULT WriteValue(HKEY key, const char* valueName) {
        RETURN_IF_FAILED(Next());
        const std::string type = token_;
        if (!SameText(type, "S") && !SameText(type, "D") && !SameText(type, "B")) return kScriptSyntaxError;
        std::string value;
        RETURN_IF_FAILED(tokens_.NextToken(value));

        // The results of the writes are not examined: a value that cannot be written is left
        // out and parsing continues.
        if (SameText(type, "S")) {
            if (key)
                (void)RegSetValueExA(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                     static_cast<DWORD>(value.size() + 1));
        } else if (SameText(type, "D")) {
            std::wstring text = ToWide(value);
            ULONG number = 0;
            // Text that is not a number writes nothing.
            if (SUCCEEDED(VarUI4FromStr(text.data(), 0, 0, &number)) && key)
                (void)RegSetValueExA(key, valueName, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                                     sizeof number);
        } else {
            if (value.size() % 2 != 0) return E_FAIL;
            std::vector<BYTE> bytes(value.size() / 2);
            for (std::size_t i = 0; i < value.size(); ++i)
                bytes[i / 2] |= static_cast<BYTE>(HexDigit(value[i]) << (i % 2 == 0 ? 4 : 0));
            if (key)
                (void)RegSetValueExA(key, valueName, 0, REG_BINARY, bytes.data(), static_cast<DWORD>(bytes.size()));
        }
        return Next();
    }

    ScriptTokenizer tokens_;
    std::string token_;
    REGSAM view_;
};

std::string ShortPath(const std::string& path) {
    DWORD size = GetShortPathNameA(path.c_str(), nullptr, 0);
    while (size != 0) {
        std::vector<char> buffer(size);
        DWORD length = GetShortPathNameA(path.c_str(), buffer.data(), size);
        if (length == 0) break;
        if (length < size) return std::string(buffer.data(), length);
        size = length;  // the path changed in between: try again with the new size
    }
    return {};
}

HRESULT RunText(const std::string& script, bool doRegister, const ReplacementMap& map, REGSAM view) {
    std::string expanded;
    RETURN_IF_FAILED(ExpandScriptText(script.substr(0, script.find('\0')), map, expanded));
    ScriptWalker walker(expanded, view);
    return walker.Run(doRegister);
}

}  // namespace

HRESULT RunRegistrationScriptText(const std::string& script, bool doRegister, const ReplacementMap& map,
                                  REGSAM view) {
    try {
        return RunText(script, doRegister, map, view);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

HRESULT RunRegistrationScript(HMODULE module, UINT resourceId, bool doRegister, const ReplacementMap* extra,
                              REGSAM view) {
    try {
        std::string path = ModuleFileName(module);
        if (path.empty()) return LastErrorResult();
        std::string shortPath = ShortPath(path);
        if (shortPath.empty()) return LastErrorResult();

        // A quote in the path is doubled so that it reads as one inside a quoted script text.
        std::wstring quotedPath;
        for (wchar_t c : ToWide(shortPath)) {
            quotedPath += c;
            if (c == L'\'') quotedPath += L'\'';
        }
        ReplacementMap map;
        map.reserve(10);
        map.push_back({L"Module", quotedPath});
        if (extra) map.insert(map.end(), extra->begin(), extra->end());

        ModuleHandle file(LoadLibraryExA(shortPath.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE));
        if (!file) return LastErrorResult();
        HRSRC resource = FindResourceA(file.get(), MAKEINTRESOURCEA(resourceId), "REGISTRY");
        if (!resource) return LastErrorResult();
        HGLOBAL loaded = LoadResource(file.get(), resource);
        if (!loaded) return LastErrorResult();
        DWORD size = SizeofResource(file.get(), resource);
        if (size == 0) return S_OK;  // an empty script writes nothing
        const char* data = static_cast<const char*>(LockResource(loaded));
        if (!data) return LastErrorResult();
        return RunText(std::string(data, size), doRegister, map, view);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
}

