// The two exports: the process-wide settings object and the server key path.
#include "vesk/Vesk.h"

#include "cache/CriticalSection.h"
#include "cache/CriticalSectionGuard.h"
#include "cache/VeskCachedSettings.h"

namespace {

// Set once by the first successful GetVeskSettingsPtr and never reset: the
// library owns the object and never destroys it.
VeskSettings* settings = nullptr;

const wchar_t* const fullVeskRegistryKey = L"Software\\Halvorn\\Tessaly\\Orvane";

} // namespace

extern "C" VeskSettings* GetVeskSettingsPtr()
{
    // Made (thread-safely) on the first call; as a static, its deletion joins
    // the library's exit-time list and runs when the library is unloaded.
    static CriticalSection creationLock;
    CriticalSectionGuard guard(creationLock.get());
    if (!settings)
        settings = new VeskCachedSettings();
    return settings;
}

extern "C" const wchar_t* GetFullVeskRegistryKey() { return fullVeskRegistryKey; }
