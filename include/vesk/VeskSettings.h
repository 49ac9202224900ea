#pragma once

#include "vesk/WString.h"

// Hosts catch VeskSettings::BadKeyTypeError by type, so on ELF its type
// information stays visible while the rest of the library is hidden.
#if defined(_WIN32)
#define VESK_VISIBLE
#else
#define VESK_VISIBLE __attribute__((visibility("default")))
#endif

// The settings interface. Hosts reach it only through the virtual table of the
// object GetVeskSettingsPtr returns, so the order of the operations below is
// part of the interface and never changes.
//
// Strings: every WString argument is taken by value and owned by the
// operation; every WString result is a fresh copy the caller owns; WString&
// parameters are written only when the operation returns true.
//
// What a host may catch: BadKeyTypeError (below); std::runtime_error when the
// registry or its store fails (what() says what failed and what to do); and
// std::bad_alloc when memory runs out. Nothing else is thrown.
class VeskSettings {
public:
    // Thrown by the typed reads when the value is stored under another
    // registry type than the one asked for. Carries nothing but its type.
    class VESK_VISIBLE BadKeyTypeError {};

    VeskSettings();

    // Takes effect from the next operation on; opens no key.
    virtual void SetInstanceName(WString instanceName);
    virtual WString GetInstanceName();
    // Reads the logging key until it yields a non-empty path, then keeps it.
    virtual WString GetLoggingPath();

    // Writes report the registry's result; reads return the default when the
    // value or key is missing and throw BadKeyTypeError on a wrong stored type.
    virtual bool SetIntValue(WString subKey, WString valueName, int value);
    virtual int GetIntValue(WString subKey, WString valueName, int defaultValue);
    virtual bool SetStringValue(WString subKey, WString valueName, WString value);
    virtual WString GetStringValue(WString subKey, WString valueName, WString defaultValue);
    virtual bool SetBoolValue(WString subKey, WString valueName, bool value);
    virtual bool GetBoolValue(WString subKey, WString valueName, bool defaultValue);

    // Positional: the entry at `index` (0 or below reads position 0); false
    // past the last entry, with `name` and `value` left as they were.
    virtual bool EnumerateValues(WString subKey, int index, WString& name, WString& value);
    virtual bool EnumerateSubKeys(WString subKey, int index, WString& name);
    // Deletes the whole subtree; an empty subKey deletes the instance's key.
    virtual bool DeleteKey(WString subKey);
    virtual bool DeleteValue(WString subKey, WString valueName);
    virtual bool KeyExists(WString subKey);

    virtual ~VeskSettings();

private:
    VeskSettings(const VeskSettings&) = delete;
    VeskSettings& operator=(const VeskSettings&) = delete;

    WString instanceName;
    WString loggingPath;
};
