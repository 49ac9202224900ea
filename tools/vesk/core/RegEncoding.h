#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// What the .reg reader and writer share: the registry's UTF-16LE bytes of a
// string, and how a file's bytes become text.
namespace vesk_tool {

// UTF-16LE units of `text`, without a terminator.
std::vector<unsigned char> utf16Bytes(std::wstring_view text);

// The text of a string value whose bytes are exactly UTF-16LE text and one
// terminating NUL; nullopt for anything else (odd length, no terminator, a
// NUL inside), which only the hex form carries unchanged.
std::optional<std::wstring> terminatedText(const std::vector<unsigned char>& bytes);


// Windows-1252, the code page the registry tools read BOM-less 8-bit files in
// on Western systems. Bytes it leaves undefined map to the same code point.
std::wstring fromWindows1252(std::string_view bytes);

struct DecodedFile {
    std::wstring text;
    bool eightBit = false; // no byte-order mark: UTF-8 if valid, else Windows-1252
    bool windows1252 = false;
};

// UTF-16LE or UTF-8 after their byte-order mark; without one, 8-bit text:
// UTF-8 when the bytes are valid UTF-8, otherwise Windows-1252. Throws
// RegFileError for big-endian UTF-16 and for malformed text after a mark.
DecodedFile decodeRegFile(std::string_view bytes);

} // namespace vesk_tool
