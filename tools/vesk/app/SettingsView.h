#pragma once

#include "support/registry/ValueText.h"
#include "vesk/VeskSettings.h"

#include <optional>
#include <string>
#include <vector>

// The settings of one instance as a tree the commands walk, read straight
// from the registry layer: a key's entries in one pass over one open key, and
// one value by its name, whatever the size of its key.
namespace vesk_tool {

class Session;

struct NamedValue {
    std::wstring name; // as stored; empty for the key's default value
    std::wstring data; // as the enumerations show it (a DWORD in signed decimal)
    DWORD type = REG_NONE;
};

// One key's entries, each in the registry's own enumeration order.
struct KeyListing {
    std::vector<NamedValue> values;
    std::vector<std::wstring> subKeys;
};

enum class StoredType { Dword, String, Other };
StoredType storedTypeOf(DWORD type);

WString toWString(const std::wstring& text);
std::wstring fromWString(const WString& text);

class SettingsView {
public:
    explicit SettingsView(const Session& session) : session(session) {}

    bool keyExists(const std::wstring& subKey) const;
    // The key's values and sub-keys; empty when the key is missing.
    KeyListing list(const std::wstring& subKey) const;
    // The stored registry type of `name`, when the registry finds it.
    std::optional<DWORD> typeCode(const std::wstring& subKey, const std::wstring& name) const;

private:
    const Session& session;
};

} // namespace vesk_tool
