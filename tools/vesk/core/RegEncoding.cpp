#include "tools/vesk/core/RegEncoding.h"
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"

#include "support/text/LittleEndian.h"
#include "support/text/Unicode.h"

namespace vesk_tool {
namespace {

// 0x80 to 0x9F in Windows-1252; the rest of the page is Latin-1.
const char16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

// The 1-based line holding byte `offset`; CR, LF and CRLF each end a line.
int lineOf(std::string_view body, std::size_t offset, std::size_t unit)
{
    int line = 1;
    for (std::size_t i = 0; i + unit <= body.size() && i < offset; i += unit) {
        const bool high = unit == 1 || body[i + 1] == '\0';
        const bool lf = high && body[i] == '\n';
        const bool cr = high && body[i] == '\r';
        const bool crlf = cr && i + 2 * unit <= body.size() && body[i + unit] == '\n' && (unit == 1 || body[i + unit + 1] == '\0');
        if (lf || (cr && !crlf))
            ++line;
    }
    return line;
}

} // namespace

std::vector<unsigned char> utf16Bytes(std::wstring_view text)
{
    std::vector<unsigned char> bytes;
    bytes.reserve(text.size() * 2);
    vesk_text::appendUtf16le(bytes, text);
    return bytes;
}

std::optional<std::wstring> terminatedText(const std::vector<unsigned char>& bytes)
{
    if (bytes.size() < 2 || bytes.size() % 2 != 0)
        return std::nullopt;
    std::u16string units;
    for (std::size_t i = 0; i + 2 < bytes.size(); i += 2) {
        const auto unit = static_cast<char16_t>(vesk_text::readLittleEndian(&bytes[i], 2));
        if (unit == 0)
            return std::nullopt;
        units.push_back(unit);
    }
    if (bytes[bytes.size() - 2] != 0 || bytes[bytes.size() - 1] != 0)
        return std::nullopt;
    return vesk_text::fromUtf16(units);
}

std::wstring fromWindows1252(std::string_view bytes)
{
    std::wstring text;
    text.reserve(bytes.size());
    for (char byte : bytes) {
        const auto b = static_cast<unsigned char>(byte);
        text += static_cast<wchar_t>(b >= 0x80 && b < 0xA0 ? Windows1252High[b - 0x80] : b);
    }
    return text;
}

DecodedFile decodeRegFile(std::string_view bytes)
{
    DecodedFile file;
    std::size_t unit = 1;
    try {
        if (bytes.substr(0, 2) == "\xFF\xFE") {
            unit = 2;
            bytes.remove_prefix(2);
            file.text = fromUtf16le(bytes);
        } else if (bytes.substr(0, 2) == "\xFE\xFF") {
            throw RegFileError(1, "big-endian UTF-16 is not supported: save the file as UTF-16LE or UTF-8");
        } else if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
            bytes.remove_prefix(3);
            file.text = fromUtf8(bytes);
        } else {
            file.eightBit = true;
            try {
                file.text = fromUtf8(bytes);
            } catch (const DecodeError&) {
                file.windows1252 = true;
                file.text = fromWindows1252(bytes);
            }
        }
    } catch (const DecodeError& error) {
        throw RegFileError(lineOf(bytes, error.offset, unit),
                           std::string(error.what()) + ": the text after the byte-order mark is malformed (is the file truncated?)");
    }
    return file;
}

} // namespace vesk_tool
