#pragma once

#include "cache/CriticalSection.h"
#include "cache/SlotTable.h"
#include "vesk/VeskSettings.h"

// The settings object hosts get. Every operation runs under one lock,
// registry access included, so any number of threads may share it; typed
// reads are answered from the sub-key's caches once read or written (defaults
// included, never expiring), and the deletions drop what they delete first.
class VeskCachedSettings : public VeskSettings {
public:
    VeskCachedSettings();

    void SetInstanceName(WString instanceName) override;
    WString GetInstanceName() override;
    WString GetLoggingPath() override;

    bool SetIntValue(WString subKey, WString valueName, int value) override;
    int GetIntValue(WString subKey, WString valueName, int defaultValue) override;
    bool SetStringValue(WString subKey, WString valueName, WString value) override;
    WString GetStringValue(WString subKey, WString valueName, WString defaultValue) override;
    bool SetBoolValue(WString subKey, WString valueName, bool value) override;
    bool GetBoolValue(WString subKey, WString valueName, bool defaultValue) override;

    bool EnumerateValues(WString subKey, int index, WString& name, WString& value) override;
    bool EnumerateSubKeys(WString subKey, int index, WString& name) override;
    bool DeleteKey(WString subKey) override;
    bool DeleteValue(WString subKey, WString valueName) override;
    bool KeyExists(WString subKey) override;

    // Takes no lock: the host must have ended every use of the object.
    ~VeskCachedSettings() override;

private:
    template <typename Value, typename Read>
    Value CachedRead(const WString& subKey, const WString& valueName, Read readRegistry);
    template <typename Value, typename Write>
    bool CachedWrite(const WString& subKey, const WString& valueName, const Value& value, Write writeRegistry);

    CriticalSection cacheLock;
    SlotTable slots;
};
