#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

// Text conversions between the library's wide strings (UTF-32 on Linux,
// UTF-16 on Windows) and the bytes the tool reads and writes. Hand-written
// rather than taken from the platform so .reg files decode the same way on
// both builds.
namespace vesk_tool {

// Malformed input; `offset` is the byte where the bad sequence starts.
class DecodeError : public std::runtime_error {
public:
    DecodeError(std::size_t at, const std::string& message) : std::runtime_error(message), offset(at) {}
    std::size_t offset;
};

// Unpaired surrogates (possible only in Windows wide strings) become U+FFFD.
std::string toUtf8(std::wstring_view text);
std::string toUtf16le(std::wstring_view text);

// Strict: overlong forms, surrogates and truncated sequences throw DecodeError.
std::wstring fromUtf8(std::string_view bytes);
std::wstring fromUtf16le(std::string_view bytes);

// Registry names compare without regard to case.
bool equalsIgnoreCase(std::wstring_view a, std::wstring_view b);
bool startsWithIgnoreCase(std::wstring_view text, std::wstring_view prefix);

} // namespace vesk_tool
