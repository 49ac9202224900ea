#pragma once

#include <string>
#include <string_view>

namespace Kestlib500 {

// FoldUnit for the units past ASCII (the locale's tables).
char16_t FoldBeyondAscii(char16_t unit);

// Folds the case of one UTF-16 unit exactly as the registry does when it
// compares and orders names (Wine's registry, measured on every unit of the
// Basic Multilingual Plane): a unit becomes its simple lower-case mapping
// when that maps back to it in upper case, and stays as it is otherwise.
// So "É" and "é" match, and "Σ" and "σ", but not "ς"; "İ", the titlecase
// "ǅ", the Kelvin sign and "ẞ" match nothing else; surrogates are never
// folded, so characters outside the Basic Multilingual Plane match only
// themselves. Names then order by their folded units as unsigned numbers,
// "_" before the letters. ASCII, nearly every name, is folded in line.
inline char16_t FoldUnit(char16_t unit)
{
    if (unit < 0x80)
        return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit;
    return FoldBeyondAscii(unit);
}

// A name with each unit folded by FoldUnit: two names are one registry name
// exactly when their folded names are equal (characters beyond the Basic
// Multilingual Plane stay as they are).
std::wstring FoldedName(const std::wstring& name);

// Whether FoldedName(a) == FoldedName(b), without building either.
bool SameFoldedName(std::wstring_view a, std::wstring_view b);

// A key path folded element by element: two paths name one key exactly
// when their folded paths are equal (the backslashes stay).
std::wstring FoldedPath(const std::wstring& path);

} // namespace Kestlib500
