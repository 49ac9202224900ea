#include "support/sqlite/CaseFold.h"

#include "support/text/Utf16.h"

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

std::string FoldedPath(const std::wstring& path)
{
    std::string key;
    key.reserve(path.size() * 2);
    bool separate = false;
    for (wchar_t c : path) {
        if (c == L'\\') {
            separate = !key.empty();
            continue;
        }
        if (separate)
            key.append("\0\\", 2);
        separate = false;
        AppendFolded(key, c);
    }
    return key;
}

void AppendFolded(std::string& key, wchar_t c)
{
    // FoldUnit leaves surrogates as they are: no case mapping touches them.
    char16_t units[2];
    const int count = Utf16Units(c, units);
    for (int i = 0; i < count; ++i)
        AppendUnit(key, FoldUnit(units[i]));
}

} // namespace Kestlib500
