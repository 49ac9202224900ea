#include "support/registry/SString.h"
#include "support/win32shim/Win32.h"

#if !defined(_WIN32)
#include "support/sqlite/CaseFold.h"
#endif

namespace Kestlib500 {

int CompareNoCase(const wchar_t* a, const wchar_t* b)
{
#if defined(_WIN32)
    // The registry's own ordinal, case-insensitive comparison.
    return CompareStringOrdinal(a ? a : L"", -1, b ? b : L"", -1, TRUE) - CSTR_EQUAL;
#else
    return FoldedName(a).compare(FoldedName(b));
#endif
}

} // namespace Kestlib500
