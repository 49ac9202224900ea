#include "RegFile.h"

#include "Text.h"

#include <algorithm>

namespace vesk_tool {
namespace {

const std::wstring_view Header5 = L"Windows Registry Editor Version 5.00";
const std::wstring_view Header4 = L"REGEDIT4";

bool isBlank(wchar_t c) { return c == L' ' || c == L'\t'; }

int hexDigit(wchar_t c)
{
    if (c >= L'0' && c <= L'9')
        return c - L'0';
    if ((c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F'))
        return (c | 0x20) - L'a' + 10;
    return -1;
}

std::wstring_view trimmed(std::wstring_view text)
{
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}

// The 1-based line holding byte `offset` of `body`.
int lineOf(std::string_view body, std::size_t offset, bool utf16)
{
    int line = 1;
    const std::size_t step = utf16 ? 2 : 1;
    for (std::size_t i = 0; i < offset && i + step <= body.size(); i += step)
        if (body[i] == '\n' && (!utf16 || body[i + 1] == '\0'))
            ++line;
    return line;
}

std::wstring decode(std::string_view bytes)
{
    bool utf16 = false;
    if (bytes.substr(0, 2) == "\xFF\xFE") {
        utf16 = true;
        bytes.remove_prefix(2);
    } else if (bytes.substr(0, 2) == "\xFE\xFF") {
        throw RegFileError(1, "big-endian UTF-16 is not supported: save the file as UTF-16LE or UTF-8");
    } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
        bytes.remove_prefix(3);
    } else if (bytes.size() >= 2 && bytes[0] != '\0' && bytes[1] == '\0') {
        utf16 = true; // UTF-16LE without a byte-order mark: ASCII header, high bytes zero
    }
    try {
        return utf16 ? fromUtf16le(bytes) : fromUtf8(bytes);
    } catch (const DecodeError& error) {
        throw RegFileError(lineOf(bytes, error.offset, utf16),
                           std::string(error.what()) + ": the file must be UTF-16LE or UTF-8 (is it truncated?)");
    }
}

// One "name"=data line, parsed left to right.
class ValueLine {
public:
    ValueLine(std::wstring_view line, int number) : text(line), lineNumber(number) {}

    RegValue parse()
    {
        RegValue value;
        value.line = lineNumber;
        if (peek() == L'@')
            ++pos;
        else
            value.name = quotedText("value name");
        name = value.name.empty() ? "@" : "\"" + toUtf8(value.name) + "\"";
        skipBlanks();
        if (peek() != L'=')
            fail("expected = after the value name " + name);
        ++pos;
        skipBlanks();
        parseData(value);
        skipBlanks();
        if (pos < text.size())
            fail("unexpected text after the data of " + name + ": one value per line");
        return value;
    }

private:
    void parseData(RegValue& value)
    {
        const std::wstring_view rest = text.substr(pos);
        if (peek() == L'"') {
            value.value.type = REG_SZ;
            value.value.data = Kestlib500::TextBytes(quotedText("string").c_str());
        } else if (peek() == L'-') {
            value.remove = true;
            ++pos;
        } else if (startsWithIgnoreCase(rest, L"dword:")) {
            pos += 6;
            const std::uint32_t bits = dwordDigits();
            value.value.type = REG_DWORD;
            value.value.data = {static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                                static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)};
        } else if (startsWithIgnoreCase(rest, L"hex")) {
            pos += 3;
            value.value.type = hexType();
            value.value.data = hexBytes();
        } else {
            fail("unknown data for " + name + ": write \"text\", dword:0000002a, hex:01,02 or - to delete the value");
        }
    }

    // hex: is REG_BINARY; hex(N): names the type code N in hex.
    DWORD hexType()
    {
        DWORD type = REG_BINARY;
        if (peek() == L'(') {
            std::size_t digits = 0;
            for (type = 0, ++pos; hexDigit(peek()) >= 0; ++pos, ++digits)
                type = (type << 4) | static_cast<DWORD>(hexDigit(peek()));
            if (digits == 0 || digits > 8 || peek() != L')')
                fail("the type of " + name + " must be hex(N) with N in hex, e.g. hex(2)");
            ++pos;
        }
        if (peek() != L':')
            fail("expected : after the type of " + name);
        ++pos;
        return type;
    }

    // Byte pairs separated by commas; blanks between them are allowed.
    std::vector<unsigned char> hexBytes()
    {
        std::vector<unsigned char> bytes;
        for (skipBlanks(); pos < text.size(); skipBlanks()) {
            if (!bytes.empty()) {
                if (peek() != L',')
                    fail("the bytes of " + name + " must be hex pairs separated by commas");
                ++pos;
                skipBlanks();
            }
            const int high = hexDigit(peek());
            const int low = pos + 1 < text.size() ? hexDigit(text[pos + 1]) : -1;
            if (high < 0 || low < 0)
                fail("the bytes of " + name + " must be hex pairs separated by commas");
            bytes.push_back(static_cast<unsigned char>(high << 4 | low));
            pos += 2;
        }
        return bytes;
    }

    std::uint32_t dwordDigits()
    {
        std::uint32_t bits = 0;
        std::size_t digits = 0;
        for (; pos < text.size() && hexDigit(text[pos]) >= 0; ++pos, ++digits)
            bits = (bits << 4) | static_cast<std::uint32_t>(hexDigit(text[pos]));
        if (digits == 0)
            fail("dword " + name + " needs hex digits, e.g. dword:0000002a");
        if (digits > 8)
            fail("dword " + name + " is out of range: at most 8 hex digits (00000000 to ffffffff)");
        return bits;
    }

    // A "..." string where \\ and \" stand for \ and ".
    std::wstring quotedText(const std::string& what)
    {
        if (peek() != L'"')
            fail("expected a quoted " + what + " or @");
        std::wstring out;
        for (++pos; pos < text.size(); ++pos) {
            const wchar_t c = text[pos];
            if (c == L'"') {
                ++pos;
                return out;
            }
            if (c == L'\\') {
                const wchar_t next = pos + 1 < text.size() ? text[pos + 1] : L'\0';
                if (next != L'\\' && next != L'"')
                    fail("a lone backslash in a " + what + ": write \\\\ for a backslash and \\\" for a quote");
                ++pos;
            }
            out += text[pos];
        }
        fail("the " + what + " has no closing quote (is the file truncated?)");
    }

    wchar_t peek() const { return pos < text.size() ? text[pos] : L'\0'; }

    void skipBlanks()
    {
        while (pos < text.size() && isBlank(text[pos]))
            ++pos;
    }

    [[noreturn]] void fail(const std::string& message) const { throw RegFileError(lineNumber, message); }

    std::wstring_view text;
    int lineNumber;
    std::size_t pos = 0;
    std::string name;
};

RegKey parseKeyLine(std::wstring_view line, int number)
{
    if (line.back() != L']')
        throw RegFileError(number, "the key has no closing ] (is the file truncated?)");
    RegKey key;
    key.line = number;
    std::wstring_view path = line.substr(1, line.size() - 2);
    if (!path.empty() && path.front() == L'-') {
        key.remove = true;
        path.remove_prefix(1);
    }
    if (path.empty())
        throw RegFileError(number, "empty key name in []");
    key.path = path;
    return key;
}

} // namespace

RegDocument readRegFile(std::string_view bytes)
{
    const std::wstring text = decode(bytes);
    if (const auto nul = text.find(L'\0'); nul != std::wstring::npos)
        throw RegFileError(1 + static_cast<int>(std::count(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(nul), L'\n')),
                           "NUL character in the text: is this a binary file?");

    RegDocument document;
    int number = 0;
    for (std::size_t start = 0; start <= text.size();) {
        std::size_t end = text.find(L'\n', start);
        if (end == std::wstring::npos)
            end = text.size();
        std::wstring_view line(text.data() + start, end - start);
        if (!line.empty() && line.back() == L'\r')
            line.remove_suffix(1);
        line = trimmed(line);
        start = end + 1;
        ++number;

        if (number == 1) {
            if (line != Header5 && line != Header4)
                throw RegFileError(1, "not a registry file: the first line must be \"Windows Registry Editor Version 5.00\" or \"REGEDIT4\"");
            continue;
        }
        if (line.empty() || line.front() == L';')
            continue;
        if (line.front() == L'[') {
            document.keys.push_back(parseKeyLine(line, number));
            continue;
        }
        // Long hex data goes on over lines that end in a backslash.
        std::wstring joined;
        const int first = number;
        while (!line.empty() && line.back() == L'\\' && start <= text.size()) {
            joined.append(line.substr(0, line.size() - 1));
            end = std::min(text.find(L'\n', start), text.size());
            line = trimmed(std::wstring_view(text.data() + start, end - start));
            if (!line.empty() && line.back() == L'\r')
                line = trimmed(line.substr(0, line.size() - 1));
            start = end + 1;
            ++number;
        }
        if (!joined.empty()) {
            joined.append(line);
            line = joined;
        }
        if (line.front() != L'"' && line.front() != L'@')
            throw RegFileError(number, "expected [key], \"name\"=data, @=data or a ; comment");
        if (document.keys.empty())
            throw RegFileError(number, "a value before the first [key]: values belong under a key");
        if (document.keys.back().remove)
            throw RegFileError(number, "a value under a [-key] that is being deleted: remove the - or the value");
        document.keys.back().values.push_back(ValueLine(line, first).parse());
    }
    return document;
}

} // namespace vesk_tool
