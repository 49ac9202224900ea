#pragma once

#include "vesk/VeskSettings.h"
#include "vesk/WString.h"

#if defined(_WIN32)
#define VESK_EXPORT
#else
#define VESK_EXPORT __attribute__((visibility("default")))
#endif

// The process-wide settings object, created on the first call. The library
// owns it; every call returns the same pointer.
extern "C" VESK_EXPORT VeskSettings* GetVeskSettingsPtr();

// "Software\Halvorn\Tessaly\Orvane": the same static text on every call.
extern "C" VESK_EXPORT const wchar_t* GetFullVeskRegistryKey();

// For hosts that load the library at run time (GetProcAddress / dlsym).
typedef VeskSettings* (*GetVeskSettingsPtrFn)();
typedef const wchar_t* (*GetFullVeskRegistryKeyFn)();
