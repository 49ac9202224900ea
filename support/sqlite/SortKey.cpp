#include "support/sqlite/SortKey.h"

#include "support/registry/NameFold.h"
#include "support/text/Unicode.h"

#include <cstdint>
#include <cwchar>

namespace Kestlib500 {
namespace {

// Writes a key into room made beforehand, two bytes a character: exact for
// the Basic Multilingual Plane (nearly every name) and for a separator in
// place of its backslash. A character of two units makes room for its second.
// Bytes go through a pointer of its own, so that no write reloads the string.
class KeyWriter {
public:
    KeyWriter(std::string& key, std::size_t characters) : key(key)
    {
        key.resize(2 * characters);
        start = out = &key[0];
    }
    ~KeyWriter() { key.resize(static_cast<std::size_t>(out - start)); }
    KeyWriter(const KeyWriter&) = delete;
    KeyWriter& operator=(const KeyWriter&) = delete;

    bool Empty() const { return out == start; }

    void Put(char16_t unit)
    {
        out[0] = static_cast<char>(unit >> 8);
        out[1] = static_cast<char>(unit & 0xFF);
        out += 2;
    }

    void PutFolded(wchar_t c)
    {
        // Short of the surrogates, a character of the plane is its one unit.
        const auto code = static_cast<std::uint32_t>(c);
        if (code < 0xD800) {
            Put(FoldUnit(static_cast<char16_t>(code)));
            return;
        }
        char16_t units[2];
        const int count = vesk_text::utf16Units(c, units);
        if (count > 1) {
            const std::size_t at = static_cast<std::size_t>(out - start);
            key.resize(key.size() + 2);
            start = &key[0];
            out = start + at;
        }
        for (int i = 0; i < count; ++i)
            Put(FoldUnit(units[i]));
    }

private:
    std::string& key;
    char* start;
    char* out;
};

} // namespace

void NameSortKey(const wchar_t* name, std::string& key)
{
    const std::size_t length = name ? std::wcslen(name) : 0;
    KeyWriter writer(key, length);
    for (std::size_t i = 0; i < length; ++i)
        writer.PutFolded(name[i]);
}

std::string NameSortKey(const wchar_t* name)
{
    std::string key;
    NameSortKey(name, key);
    return key;
}

void PathSortKey(const std::wstring& path, std::string& key)
{
    KeyWriter writer(key, path.size());
    bool separate = false;
    for (wchar_t c : path) {
        if (c == L'\\') {
            separate = !writer.Empty();
            continue;
        }
        if (separate)
            writer.Put(u'\\');
        separate = false;
        writer.PutFolded(c);
    }
}

std::string PathSortKey(const std::wstring& path)
{
    std::string key;
    PathSortKey(path, key);
    return key;
}

} // namespace Kestlib500
