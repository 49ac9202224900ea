#include "cache/VeskCachedSettings.h"

#include "cache/CriticalSectionGuard.h"

// Each override calls the base operation of the same name directly, never
// through the virtual table, handing it fresh copies of its string arguments
// (made at the call); the slot table gets its own copy of the sub-key.

VeskCachedSettings::VeskCachedSettings() = default;

VeskCachedSettings::~VeskCachedSettings() = default;

// A hit answers without the registry; a miss reads it and caches whatever it
// returned, the caller's default included. A read that throws caches nothing.
template <typename Value, typename Read>
Value VeskCachedSettings::CachedRead(const WString& subKey, const WString& valueName, Read readRegistry)
{
    CriticalSectionGuard guard(cacheLock.get());
    const int slot = slots.FindOrCreateSlot(subKey);
    if (slot < 0)
        return readRegistry();
    ValueCache<Value>& cache = slots.Cache<Value>(slot);
    const auto cached = cache.find(valueName);
    if (cached != cache.end())
        return cached->second;
    Value result = readRegistry();
    cache.emplace(valueName, result);
    return result;
}

// Only a successful write replaces the entry, and only in its own kind's cache.
template <typename Value, typename Write>
bool VeskCachedSettings::CachedWrite(const WString& subKey, const WString& valueName, const Value& value, Write writeRegistry)
{
    CriticalSectionGuard guard(cacheLock.get());
    const int slot = slots.FindOrCreateSlot(subKey);
    const bool written = writeRegistry();
    if (slot >= 0 && written) {
        ValueCache<Value>& cache = slots.Cache<Value>(slot);
        cache.erase(valueName);
        cache.emplace(valueName, value);
    }
    return written;
}

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
    return CachedWrite(subKey, valueName, value, [&] { return VeskSettings::SetIntValue(subKey, valueName, value); });
}

int VeskCachedSettings::GetIntValue(WString subKey, WString valueName, int defaultValue)
{
    return CachedRead<int>(
        subKey, valueName, [&] { return VeskSettings::GetIntValue(subKey, valueName, defaultValue); });
}

bool VeskCachedSettings::SetStringValue(WString subKey, WString valueName, WString value)
{
    return CachedWrite(subKey, valueName, value, [&] { return VeskSettings::SetStringValue(subKey, valueName, value); });
}

WString VeskCachedSettings::GetStringValue(WString subKey, WString valueName, WString defaultValue)
{
    return CachedRead<WString>(
        subKey, valueName, [&] { return VeskSettings::GetStringValue(subKey, valueName, defaultValue); });
}

bool VeskCachedSettings::SetBoolValue(WString subKey, WString valueName, bool value)
{
    return CachedWrite(subKey, valueName, value, [&] { return VeskSettings::SetBoolValue(subKey, valueName, value); });
}

bool VeskCachedSettings::GetBoolValue(WString subKey, WString valueName, bool defaultValue)
{
    return CachedRead<bool>(
        subKey, valueName, [&] { return VeskSettings::GetBoolValue(subKey, valueName, defaultValue); });
}

// The enumerations and the existence test never touch the slot table.

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

bool VeskCachedSettings::KeyExists(WString subKey)
{
    CriticalSectionGuard guard(cacheLock.get());
    return VeskSettings::KeyExists(subKey);
}

// The deletions drop the cached entries first and keep them dropped whatever
// the registry then says: under the lock, nothing can cache them again in
// between. Only the slot of exactly this sub-key text is touched.

bool VeskCachedSettings::DeleteKey(WString subKey)
{
    CriticalSectionGuard guard(cacheLock.get());
    const int slot = slots.FindOrCreateSlot(subKey);
    if (slot >= 0)
        slots.FreeSlot(slot);
    return VeskSettings::DeleteKey(subKey);
}

bool VeskCachedSettings::DeleteValue(WString subKey, WString valueName)
{
    CriticalSectionGuard guard(cacheLock.get());
    const int slot = slots.FindOrCreateSlot(subKey);
    if (slot >= 0)
        slots.ForgetValue(slot, valueName);
    return VeskSettings::DeleteValue(subKey, valueName);
}
