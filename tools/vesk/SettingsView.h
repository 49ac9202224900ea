#pragma once

#include "vesk/VeskSettings.h"

#include <optional>
#include <string>
#include <vector>

// The settings as a tree the commands can walk: the positional enumerations
// (never cached by the library) turned into lists, without the phantom entry
// the library reports at position 0 of an empty key.
namespace vesk_tool {

struct NamedValue {
    std::wstring name; // empty for the key's default value
    std::wstring data; // as the enumeration shows it (a DWORD in signed decimal)
};

enum class StoredType { Dword, String, Other };

WString toWString(const std::wstring& text);
std::wstring fromWString(const WString& text);

class SettingsView {
public:
    explicit SettingsView(VeskSettings& settings) : settings(settings) {}

    bool keyExists(const std::wstring& subKey) const;
    std::vector<NamedValue> values(const std::wstring& subKey) const;
    std::vector<std::wstring> subKeys(const std::wstring& subKey) const;
    // The value of that name in any case, if the key holds one.
    std::optional<NamedValue> find(const std::wstring& subKey, const std::wstring& name) const;
    // The enumeration does not tell types, so this asks the typed reads,
    // which refuse every type but their own.
    StoredType typeOf(const std::wstring& subKey, const std::wstring& name) const;

    // "A\B" + "C" = "A\B\C"; a child of the instance's key stands alone.
    static std::wstring join(const std::wstring& parent, const std::wstring& child);

private:
    bool hasDefaultValue(const std::wstring& subKey) const;

    VeskSettings& settings;
};

} // namespace vesk_tool
