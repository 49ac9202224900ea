#pragma once

#include "support/win32shim/Win32.h"

// Owns one Win32 critical section: initialised with the object, deleted
// with it. Neither copied nor moved, since the section's address is its
// identity.
class CriticalSection {
public:
    CriticalSection() { InitializeCriticalSection(&section); }
    ~CriticalSection() { DeleteCriticalSection(&section); }
    CriticalSection(const CriticalSection&) = delete;
    CriticalSection& operator=(const CriticalSection&) = delete;

    CRITICAL_SECTION* get() { return &section; }

private:
    CRITICAL_SECTION section;
};
