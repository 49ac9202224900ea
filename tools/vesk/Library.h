#pragma once

#include "vesk/Vesk.h"

#include <string>

// The vesk library, loaded at run time from where the tool is installed:
// the tool is a host of the library like any other and does not link it.
namespace vesk_tool {

class Library {
public:
    // Loads the library and resolves its entry points; throws
    // Failure(StoreFailure) naming every place it looked.
    Library();

    // The process-wide settings object; the library owns it.
    VeskSettings& settings() const;
    // "Software\...\Orvane": the key every instance lives under.
    std::wstring serverKey() const;

private:
    // The library stays loaded until the process ends: the settings object
    // lives inside it, and unloading it first would gain nothing.
    GetVeskSettingsPtrFn getSettings = nullptr;
    GetFullVeskRegistryKeyFn getServerKey = nullptr;
};

} // namespace vesk_tool
