#include "cache/VeskCachedSettings.h"

#include "cache/CriticalSectionGuard.h"

// Each override calls the base operation of the same name directly, handing
// it fresh copies of its string arguments (made at the call).

VeskCachedSettings::VeskCachedSettings() = default;

VeskCachedSettings::~VeskCachedSettings() = default;

void VeskCachedSettings::SetInstanceName(WString instanceName)
{
    CriticalSectionGuard guard(cacheLock.get());
    VeskSettings::SetInstanceName(instanceName);
}

WString VeskCachedSettings::GetInstanceName()
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::GetInstanceName();
}

WString VeskCachedSettings::GetLoggingPath()
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::GetLoggingPath();
}

bool VeskCachedSettings::SetIntValue(WString subKey, WString valueName, int value)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::SetIntValue(subKey, valueName, value);
}

int VeskCachedSettings::GetIntValue(WString subKey, WString valueName, int defaultValue)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::GetIntValue(subKey, valueName, defaultValue);
}

bool VeskCachedSettings::SetStringValue(WString subKey, WString valueName, WString value)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::SetStringValue(subKey, valueName, value);
}

WString VeskCachedSettings::GetStringValue(WString subKey, WString valueName, WString defaultValue)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::GetStringValue(subKey, valueName, defaultValue);
}

bool VeskCachedSettings::SetBoolValue(WString subKey, WString valueName, bool value)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::SetBoolValue(subKey, valueName, value);
}

bool VeskCachedSettings::GetBoolValue(WString subKey, WString valueName, bool defaultValue)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::GetBoolValue(subKey, valueName, defaultValue);
}

bool VeskCachedSettings::EnumerateValues(WString subKey, int index, WString& name, WString& value)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::EnumerateValues(subKey, index, name, value);
}

bool VeskCachedSettings::EnumerateSubKeys(WString subKey, int index, WString& name)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::EnumerateSubKeys(subKey, index, name);
}

bool VeskCachedSettings::DeleteKey(WString subKey)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::DeleteKey(subKey);
}

bool VeskCachedSettings::DeleteValue(WString subKey, WString valueName)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::DeleteValue(subKey, valueName);
}

bool VeskCachedSettings::KeyExists(WString subKey)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::KeyExists(subKey);
}
