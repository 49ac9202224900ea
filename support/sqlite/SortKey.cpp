#include "support/sqlite/SortKey.h"

#include "support/registry/NameFold.h"
#include "support/text/Unicode.h"

namespace Kestlib500 {
namespace {

void AppendUnit(std::string& key, char16_t unit)
{
    key += static_cast<char>(unit >> 8);
    key += static_cast<char>(unit & 0xFF);
}

} // namespace

std::string NameSortKey(const wchar_t* name)
{
    std::string key;
    for (; name && *name != L'\0'; ++name)
        AppendSortKey(key, *name);
    return key;
}

std::string PathSortKey(const std::wstring& path)
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
        AppendSortKey(key, c);
    }
    return key;
}

void AppendSortKey(std::string& key, wchar_t c)
{
    char16_t units[2];
    const int count = vesk_text::utf16Units(c, units);
    for (int i = 0; i < count; ++i)
        AppendUnit(key, FoldUnit(units[i]));
}

} // namespace Kestlib500
