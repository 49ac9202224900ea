#include "tools/vesk/core/RegEncoding.h"
#include "tools/vesk/core/RegLines.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/core/ValueTypes.h"

#include "support/text/LittleEndian.h"

#include <cwchar>

namespace vesk_tool {
namespace {

int hexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if ((c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'))
        return (c | 0x20) - L'a' + 10;
    return -1;
}

std::wstring legacyText(const std::vector<unsigned char>& bytes, const LegacyStrings& legacy)
{
    const std::string_view text(reinterpret_cast<const char*>(bytes.data()), bytes.size());
    if (!legacy.windows1252) {
        try {
            return fromUtf8(text);
        } catch (const DecodeError&) {
        }
    }
    return fromWindows1252(text);
}

// One value line parsed left to right; forms the registry tools skip as
// malformed are refused, naming the line.
class ValueParser {
public:
    ValueParser(std::wstring_view line, RegLines& lines, const LegacyStrings& legacy)
        : text(line), lines(lines), legacy(legacy), lineNumber(lines.number())
    {
    }

    // Fills `value` in place, so that the buffers of the values before it serve again.
    void parse(RegValue& value)
    {
        value.line = lineNumber;
        value.name.clear();
        value.remove = false;
        value.value.type = REG_NONE;
        value.value.data.clear();
        if (peek() == L'@')
            ++pos;
        else
            quotedText("value name", [&value](std::wstring_view piece) { value.name += piece; });
        name = value.name;
        skipBlanks();
        if (peek() != L'=')
            fail("expected = after the value name " + label());
        ++pos;
        skipBlanks();
        parseData(value);
        endOfData();
    }

private:
    void parseData(RegValue& value)
    {
        const std::wstring_view rest = text.substr(pos);
        if (peek() == L'-') {
            value.remove = true;
            ++pos;
            return;
        }
        for (const ValueType& type : valueTypes()) {
            const std::wstring_view prefix = type.regPrefix ? type.regPrefix : L"";
            if (prefix.empty() || rest.substr(0, prefix.size()) != prefix)
                continue;
            value.value.type = type.code;
            std::vector<unsigned char>& data = value.value.data;
            if (prefix == L"\"") {
                quotedText("string", [&data](std::wstring_view piece) { vesk_text::appendUtf16le(data, piece); });
                data.insert(data.end(), {0, 0});
                return;
            }
            pos += prefix.size();
            if (type.width)
                numberBytes(type, data);
            else
                hexBytes(data);
            return;
        }
        if (rest.substr(0, 4) == L"hex(") {
            pos += 4;
            value.value.type = hexType();
            hexBytes(value.value.data);
            if (isTextType(value.value.type))
                terminateString(value.value);
        } else {
            fail("unknown data for " + label() +
                 ": write \"text\", dword:0000002a, hex:01,02, hex(N):.. or - to delete the value (dword and hex in lower case)");
        }
    }

    // What may follow the data: blanks, then a ; comment.
    void endOfData()
    {
        skipBlanks();
        if (pos < text.size() && text[pos] != L';')
            fail("unexpected text after the data of " + label() + ": one value per line, and a comment starts with ;");
    }

    // dword:2a: up to two hex digits a byte, the number's bytes little-endian.
    void numberBytes(const ValueType& type, std::vector<unsigned char>& bytes)
    {
        const std::size_t most = 2 * type.width;
        skipBlanks();
        std::uint64_t bits = 0;
        std::size_t digits = 0;
        for (; pos < text.size() && hexDigit(text[pos]) >= 0; ++pos, ++digits)
            bits = (bits << 4) | static_cast<std::uint64_t>(hexDigit(text[pos]));
        if (digits == 0 || digits > most) {
            const std::string prefix = toUtf8(type.regPrefix);
            const std::string typeName = prefix.substr(0, prefix.size() - 1);
            if (digits == 0)
                fail(typeName + " " + label() + " needs hex digits, e.g. " + prefix + std::string(most - 2, '0') + "2a");
            fail(typeName + " " + label() + " is out of range: at most " + std::to_string(most) + " hex digits (" +
                 std::string(most, '0') + " to " + std::string(most, 'f') + ")");
        }
        vesk_text::appendLittleEndian(bytes, bits, type.width);
    }

    // The N of hex(N):, a type code in hex.
    DWORD hexType()
    {
        skipBlanks();
        unsigned long long type = 0;
        std::size_t digits = 0;
        for (; pos < text.size() && hexDigit(text[pos]) >= 0 && type <= 0xFFFFFFFFull; ++pos, ++digits)
            type = (type << 4) | static_cast<unsigned>(hexDigit(text[pos]));
        if (digits == 0 || type > 0xFFFFFFFFull || text.substr(pos, 2) != L"):")
            fail("the type of " + label() + " must be hex(N): with N a type code in hex, at most ffffffff");
        pos += 2;
        return static_cast<DWORD>(type);
    }

    // Comma-separated byte pairs; a backslash after a comma continues them on
    // the next line that is not blank or a comment.
    void hexBytes(std::vector<unsigned char>& bytes)
    {
        bool afterComma = true;
        for (;;) {
            skipBlanks();
            if (pos == text.size() || text[pos] == L';')
                return;
            if (text[pos] == L'\\' && afterComma && !bytes.empty()) {
                ++pos;
                skipBlanks();
                if (pos < text.size() && text[pos] != L';')
                    fail("unexpected text after the \\ that continues the data of " + label());
                if (!continueOnNextLine())
                    return;
                continue;
            }
            if (!afterComma)
                fail("the bytes of " + label() + " must be separated by commas with no blank before one, e.g. hex:01,02,ff");
            bytes.push_back(hexByte());
            // The tools take blanks before a byte and after the last one,
            // not between a byte and its comma.
            afterComma = peek() == L',';
            if (afterComma)
                ++pos;
        }
    }

    unsigned char hexByte()
    {
        int value = 0;
        std::size_t digits = 0;
        for (; pos < text.size() && hexDigit(text[pos]) >= 0; ++pos, ++digits)
            value = value * 16 + hexDigit(text[pos]);
        if (digits == 0)
            fail("expected a hex byte in the data of " + label() + ", e.g. hex:01,02,ff");
        if (digits > 2)
            fail("a byte of " + label() + " has more than two hex digits");
        return static_cast<unsigned char>(value);
    }

    // Blank and ; lines are skipped; at a line starting with # or \ the
    // registry tools give up the value, so the file is refused there.
    bool continueOnNextLine()
    {
        std::wstring_view line;
        while (lines.next(line)) {
            line = withoutLeadingBlanks(line);
            if (line.empty() || line.front() == L';')
                continue;
            if (line.front() == L'#' || line.front() == L'\\')
                fail(std::string("a line starting with ") + (line.front() == L'#' ? "#" : "\\") + " within the continued data of " +
                     label() + ": the registry tools drop the value there; remove the line, or start a comment with ;");
            text = line;
            pos = 0;
            return true;
        }
        return false;
    }

    // The registry tools end string data with a NUL when its last character
    // is not one. In 8-bit text that is a NUL byte, before the text becomes
    // UTF-16. In UTF-16 a NUL unit follows the last whole unit, an odd last
    // byte giving way to it and a zero byte following; a single byte they
    // cannot import at all. Empty data stays empty.
    void terminateString(Kestlib500::RawValue& value) const
    {
        std::vector<unsigned char>& data = value.data;
        if (legacy.enabled) {
            if (!data.empty() && data.back() != 0)
                data.push_back(0);
            data = utf16Bytes(legacyText(data, legacy));
            return;
        }
        if (data.size() == 1)
            fail("the string data of " + label() + " is a single byte, which the registry tools cannot import: "
                 "give whole UTF-16 units, two bytes each");
        const std::size_t whole = data.size() / 2 * 2;
        if (data.empty() || (data[whole - 2] == 0 && data[whole - 1] == 0))
            return;
        const bool odd = data.size() != whole;
        data.resize(whole);
        data.insert(data.end(), {0, 0});
        if (odd)
            data.push_back(0);
    }

    // A "..." text, handed to `take` a piece at a time: the runs between
    // escapes whole, and each escape's character. \\ \" \n \r stand for a
    // backslash, a quote, LF and CR.
    template <typename Take>
    void quotedText(const std::string& what, Take take)
    {
        if (peek() != L'"')
            fail("expected a quoted " + what + " or @");
        for (++pos;;) {
            std::size_t end = pos;
            while (end < text.size() && text[end] != L'"' && text[end] != L'\\')
                ++end;
            take(text.substr(pos, end - pos));
            pos = end;
            if (pos == text.size())
                fail("the " + what + " has no closing quote (is the file truncated?)");
            if (text[pos] == L'"') {
                ++pos;
                return;
            }
            const wchar_t c = escaped(pos + 1 < text.size() ? text[pos + 1] : L'\0', what);
            take(std::wstring_view(&c, 1));
            pos += 2;
        }
    }

    wchar_t escaped(wchar_t c, const std::string& what) const
    {
        switch (c) {
        case L'\\':
        case L'"':
            return c;
        case L'n':
            return L'\n';
        case L'r':
            return L'\r';
        default:
            fail("a lone backslash in a " + what +
                 ": write \\\\ for a backslash, \\\" for a quote, \\n and \\r for line breaks");
        }
    }

    wchar_t peek() const { return pos < text.size() ? text[pos] : L'\0'; }

    void skipBlanks()
    {
        while (pos < text.size() && isBlank(text[pos]))
            ++pos;
    }

    [[noreturn]] void fail(const std::string& message) const { throw RegFileError(lines.number(), message); }

    // The value as messages name it, made only for a message.
    std::string label() const { return name.empty() ? "@" : "\"" + toUtf8(name) + "\""; }

    std::wstring_view text;
    RegLines& lines;
    const LegacyStrings& legacy;
    int lineNumber;
    std::size_t pos = 0;
    std::wstring_view name; // of the value being parsed, for messages
};

} // namespace

void parseValue(std::wstring_view line, RegLines& lines, const LegacyStrings& legacy, RegValue& value)
{
    ValueParser(line, lines, legacy).parse(value);
}

} // namespace vesk_tool
