#include "support/sqlite/SortKey.h"

#include "support/registry/NameFold.h"
#include "support/text/Unicode.h"

#include <cstdint>
#include <cwchar>

namespace Kestlib500 {
namespace {

// One character is at most two units of two bytes; a separator is two bytes
// in place of its one backslash. Keys are written into room for the worst
// case and cut to size, with no check per byte.
constexpr std::size_t MostBytesPerChar = 4;

char* PutUnit(char* out, char16_t unit)
{
    out[0] = static_cast<char>(unit >> 8);
    out[1] = static_cast<char>(unit & 0xFF);
    return out + 2;
}

// Writes the folded units of `c` at `out`; returns the end.
char* PutFolded(char* out, wchar_t c)
{
    // A unit of the Basic Multilingual Plane short of the surrogates is
    // itself (nearly every name's every character); the rest is converted.
    const auto code = static_cast<std::uint32_t>(c);
    if (code < 0xD800)
        return PutUnit(out, FoldUnit(static_cast<char16_t>(code)));
    char16_t units[2];
    const int count = vesk_text::utf16Units(c, units);
    for (int i = 0; i < count; ++i)
        out = PutUnit(out, FoldUnit(units[i]));
    return out;
}

} // namespace

std::string NameSortKey(const wchar_t* name)
{
    const std::size_t length = name ? std::wcslen(name) : 0;
    std::string key(length * MostBytesPerChar, '\0');
    char* const start = &key[0];
    char* end = start;
    for (std::size_t i = 0; i < length; ++i)
        end = PutFolded(end, name[i]);
    key.resize(static_cast<std::size_t>(end - start));
    return key;
}

std::string PathSortKey(const std::wstring& path)
{
    std::string key(path.size() * MostBytesPerChar, '\0');
    char* const start = &key[0];
    char* end = start;
    bool separate = false;
    for (wchar_t c : path) {
        if (c == L'\\') {
            separate = end != start;
            continue;
        }
        if (separate)
            end = PutUnit(end, u'\\');
        separate = false;
        end = PutFolded(end, c);
    }
    key.resize(static_cast<std::size_t>(end - start));
    return key;
}

} // namespace Kestlib500
