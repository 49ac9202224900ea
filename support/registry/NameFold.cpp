#include "support/registry/NameFold.h"

#include "support/win32shim/Win32.h"

#include <cstdint>

#if !defined(_WIN32)
#include <cwctype>
#include <locale.h>
#include <stdexcept>
#endif

namespace Kestlib500 {
namespace {

#if defined(_WIN32)

char16_t MapCase(char16_t unit, DWORD how)
{
    const wchar_t in = static_cast<wchar_t>(unit);
    wchar_t out = in;
    if (LCMapStringW(LOCALE_INVARIANT, how, &in, 1, &out, 1) != 1)
        return unit;
    return static_cast<char16_t>(out);
}

char16_t Lower(char16_t unit) { return MapCase(unit, LCMAP_LOWERCASE); }
char16_t Upper(char16_t unit) { return MapCase(unit, LCMAP_UPPERCASE); }

#else

// The C.UTF-8 locale's mapping, whatever locale the host process has set.
locale_t UnicodeLocale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!locale)
        throw std::runtime_error("registry: the C.UTF-8 locale is missing; it is needed to compare names");
    return locale;
}

char16_t Within(wint_t mapped, char16_t unit) { return mapped <= 0xFFFF ? static_cast<char16_t>(mapped) : unit; }

char16_t Lower(char16_t unit) { return Within(towlower_l(unit, UnicodeLocale()), unit); }
char16_t Upper(char16_t unit) { return Within(towupper_l(unit, UnicodeLocale()), unit); }

#endif

// FoldUnit for one wide character: a character beyond the Basic
// Multilingual Plane (one wchar_t on Linux, never on Windows) stays as it is.
wchar_t FoldWide(wchar_t c)
{
    if (static_cast<std::uint32_t>(c) >> 16 != 0)
        return c;
    return static_cast<wchar_t>(FoldUnit(static_cast<char16_t>(c)));
}

} // namespace

char16_t FoldBeyondAscii(char16_t unit)
{
    if (unit >= 0xD800 && unit <= 0xDFFF)
        return unit;
    const char16_t lower = Lower(unit);
    return Upper(lower) == unit ? lower : unit;
}

std::wstring FoldedName(const std::wstring& name)
{
    std::wstring folded = name;
    for (wchar_t& c : folded)
        c = FoldWide(c);
    return folded;
}

bool SameFoldedName(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (a[i] != b[i] && FoldWide(a[i]) != FoldWide(b[i]))
            return false;
    return true;
}

std::wstring FoldedPath(const std::wstring& path) { return FoldedName(path); }

} // namespace Kestlib500
