// The two exports: the process-wide settings object and the server key path.
#include "vesk/Vesk.h"

#include "cache/CriticalSectionGuard.h"
#include "cache/VeskCachedSettings.h"
#include "frame/CreationLock.h"
#include "settings/VeskRegistry.h"

namespace {

// Set once by the first successful GetVeskSettingsPtr and never reset: the
// library owns the object and never destroys it.
VeskSettings* settings = nullptr;

} // namespace

CriticalSection& CreationLock()
{
    static CriticalSection creationLock;
    return creationLock;
}

extern "C" VeskSettings* GetVeskSettingsPtr()
{
    CriticalSectionGuard guard(CreationLock().get());
    if (!settings)
        settings = new VeskCachedSettings();
    return settings;
}

extern "C" const wchar_t* GetFullVeskRegistryKey() { return VeskRegistry::ServerKeyPath().c_str(); }
