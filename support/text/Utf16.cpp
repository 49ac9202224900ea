#include "support/text/Utf16.h"

namespace Kestlib500 {

std::u16string ToUtf16(const wchar_t* text)
{
    std::u16string units;
    if (!text)
        return units;
    for (; *text != L'\0'; ++text) {
        char16_t pair[2];
        units.append(pair, static_cast<std::size_t>(Utf16Units(*text, pair)));
    }
    return units;
}

int Utf16Units(wchar_t c, char16_t units[2])
{
    const auto code = static_cast<unsigned long>(c);
    if (code <= 0xFFFF || code > 0x10FFFF) {
        units[0] = static_cast<char16_t>(code);
        return 1;
    }
    const unsigned long offset = code - 0x10000;
    units[0] = static_cast<char16_t>(0xD800 + (offset >> 10));
    units[1] = static_cast<char16_t>(0xDC00 + (offset & 0x3FF));
    return 2;
}

std::wstring FromUtf16(const char16_t* units, std::size_t count)
{
    std::wstring text;
    text.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const char16_t unit = units[i];
        const bool pairs = sizeof(wchar_t) > 2 && unit >= 0xD800 && unit <= 0xDBFF && i + 1 < count
            && units[i + 1] >= 0xDC00 && units[i + 1] <= 0xDFFF;
        if (pairs) {
            const unsigned long code = 0x10000 + ((unit - 0xD800ul) << 10) + (units[i + 1] - 0xDC00ul);
            text.push_back(static_cast<wchar_t>(code));
            ++i;
        } else {
            text.push_back(static_cast<wchar_t>(unit));
        }
    }
    return text;
}

} // namespace Kestlib500
