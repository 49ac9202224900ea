#pragma once

#include "vesk/Vesk.h"

// The built library, loaded the way a host loads it (LoadLibraryW and
// GetProcAddress, or dlopen and dlsym), once per process and kept loaded: the
// settings object belongs to the library and must stay reachable.
namespace HostLibrary {

GetVeskSettingsPtrFn GetSettings();
GetFullVeskRegistryKeyFn GetFullKey();

// GetSettings()() for short.
VeskSettings& Settings();

} // namespace HostLibrary
