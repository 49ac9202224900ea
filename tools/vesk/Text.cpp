#include "Text.h"

#include <cwctype>

namespace vesk_tool {
namespace {

constexpr char32_t Replacement = 0xFFFD;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }

void appendCodePoint(std::wstring& out, char32_t c)
{
    if constexpr (sizeof(wchar_t) == 2) {
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<wchar_t>(0xD800 + (c >> 10));
            out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
            return;
        }
    }
    out += static_cast<wchar_t>(c);
}

// The code point at `i`, advancing past it; a lone surrogate reads as U+FFFD.
char32_t nextCodePoint(std::wstring_view text, std::size_t& i)
{
    const auto first = static_cast<char32_t>(static_cast<std::make_unsigned<wchar_t>::type>(text[i++]));
    if constexpr (sizeof(wchar_t) == 2) {
        if (first >= 0xD800 && first <= 0xDBFF && i < text.size()) {
            const auto second = static_cast<char32_t>(static_cast<char16_t>(text[i]));
            if (second >= 0xDC00 && second <= 0xDFFF) {
                ++i;
                return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
            }
        }
    }
    return isSurrogate(first) || first > 0x10FFFF ? Replacement : first;
}

wchar_t fold(wchar_t c)
{
    if (c >= L'A' && c <= L'Z')
        return static_cast<wchar_t>(c - L'A' + L'a');
    return static_cast<wchar_t>(std::towlower(static_cast<std::wint_t>(c)));
}

} // namespace

std::string toUtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        const char32_t c = nextCodePoint(text, i);
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string toUtf16le(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    auto unit = [&out](char32_t u) {
        out += static_cast<char>(u & 0xFF);
        out += static_cast<char>(u >> 8);
    };
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = nextCodePoint(text, i);
        if (c >= 0x10000) {
            c -= 0x10000;
            unit(0xD800 + (c >> 10));
            unit(0xDC00 + (c & 0x3FF));
        } else {
            unit(c);
        }
    }
    return out;
}

std::wstring fromUtf8(std::string_view bytes)
{
    std::wstring out;
    out.reserve(bytes.size());
    for (std::size_t i = 0; i < bytes.size();) {
        const std::size_t start = i;
        const auto lead = static_cast<unsigned char>(bytes[i++]);
        if (lead < 0x80) {
            out += static_cast<wchar_t>(lead);
            continue;
        }
        const int extra = lead >= 0xF0 ? 3 : lead >= 0xE0 ? 2 : lead >= 0xC0 ? 1 : -1;
        if (extra < 0 || lead > 0xF4)
            throw DecodeError(start, "invalid UTF-8 byte");
        if (i + static_cast<std::size_t>(extra) > bytes.size())
            throw DecodeError(start, "UTF-8 sequence cut short at the end of the text");
        char32_t c = lead & (0x3F >> extra);
        for (int k = 0; k < extra; ++k) {
            const auto next = static_cast<unsigned char>(bytes[i++]);
            if ((next & 0xC0) != 0x80)
                throw DecodeError(start, "invalid UTF-8 sequence");
            c = (c << 6) | (next & 0x3F);
        }
        static const char32_t smallest[] = {0, 0x80, 0x800, 0x10000};
        if (c < smallest[extra] || c > 0x10FFFF || isSurrogate(c))
            throw DecodeError(start, "invalid UTF-8 sequence");
        appendCodePoint(out, c);
    }
    return out;
}

std::wstring fromUtf16le(std::string_view bytes)
{
    if (bytes.size() % 2 != 0)
        throw DecodeError(bytes.size() - 1, "UTF-16 text cut short: odd number of bytes");
    auto unitAt = [&bytes](std::size_t at) {
        return static_cast<char32_t>(static_cast<unsigned char>(bytes[at]) |
                                     (static_cast<unsigned char>(bytes[at + 1]) << 8));
    };
    std::wstring out;
    out.reserve(bytes.size() / 2);
    for (std::size_t i = 0; i < bytes.size(); i += 2) {
        const char32_t first = unitAt(i);
        if (!isSurrogate(first)) {
            appendCodePoint(out, first);
            continue;
        }
        if (first > 0xDBFF || i + 2 >= bytes.size())
            throw DecodeError(i, "unpaired UTF-16 surrogate");
        const char32_t second = unitAt(i + 2);
        if (second < 0xDC00 || second > 0xDFFF)
            throw DecodeError(i, "unpaired UTF-16 surrogate");
        appendCodePoint(out, 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00));
        i += 2;
    }
    return out;
}

bool equalsIgnoreCase(std::wstring_view a, std::wstring_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (fold(a[i]) != fold(b[i]))
            return false;
    return true;
}

bool startsWithIgnoreCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

} // namespace vesk_tool
