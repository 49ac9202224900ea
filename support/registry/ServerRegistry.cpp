#include "support/registry/ServerRegistry.h"


namespace Kestlib500 {

ServerRegistry::ServerRegistry(const SWCharString& serverName, const SWCharString& instanceName)
{
    AppendToPath(serverName.c_str());
    // A null instance name (its copy failed) must not address the server key
    // above every instance: appended, it leaves an empty element, and a path
    // with one names no key.
    if (!instanceName.c_str() || !instanceName.isEmpty())
        AppendToPath(instanceName.c_str());
}

void ServerRegistry::appendKey(const SWCharString& subKey) { AppendToPath(subKey.c_str()); }

bool ServerRegistry::ReadText(const SWCharString& name, std::wstring& text)
{
    const RawValue* value = ReadStored(name.c_str());
    if (!value)
        return false;
    text = ValueAsText(*value);
    return true;
}

SWCharString ServerRegistry::ReadValue(const SWCharString& name) { return ReadValue(name, SWCharString(L"")); }

SWCharString ServerRegistry::ReadValue(const SWCharString& name, DWORD defaultValue)
{
    std::wstring text;
    if (!ReadText(name, text))
        text = std::to_wstring(static_cast<int>(defaultValue));
    return SWCharString(text.c_str());
}

SWCharString ServerRegistry::ReadValue(const SWCharString& name, const SWCharString& defaultValue)
{
    std::wstring text;
    if (!ReadText(name, text))
        return defaultValue;
    return SWCharString(text.c_str());
}

Registry::ValueIterator ServerRegistry::EnumValues()
{
    BeginReading();
    return ValueIterator(RegistryKey::Open(GetPath()));
}

Registry::KeyIterator ServerRegistry::EnumSubKeys()
{
    BeginReading();
    return KeyIterator(RegistryKey::Open(GetPath()));
}

} // namespace Kestlib500
