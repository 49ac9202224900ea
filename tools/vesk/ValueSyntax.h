#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// How values are written on the command line.
namespace vesk_tool {

// The 32 bits of an int value: decimal from -2147483648 to 4294967295, or
// 0x followed by one to eight hex digits. Nothing else (no sign on hex, no
// spaces, no octal); empty when the text is not such a number.
std::optional<std::uint32_t> parseDword(std::wstring_view text);

// true/false, 1/0, yes/no in any case.
std::optional<bool> parseBool(std::wstring_view text);

// The signed decimal of the 32 bits, as the enumerations show a DWORD.
std::wstring formatInt(std::uint32_t bits);

} // namespace vesk_tool
