#pragma once

#include <string>

namespace Kestlib500 {

// The registry's texts are UTF-16. On Windows wchar_t already is a UTF-16
// unit; where it is wider, these convert (supplementary characters become
// surrogate pairs and back). A null text converts as the empty one.
std::u16string ToUtf16(const wchar_t* text);
// The one or two UTF-16 units of one character; returns how many.
int Utf16Units(wchar_t c, char16_t units[2]);
std::wstring FromUtf16(const char16_t* units, std::size_t count);

} // namespace Kestlib500
