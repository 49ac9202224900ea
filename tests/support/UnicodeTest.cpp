// The codec at its boundaries: every encoding of each row, both ways, on
// both widths of wchar_t.
#include "support/text/Unicode.h"

#include <gtest/gtest.h>

using namespace vesk_text;

namespace {

std::string LittleEndian(const std::u16string& units)
{
    std::string bytes;
    for (char16_t unit : units)
        bytes += std::string{static_cast<char>(unit & 0xFF), static_cast<char>(unit >> 8)};
    return bytes;
}

TEST(Unicode, EncodesEveryBoundaryBothWaysAndKeepsUnpairedSurrogatesInUtf16)
{
    struct Row {
        const char* what;
        std::u16string units;
        std::size_t characters; // wide characters where wchar_t holds a code point
        std::string utf8;
    };
    const Row rows[] = {
        {"U+007F", u"\u007F", 1, "\x7F"},
        {"U+0080", u"\u0080", 1, "\xC2\x80"},
        {"U+07FF", u"\u07FF", 1, "\xDF\xBF"},
        {"U+0800", u"\u0800", 1, "\xE0\xA0\x80"},
        {"U+D7FF", u"\uD7FF", 1, "\xED\x9F\xBF"},
        {"U+E000", u"\uE000", 1, "\xEE\x80\x80"},
        {"U+FFFD", u"\uFFFD", 1, "\xEF\xBF\xBD"},
        {"U+FFFF", u"\uFFFF", 1, "\xEF\xBF\xBF"},
        {"U+10000", u"\U00010000", 1, "\xF0\x90\x80\x80"},
        {"U+10FFFF", u"\U0010FFFF", 1, "\xF4\x8F\xBF\xBF"},
        {"unpaired high", {0xD800, u'a'}, 2, "\xEF\xBF\xBD" "a"},
        {"unpaired high at the end", {u'a', 0xDBFF}, 2, "a\xEF\xBF\xBD"},
        {"unpaired low", {0xDC00}, 1, "\xEF\xBF\xBD"},
        {"low before high", {0xDFFF, 0xD800}, 2, "\xEF\xBF\xBD\xEF\xBF\xBD"},
    };
    for (const Row& row : rows) {
        const std::wstring wide = fromUtf16(row.units);
        EXPECT_EQ(wide.size(), sizeof(wchar_t) == 2 ? row.units.size() : row.characters) << row.what;
        EXPECT_EQ(toUtf16(wide), row.units) << row.what << ": UTF-16 is lossless";
        EXPECT_EQ(toUtf16le(wide), LittleEndian(row.units)) << row.what;
        EXPECT_EQ(toUtf8(wide), row.utf8) << row.what;

        const bool wellFormed = row.utf8.find("\xEF\xBF\xBD") == std::string::npos || row.units == u"\uFFFD";
        EXPECT_EQ(hasUnpairedSurrogate(wide), !wellFormed) << row.what;
        if (wellFormed) {
            EXPECT_EQ(fromUtf8(row.utf8), wide) << row.what;
            EXPECT_EQ(fromUtf16le(LittleEndian(row.units)), wide) << row.what;
        } else {
            EXPECT_THROW(fromUtf16le(LittleEndian(row.units)), DecodeError) << row.what << ": files must be well-formed";
        }
        char16_t units[2] = {};
        if (wide.size() == 1) {
            EXPECT_EQ(std::u16string(units, utf16Units(wide[0], units)), row.units) << row.what;
        }
    }
    EXPECT_EQ(toUtf16(static_cast<const wchar_t*>(nullptr)), u"");
}

TEST(Unicode, RefusesMalformedFileBytesNamingWhereTheyStart)
{
    struct Row {
        const char* what;
        std::string bytes;
        std::size_t offset;
    };
    const Row utf8[] = {
        {"overlong two bytes", "a\xC0\x80", 1},
        {"overlong three bytes", "\xE0\x80\x80", 0},
        {"overlong four bytes", "\xF0\x8F\xBF\xBF", 0},
        {"encoded high surrogate", "ab\xED\xA0\x80", 2},
        {"encoded low surrogate", "\xED\xBF\xBF", 0},
        {"past U+10FFFF", "\xF4\x90\x80\x80", 0},
        {"lead byte past F4", "\xF5\x80\x80\x80", 0},
        {"lone continuation byte", "x\x80", 1},
        {"truncated at the end", "abc\xE2\x82", 3},
        {"truncated four-byte", "\xF0\x90\x80", 0},
        {"bad continuation", "\xE2\x28\xA1", 0},
    };
    auto expectRefused = [](const Row& row, std::wstring (*decode)(std::string_view)) {
        try {
            decode(row.bytes);
            ADD_FAILURE() << row.what << " decoded";
        } catch (const DecodeError& error) {
            EXPECT_EQ(error.offset, row.offset) << row.what;
        }
    };
    for (const Row& row : utf8)
        expectRefused(row, fromUtf8);
    const Row utf16[] = {
        {"odd byte count", std::string("a\0b", 3), 2},
        {"unpaired high", std::string("a\0\x00\xD8" "b\0", 6), 2},
        {"unpaired low", std::string("\x00\xDC", 2), 0},
    };
    for (const Row& row : utf16)
        expectRefused(row, fromUtf16le);
}

} // namespace
