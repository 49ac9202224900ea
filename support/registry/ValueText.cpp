#include "support/registry/ValueText.h"

#include "support/text/LittleEndian.h"
#include "support/text/Unicode.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

namespace Kestlib500 {
namespace {

std::u16string UnitsOf(const std::vector<unsigned char>& data)
{
    std::u16string units(data.size() / 2, u'\0');
    for (std::size_t i = 0; i < units.size(); ++i)
        units[i] = static_cast<char16_t>(vesk_text::readLittleEndian(&data[2 * i], 2));
    return units;
}

// The text from `from` up to the next NUL (or the end); `end` gets its place.
std::wstring TextAt(const std::u16string& units, std::size_t from, std::size_t& end)
{
    end = std::min(units.find(u'\0', from), units.size());
    return vesk_text::fromUtf16(std::u16string_view(units).substr(from, end - from));
}

// The strings of a REG_MULTI_SZ, up to the empty one that ends the list.
std::wstring MultiText(const std::u16string& units)
{
    std::wstring joined;
    std::size_t end = 0;
    for (std::size_t from = 0; from < units.size() && units[from] != u'\0'; from = end + 1) {
        if (from > 0)
            joined += L'\n';
        joined += TextAt(units, from, end);
    }
    return joined;
}

std::wstring HexText(const std::vector<unsigned char>& data)
{
    static const wchar_t digits[] = L"0123456789abcdef";
    std::wstring text;
    text.reserve(data.size() * 2);
    for (unsigned char byte : data) {
        text += digits[byte >> 4];
        text += digits[byte & 0xF];
    }
    return text;
}

// The decimal of a number (to_wstring formats through the C library's
// wide printf, many times slower).
template <typename Number>
std::wstring Decimal(Number number)
{
    char digits[24];
    char* const end = std::to_chars(digits, digits + sizeof digits, number).ptr;
    return std::wstring(digits, end);
}

template <typename Number>
Number LittleEndian(const std::vector<unsigned char>& data)
{
    return static_cast<Number>(vesk_text::readLittleEndian(data.data(), sizeof(Number)));
}

} // namespace

std::wstring ValueAsText(const RawValue& value)
{
    switch (value.type) {
    case REG_SZ:
    case REG_EXPAND_SZ:
    {
        std::size_t end = 0;
        return TextAt(UnitsOf(value.data), 0, end);
    }
    case REG_MULTI_SZ:
        return MultiText(UnitsOf(value.data));
    case REG_DWORD:
        if (value.data.size() == 4)
            return Decimal(LittleEndian<std::int32_t>(value.data));
        break;
    case REG_QWORD:
        if (value.data.size() == 8)
            return Decimal(LittleEndian<std::uint64_t>(value.data));
        break;
    }
    return HexText(value.data);
}

std::vector<unsigned char> TextBytes(const wchar_t* text)
{
    const std::string units = vesk_text::toUtf16le(text ? text : L"");
    std::vector<unsigned char> bytes(units.begin(), units.end());
    bytes.resize(bytes.size() + 2, 0); // the terminating NUL, counted in the size
    return bytes;
}

std::vector<unsigned char> FramedForSetValue(const std::vector<unsigned char>& data)
{
    // Three bytes after: a whole unit follows odd data too.
    std::vector<unsigned char> framed(SetValueOffset + data.size() + 3, 0xFF);
    std::copy(data.begin(), data.end(), framed.begin() + SetValueOffset);
    return framed;
}

bool NeedsFrameForSetValue(const RawValue& value)
{
    const std::vector<unsigned char>& data = value.data;
    if (data.empty())
        return true;
    const bool text = value.type == REG_SZ || value.type == REG_EXPAND_SZ || value.type == REG_MULTI_SZ;
    return text && (data.size() % 2 != 0 || data[data.size() - 2] != 0 || data.back() != 0);
}

} // namespace Kestlib500
