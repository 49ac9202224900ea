#include "support/text/Unicode.h"

#include "support/text/LittleEndian.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace vesk_text {
namespace {

constexpr char32_t Replacement = 0xFFFD;

bool isSurrogate(char32_t c) { return c >= 0xD800 && c <= 0xDFFF; }
bool isHigh(char32_t c) { return c >= 0xD800 && c <= 0xDBFF; }
bool isLow(char32_t c) { return c >= 0xDC00 && c <= 0xDFFF; }

char32_t combine(char32_t high, char32_t low) { return 0x10000 + ((high - 0xD800) << 10) + (low - 0xDC00); }

// Wide text held as UTF-16LE units (Windows): its bytes are the encoding's.
constexpr bool WideIsUtf16le = sizeof(wchar_t) == 2 && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__;

char32_t unitOf(wchar_t c) { return static_cast<char32_t>(static_cast<std::make_unsigned<wchar_t>::type>(c)); }

// The code point at `i`, advancing past it. A surrogate pair (the only form
// on Windows, possible on Linux too) reads as one code point; an unpaired
// surrogate reads as itself; anything past U+10FFFF as U+FFFD.
char32_t nextCodePoint(std::wstring_view text, std::size_t& i)
{
    const char32_t first = unitOf(text[i++]);
    if (isHigh(first) && i < text.size() && isLow(unitOf(text[i])))
        return combine(first, unitOf(text[i++]));
    return first > 0x10FFFF ? Replacement : first;
}

void appendCodePoint(std::wstring& out, char32_t c)
{
    if (sizeof(wchar_t) == 2 && c >= 0x10000) {
        c -= 0x10000;
        out += static_cast<wchar_t>(0xD800 + (c >> 10));
        out += static_cast<wchar_t>(0xDC00 + (c & 0x3FF));
        return;
    }
    out += static_cast<wchar_t>(c);
}

// Code point `c` as UTF-16 units; an unpaired surrogate as its one unit.
template <typename Append>
void encodeUtf16(char32_t c, Append append)
{
    if (c < 0x10000) {
        append(static_cast<char16_t>(c));
        return;
    }
    c -= 0x10000;
    append(static_cast<char16_t>(0xD800 + (c >> 10)));
    append(static_cast<char16_t>(0xDC00 + (c & 0x3FF)));
}

// `count` UTF-16 units to wide text: pairs joined, each unpaired surrogate
// handed to `unpaired` (which may throw) and then kept.
template <typename UnitAt, typename Unpaired>
std::wstring decodeUtf16(std::size_t count, UnitAt unitAt, Unpaired unpaired)
{
    std::wstring out;
    out.reserve(count);
    for (std::size_t i = 0; i < count; ++i) {
        const char32_t first = unitAt(i);
        if (isHigh(first) && i + 1 < count && isLow(unitAt(i + 1))) {
            appendCodePoint(out, combine(first, unitAt(i + 1)));
            ++i;
            continue;
        }
        if (isSurrogate(first))
            unpaired(i);
        out += static_cast<wchar_t>(first);
    }
    return out;
}

} // namespace

std::u16string toUtf16(std::wstring_view text)
{
    std::u16string units;
    units.reserve(text.size());
    for (std::size_t i = 0; i < text.size();)
        encodeUtf16(nextCodePoint(text, i), [&units](char16_t unit) { units += unit; });
    return units;
}

std::u16string toUtf16(const wchar_t* text) { return text ? toUtf16(std::wstring_view(text)) : std::u16string(); }

std::wstring fromUtf16(std::u16string_view units)
{
    return decodeUtf16(units.size(), [units](std::size_t i) { return char32_t(units[i]); }, [](std::size_t) {});
}

int utf16Units(wchar_t c, char16_t units[2])
{
    std::size_t i = 0;
    int count = 0;
    encodeUtf16(nextCodePoint(std::wstring_view(&c, 1), i), [&](char16_t unit) { units[count++] = unit; });
    return count;
}

bool hasUnpairedSurrogate(std::wstring_view text)
{
    for (std::size_t i = 0; i < text.size();)
        if (isSurrogate(nextCodePoint(text, i)))
            return true;
    return false;
}

std::string toUtf8(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size();) {
        char32_t c = nextCodePoint(text, i);
        if (isSurrogate(c))
            c = Replacement;
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

namespace {

template <typename Bytes>
void putUtf16le(Bytes& out, std::wstring_view text)
{
    if constexpr (WideIsUtf16le) {
        // The text is UTF-16LE already, unpaired surrogates included: its bytes as they are.
        const auto* bytes = reinterpret_cast<const char*>(text.data());
        out.insert(out.end(), bytes, bytes + text.size() * sizeof(wchar_t));
    } else {
        for (std::size_t i = 0; i < text.size();)
            encodeUtf16(nextCodePoint(text, i), [&out](char16_t unit) { appendLittleEndian(out, unit, 2); });
    }
}

} // namespace

std::string toUtf16le(std::wstring_view text)
{
    std::string out;
    out.reserve(text.size() * 2);
    putUtf16le(out, text);
    return out;
}

void appendUtf16le(std::vector<unsigned char>& out, std::wstring_view text) { putUtf16le(out, text); }

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
    auto unitAt = [bytes](std::size_t unit) {
        return static_cast<char32_t>(readLittleEndian(&bytes[2 * unit], 2));
    };
    auto refuse = [](std::size_t unit) { throw DecodeError(2 * unit, "unpaired UTF-16 surrogate"); };
    if constexpr (WideIsUtf16le) {
        // The bytes are the text; only its pairs are checked.
        std::wstring text(bytes.size() / 2, L'\0');
        std::memcpy(&text[0], bytes.data(), bytes.size());
        for (std::size_t i = 0; i < text.size(); ++i) {
            if (!isSurrogate(unitOf(text[i])))
                continue;
            if (!isHigh(unitOf(text[i])) || i + 1 == text.size() || !isLow(unitOf(text[i + 1])))
                refuse(i);
            ++i;
        }
        return text;
    }
    return decodeUtf16(bytes.size() / 2, unitAt, refuse);
}

} // namespace vesk_text
