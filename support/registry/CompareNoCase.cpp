#include "support/registry/NameFold.h"
#include "support/registry/SString.h"
#include "support/text/Unicode.h"

namespace Kestlib500 {

// The same fold on both back ends, not the system's ordinal comparison:
// Windows' ignores case by upper-casing, which orders "_" after the letters
// and lets "ς" match "σ", unlike the registry.
int CompareNoCase(const wchar_t* a, const wchar_t* b)
{
    const std::u16string left = vesk_text::toUtf16(a);
    const std::u16string right = vesk_text::toUtf16(b);
    for (std::size_t i = 0; i < left.size() && i < right.size(); ++i) {
        const char16_t l = FoldUnit(left[i]);
        const char16_t r = FoldUnit(right[i]);
        if (l != r)
            return l < r ? -1 : 1;
    }
    return left.size() == right.size() ? 0 : left.size() < right.size() ? -1 : 1;
}

} // namespace Kestlib500
