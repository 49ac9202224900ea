#pragma once

#include "support/win32shim/Win32.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Every value type the tool knows, one row each: the name get and set take,
// the registry's type code, the command line's text form, and the form of
// its data in a .reg file. Adding a type is adding a row; a type without a
// row travels as hex(N): bytes.
namespace vesk_tool {

struct ValueType {
    const char* cliName; // --type of get and set; nullptr when they take no such type
    DWORD code;          // the registry's type code
    // What starts the data in a .reg file: L"\"" (quoted text, when the data
    // is plain text with one final NUL), L"dword:", L"hex:"; nullptr: hex(N):.
    const wchar_t* regPrefix;
    std::size_t width; // a number's size in bytes, written as hex digits after regPrefix; 0 for others
    bool text;         // UTF-16 text with a final NUL: 8-bit .reg files carry its hex(N): form as 8-bit text
    // The command line's text checked for the type, as get prints it; nullopt when it does not fit.
    std::optional<std::wstring> (*parse)(std::wstring_view given);
    const char* expected; // what parse takes, for the usage error
};

// Every row, in the order .reg data forms are tried and --type lists them.
const std::vector<ValueType>& valueTypes();
// The first row of `code` (REG_SZ: "string"); nullptr for a type without one.
const ValueType* valueTypeOf(DWORD code);
// The row get and set take as `cliName`; nullptr when none is named so.
const ValueType* valueTypeNamed(std::string_view cliName);
// The names get and set take for --type.
std::vector<std::string> cliTypeNames();
// Whether a .reg file's tools read `code`'s hex(N): data as text.
bool isTextType(DWORD code);

// The 32 bits of an int value: decimal from -2147483648 to 4294967295, or
// 0x followed by one to eight hex digits. Nothing else (no sign on hex, no
// spaces, no octal); empty when the text is not such a number.
std::optional<std::uint32_t> parseDword(std::wstring_view text);

// true/false, 1/0, yes/no in any case.
std::optional<bool> parseBool(std::wstring_view text);

// The signed decimal of the 32 bits, as the enumerations show a DWORD.
std::wstring formatInt(std::uint32_t bits);

} // namespace vesk_tool
