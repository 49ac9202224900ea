#pragma once

#include "support/win32shim/Win32.h"

// Holds a critical section for its scope: entered on construction, left on
// destruction, also when an exception passes.
class CriticalSectionGuard {
public:
    explicit CriticalSectionGuard(CRITICAL_SECTION* section) : section(section) { EnterCriticalSection(section); }
    ~CriticalSectionGuard() { LeaveCriticalSection(section); }
    CriticalSectionGuard(const CriticalSectionGuard&) = delete;
    CriticalSectionGuard& operator=(const CriticalSectionGuard&) = delete;

private:
    CRITICAL_SECTION* section;
};
