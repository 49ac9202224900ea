// The registry side of every settings operation: each call builds its own
// key object for the instance name held now, works through it and drops it.
#include "vesk/VeskSettings.h"

#include "settings/LoggingRegistry.h"
#include "settings/VeskRegistry.h"
#include "support/registry/StringConv.h"

using Kestlib500::Registry;
using Kestlib500::SWCharString;

namespace {

VeskRegistry KeyFor(const WString& instanceName, const WString& subKey)
{
    return VeskRegistry(SWCharString(instanceName.c_str()), SWCharString(subKey.c_str()));
}

// A value stored under another type is refused before anything is read; a
// missing one is no error, the read then gives its default.
void RequireStoredType(VeskRegistry& key, const WString& valueName, DWORD expected)
{
    DWORD stored = 0;
    if (key.GetType(SWCharString(valueName.c_str()), stored) && stored != expected)
        throw VeskSettings::BadKeyTypeError();
}

const wchar_t* BoolText(bool value) { return value ? L"True" : L"False"; }

} // namespace

VeskSettings::VeskSettings() = default;

// Members go in reverse order: the logging path first, then the instance name.
VeskSettings::~VeskSettings() = default;

void VeskSettings::SetInstanceName(WString instanceName) { this->instanceName = instanceName; }

WString VeskSettings::GetInstanceName() { return instanceName; }

WString VeskSettings::GetLoggingPath()
{
    if (WString::compare(loggingPath, WString(L"")) == 0) {
        LoggingRegistry key;
        const SWCharString path = key.ReadLoggingPath();
        loggingPath = WString(path.c_str());
    }
    return loggingPath;
}

bool VeskSettings::SetIntValue(WString subKey, WString valueName, int value)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    return key.WriteValue(SWCharString(valueName.c_str()), static_cast<DWORD>(value));
}

int VeskSettings::GetIntValue(WString subKey, WString valueName, int defaultValue)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    RequireStoredType(key, valueName, REG_DWORD);
    const SWCharString text = key.ReadValue(SWCharString(valueName.c_str()), static_cast<DWORD>(defaultValue));
    int number = 0;
    Kestlib500::StringConvToInteger(text.c_str(), number, L'\0', 0x7FFFFFFF, 0x0CCCCCCC, 10, true);
    return number;
}

bool VeskSettings::SetStringValue(WString subKey, WString valueName, WString value)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    return key.WriteValue(SWCharString(valueName.c_str()), SWCharString(value.c_str()));
}

WString VeskSettings::GetStringValue(WString subKey, WString valueName, WString defaultValue)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    RequireStoredType(key, valueName, REG_SZ);
    const SWCharString text = key.ReadValue(SWCharString(valueName.c_str()), SWCharString(defaultValue.c_str()));
    return WString(text.c_str());
}

bool VeskSettings::SetBoolValue(WString subKey, WString valueName, bool value)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    return key.WriteValue(SWCharString(valueName.c_str()), SWCharString(BoolText(value)));
}

bool VeskSettings::GetBoolValue(WString subKey, WString valueName, bool defaultValue)
{
    const wchar_t* defaultText = BoolText(defaultValue);
    VeskRegistry key = KeyFor(instanceName, subKey);
    RequireStoredType(key, valueName, REG_SZ);
    const SWCharString text = key.ReadValue(SWCharString(valueName.c_str()), SWCharString(defaultText));
    return text.compareNoCase(L"True") == 0;
}

bool VeskSettings::EnumerateValues(WString subKey, int index, WString& name, WString& value)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    Registry::ValueIterator values = key.EnumValues();
    for (int step = 0; step < index; ++step)
        if (!values.NextValue())
            return false;
    name = values.GetName().c_str();
    value = values.GetValue().c_str();
    return true;
}

bool VeskSettings::EnumerateSubKeys(WString subKey, int index, WString& name)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    Registry::KeyIterator keys = key.EnumSubKeys();
    for (int step = 0; step < index; ++step)
        if (!keys.NextKey())
            return false;
    name = keys.GetKey().c_str();
    return true;
}

bool VeskSettings::DeleteKey(WString subKey)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    return key.DeleteKey();
}

bool VeskSettings::DeleteValue(WString subKey, WString valueName)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    return key.DeleteValue(SWCharString(valueName.c_str()));
}

bool VeskSettings::KeyExists(WString subKey)
{
    VeskRegistry key = KeyFor(instanceName, subKey);
    return key.KeyExists();
}
