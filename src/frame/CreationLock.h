#pragma once

#include "cache/CriticalSection.h"

// The lock under which GetVeskSettingsPtr makes the settings object. Made on
// first use; as a static, its deletion joins the library's exit-time list.
CriticalSection& CreationLock();
