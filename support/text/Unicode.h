#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The one codec between wide strings (UTF-16 units on Windows, code points
// on Linux) and the encodings the registry and files use. Hand-written, not
// the platform's, so both builds convert alike.
//
// Unpaired surrogates: registry names may hold them, so every conversion to
// UTF-16 carries them unchanged and a name read from the registry is written
// back as it was. UTF-8 cannot carry them: toUtf8 writes U+FFFD in their
// place (check hasUnpairedSurrogate first where that would lose data). The
// decoders of file bytes refuse them, so what a file holds is always
// well-formed Unicode. A wide character past U+10FFFF (possible only on
// Linux) encodes as U+FFFD everywhere.
namespace vesk_text {

// Malformed input; `offset` is the byte where the bad sequence starts.
class DecodeError : public std::runtime_error {
public:
    DecodeError(std::size_t at, const std::string& message) : std::runtime_error(message), offset(at) {}
    std::size_t offset;
};

// Wide text as UTF-16 units and back, losslessly. A null text converts as
// the empty one.
std::u16string toUtf16(std::wstring_view text);
std::u16string toUtf16(const wchar_t* text);
std::wstring fromUtf16(std::u16string_view units);

// The one or two UTF-16 units of one wide character; returns how many.
int utf16Units(wchar_t c, char16_t units[2]);

// Whether `text` holds a surrogate that is not half of a pair.
bool hasUnpairedSurrogate(std::wstring_view text);

// File encodings. toUtf16le carries unpaired surrogates; toUtf8 cannot.
std::string toUtf8(std::wstring_view text);
std::string toUtf16le(std::wstring_view text);
// Appends the UTF-16LE bytes of `text` to `out`, unpaired surrogates as they are.
void appendUtf16le(std::vector<unsigned char>& out, std::wstring_view text);

// Strict: overlong forms, surrogates (any in UTF-8, unpaired ones in
// UTF-16) and truncated sequences throw DecodeError.
std::wstring fromUtf8(std::string_view bytes);
std::wstring fromUtf16le(std::string_view bytes);

} // namespace vesk_text
