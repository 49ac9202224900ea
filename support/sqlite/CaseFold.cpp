#include "support/sqlite/CaseFold.h"

#include <clocale>
#include <cwctype>
#include <locale.h>
#include <stdexcept>

namespace Kestlib500 {
namespace {

// The C.UTF-8 locale's mapping, whatever locale the host process has set.
locale_t UnicodeLocale()
{
    static const locale_t locale = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(nullptr));
    if (!locale)
        throw std::runtime_error("registry store: the C.UTF-8 locale is missing; it is needed to compare names");
    return locale;
}

void AppendUnit(std::string& key, char16_t unit)
{
    key += static_cast<char>(unit >> 8);
    key += static_cast<char>(unit & 0xFF);
}

} // namespace

char16_t FoldUnit(char16_t unit)
{
    if (unit < 0x80)
        return unit >= u'A' && unit <= u'Z' ? static_cast<char16_t>(unit + 0x20) : unit;
    if (unit >= 0xD800 && unit <= 0xDFFF)
        return unit;
    const auto lower = static_cast<unsigned long>(towlower_l(static_cast<wint_t>(unit), UnicodeLocale()));
    return lower <= 0xFFFF ? static_cast<char16_t>(lower) : unit;
}

std::string FoldedName(const wchar_t* name)
{
    std::string key;
    for (; name && *name != L'\0'; ++name)
        AppendFolded(key, *name);
    return key;
}

void AppendFolded(std::string& key, wchar_t c)
{
    const auto code = static_cast<unsigned long>(c);
    if (code > 0xFFFF) {
        // A supplementary character: its surrogate pair, which no case
        // mapping touches.
        const unsigned long offset = code - 0x10000;
        AppendUnit(key, static_cast<char16_t>(0xD800 + (offset >> 10)));
        AppendUnit(key, static_cast<char16_t>(0xDC00 + (offset & 0x3FF)));
        return;
    }
    AppendUnit(key, FoldUnit(static_cast<char16_t>(code)));
}

} // namespace Kestlib500
