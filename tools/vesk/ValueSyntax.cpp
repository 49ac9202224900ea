#include "tools/vesk/ValueSyntax.h"

#include "tools/vesk/Text.h"

#include "support/registry/StringConv.h"

namespace vesk_tool {
namespace {

// Digits only, accumulated while the total stays at or below `limit`.
std::optional<std::uint64_t> parseDigits(std::wstring_view digits, int base, std::uint64_t limit)
{
    if (digits.empty())
        return std::nullopt;
    std::uint64_t total = 0;
    for (wchar_t c : digits) {
        const int digit = Kestlib500::DigitValue(c, base);
        if (digit < 0)
            return std::nullopt;
        total = total * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
        if (total > limit)
            return std::nullopt;
    }
    return total;
}

} // namespace

std::optional<std::uint32_t> parseDword(std::wstring_view text)
{
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X')) {
        if (text.size() > 10)
            return std::nullopt;
        const auto value = parseDigits(text.substr(2), 16, 0xFFFFFFFFu);
        return value ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*value)) : std::nullopt;
    }
    if (!text.empty() && text[0] == L'-') {
        const auto magnitude = parseDigits(text.substr(1), 10, 0x80000000u);
        if (!magnitude)
            return std::nullopt;
        return static_cast<std::uint32_t>(0x100000000u - *magnitude);
    }
    const auto value = parseDigits(text, 10, 0xFFFFFFFFu);
    return value ? std::optional<std::uint32_t>(static_cast<std::uint32_t>(*value)) : std::nullopt;
}

std::optional<bool> parseBool(std::wstring_view text)
{
    for (const wchar_t* yes : {L"true", L"1", L"yes"})
        if (equalsIgnoreCase(text, yes))
            return true;
    for (const wchar_t* no : {L"false", L"0", L"no"})
        if (equalsIgnoreCase(text, no))
            return false;
    return std::nullopt;
}

std::wstring formatInt(std::uint32_t bits)
{
    return std::to_wstring(static_cast<std::int32_t>(bits));
}

} // namespace vesk_tool
