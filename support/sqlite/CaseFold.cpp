#include "support/sqlite/CaseFold.h"

#include "support/Text.h"

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
    const std::u16string units = ToUtf16(name);
    std::string key;
    key.reserve(units.size() * 2);
    for (char16_t unit : units) {
        const char16_t folded = FoldUnit(unit);
        key += static_cast<char>(folded >> 8);
        key += static_cast<char>(folded & 0xFF);
    }
    return key;
}

} // namespace Kestlib500
