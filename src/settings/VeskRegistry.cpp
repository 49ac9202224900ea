#include "settings/VeskRegistry.h"

using Kestlib500::SWCharString;

VeskRegistry::VeskRegistry(const SWCharString& instanceName, const SWCharString& subKey)
    : ServerRegistry(SWCharString(L"Orvane"), instanceName)
{
    if (!subKey.isEmpty())
        appendKey(subKey);
}

const std::wstring& VeskRegistry::ServerKeyPath()
{
    static const std::wstring path = VeskRegistry(SWCharString(L""), SWCharString(L"")).GetPath();
    return path;
}
