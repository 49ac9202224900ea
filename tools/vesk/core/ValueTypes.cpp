#include "tools/vesk/core/ValueTypes.h"

#include "tools/vesk/core/Text.h"

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

std::optional<std::wstring> intText(std::wstring_view given)
{
    const auto bits = parseDword(given);
    return bits ? std::optional<std::wstring>(formatInt(*bits)) : std::nullopt;
}

std::optional<std::wstring> boolText(std::wstring_view given)
{
    const auto flag = parseBool(given);
    return flag ? std::optional<std::wstring>(*flag ? L"true" : L"false") : std::nullopt;
}

std::optional<std::wstring> anyText(std::wstring_view given)
{
    return std::wstring(given);
}

} // namespace

const std::vector<ValueType>& valueTypes()
{
    static const std::vector<ValueType> rows = {
        {"string", REG_SZ, L"\"", 0, true, anyText, "text"},
        {"int", REG_DWORD, L"dword:", 4, false, intText, "a 32-bit int: use decimal or 0x hex"},
        // Stored as the text True or False, which the settings read back.
        {"bool", REG_SZ, L"\"", 0, true, boolText, "a bool: use true/false, 1/0 or yes/no"},
        {nullptr, REG_BINARY, L"hex:", 0, false, nullptr, nullptr},
        {nullptr, REG_EXPAND_SZ, nullptr, 0, true, nullptr, nullptr},
        {nullptr, REG_MULTI_SZ, nullptr, 0, true, nullptr, nullptr},
        {nullptr, REG_QWORD, nullptr, 8, false, nullptr, nullptr},
    };
    return rows;
}

const ValueType* valueTypeOf(DWORD code)
{
    for (const ValueType& type : valueTypes())
        if (type.code == code)
            return &type;
    return nullptr;
}

const ValueType* valueTypeNamed(std::string_view cliName)
{
    for (const ValueType& type : valueTypes())
        if (type.cliName && cliName == type.cliName)
            return &type;
    return nullptr;
}

std::vector<std::string> cliTypeNames()
{
    std::vector<std::string> names;
    for (const ValueType& type : valueTypes())
        if (type.cliName)
            names.emplace_back(type.cliName);
    return names;
}

bool isTextType(DWORD code)
{
    const ValueType* type = valueTypeOf(code);
    return type && type->text;
}

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
