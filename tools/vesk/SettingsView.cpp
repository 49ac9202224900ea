#include "SettingsView.h"

#include "Text.h"

namespace vesk_tool {

WString toWString(const std::wstring& text)
{
    return WString(text.c_str());
}

std::wstring fromWString(const WString& text)
{
    return text.c_str() ? text.c_str() : L"";
}

bool SettingsView::keyExists(const std::wstring& subKey) const
{
    return settings.KeyExists(toWString(subKey));
}

std::vector<NamedValue> SettingsView::values(const std::wstring& subKey) const
{
    std::vector<NamedValue> found;
    for (int index = 0;; ++index) {
        WString name, data;
        if (!settings.EnumerateValues(toWString(subKey), index, name, data))
            break;
        found.push_back({fromWString(name), fromWString(data)});
    }
    // An empty key reports one nameless, empty entry; a real default value
    // holding "" looks the same, so only a typed read can tell them apart.
    if (found.size() == 1 && found[0].name.empty() && found[0].data.empty() && !hasDefaultValue(subKey))
        found.clear();
    return found;
}

bool SettingsView::hasDefaultValue(const std::wstring& subKey) const
{
    const std::wstring absent = L"\x01vesk: no default value\x01";
    try {
        return fromWString(settings.GetStringValue(toWString(subKey), WString(), toWString(absent))) != absent;
    } catch (const VeskSettings::BadKeyTypeError&) {
        return true; // there is one, of a type other than REG_SZ
    }
}

std::vector<std::wstring> SettingsView::subKeys(const std::wstring& subKey) const
{
    std::vector<std::wstring> found;
    for (int index = 0;; ++index) {
        WString name;
        // A real sub-key always has a name; an empty one means "none".
        if (!settings.EnumerateSubKeys(toWString(subKey), index, name) || fromWString(name).empty())
            break;
        found.push_back(fromWString(name));
    }
    return found;
}

std::optional<NamedValue> SettingsView::find(const std::wstring& subKey, const std::wstring& name) const
{
    if (!keyExists(subKey))
        return std::nullopt;
    for (NamedValue& value : values(subKey))
        if (equalsIgnoreCase(value.name, name))
            return std::move(value);
    return std::nullopt;
}

StoredType SettingsView::typeOf(const std::wstring& subKey, const std::wstring& name) const
{
    try {
        settings.GetIntValue(toWString(subKey), toWString(name), 0);
        return StoredType::Dword;
    } catch (const VeskSettings::BadKeyTypeError&) {
    }
    try {
        settings.GetStringValue(toWString(subKey), toWString(name), WString());
        return StoredType::String;
    } catch (const VeskSettings::BadKeyTypeError&) {
    }
    return StoredType::Other;
}

std::wstring SettingsView::join(const std::wstring& parent, const std::wstring& child)
{
    return parent.empty() ? child : parent + L'\\' + child;
}

} // namespace vesk_tool
