#pragma once

#include "tools/vesk/core/RegFile.h"

#include <string_view>

// The reader's pieces: the file's lines, and the parser of one value.
namespace vesk_tool {

// The physical lines of a decoded file, numbered from 1: CR, LF and CRLF each
// end a line, as the registry tools read them.
class RegLines {
public:
    explicit RegLines(std::wstring_view text) : text(text) {}

    // The next line, without its line end; false after the last.
    bool next(std::wstring_view& line);
    int number() const { return lineNumber; }

private:
    std::wstring_view text;
    std::size_t pos = 0;
    int lineNumber = 0;
};

// In a file of 8-bit text (no byte-order mark, whatever its header), hex(1),
// hex(2) and hex(7) data are that 8-bit text, which the registry holds as
// UTF-16.
struct LegacyStrings {
    bool enabled = false; // the file is 8-bit text
    bool windows1252 = false; // else UTF-8, falling back to Windows-1252 per value
};

// One "name"=data or @=data line, `line` starting at the name, into `value`
// (whatever it held before is replaced, its buffers kept for reuse); hex
// data continued with a trailing backslash takes the following lines from `lines`.
void parseValue(std::wstring_view line, RegLines& lines, const LegacyStrings& legacy, RegValue& value);

inline bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

inline std::wstring_view withoutLeadingBlanks(std::wstring_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    return text;
}

} // namespace vesk_tool
