#include "tools/vesk/app/SettingsView.h"

#include "tools/vesk/app/Session.h"
#include "support/registry/RegistryKey.h"

using Kestlib500::RawValue;
using Kestlib500::RegistryKey;

namespace vesk_tool {

StoredType storedTypeOf(DWORD type)
{
    if (type == REG_DWORD)
        return StoredType::Dword;
    return type == REG_SZ ? StoredType::String : StoredType::Other;
}

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
    return RegistryKey::Open(session.keyPath(subKey)).IsOpen();
}

// Positions 0, 1, 2, ... of one open key: each step follows the last, so the
// registry walks its entries once.
KeyListing SettingsView::list(const std::wstring& subKey) const
{
    KeyListing listing;
    const RegistryKey key = RegistryKey::Open(session.keyPath(subKey));
    std::wstring name;
    RawValue value;
    for (DWORD index = 0; key.ValueAt(index, name, value); ++index)
        listing.values.push_back({name, Kestlib500::ValueAsText(value), value.type});
    for (DWORD index = 0; key.SubKeyAt(index, name); ++index)
        listing.subKeys.push_back(name);
    return listing;
}

std::optional<DWORD> SettingsView::typeCode(const std::wstring& subKey, const std::wstring& name) const
{
    DWORD type = REG_NONE;
    if (!RegistryKey::Open(session.keyPath(subKey)).QueryType(name.c_str(), type))
        return std::nullopt;
    return type;
}

} // namespace vesk_tool
