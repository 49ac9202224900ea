#include "tools/vesk/core/RegEncoding.h"
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/core/ValueTypes.h"

#include "support/registry/KeyPath.h"
#include "support/text/LittleEndian.h"

#include <cstdio>

namespace vesk_tool {
namespace {

// The registry editor wraps hex data once a line reaches this column,
// continuing on the next line indented by two blanks.
constexpr std::size_t HexWrapColumn = 77;

std::wstring quoted(std::wstring_view text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'\n') {
            out += L"\\n";
            continue;
        }
        if (c == L'\r') {
            out += L"\\r";
            continue;
        }
        if (c == L'\\' || c == L'"')
            out += L'\\';
        out += c;
    }
    return out + L'"';
}

// Columns count UTF-16 units, as the editor counts them.
std::size_t columns(std::wstring_view text) { return Kestlib500::NameUnits(text); }

std::wstring hexNumber(unsigned long value, const wchar_t* format)
{
    wchar_t digits[16];
    std::swprintf(digits, 16, format, value);
    return digits;
}

// `value` as 2 * width lowercase hex digits: the 0000002a of dword:0000002a.
std::wstring hexDigits(std::uint64_t value, std::size_t width)
{
    wchar_t digits[24];
    std::swprintf(digits, 24, L"%0*llx", static_cast<int>(2 * width), static_cast<unsigned long long>(value));
    return digits;
}

std::wstring hexData(std::wstring line, const std::vector<unsigned char>& bytes, const std::wstring& eol)
{
    std::size_t column = columns(line);
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        line += hexNumber(bytes[i], L"%02x");
        if (i + 1 == bytes.size())
            break;
        line += L',';
        column += 3;
        if (column >= HexWrapColumn) {
            line += L"\\" + eol + L"  ";
            column = 2;
        }
    }
    return line;
}

// A string the quoted form carries unchanged: exactly its text and one
// terminating NUL, with no line break (the registry editor has no escape for
// one) and nothing the file's encodings cannot write.
std::optional<std::wstring> plainText(const Kestlib500::RawValue& value)
{
    if (value.type != REG_SZ)
        return std::nullopt;
    std::optional<std::wstring> text = terminatedText(value.data);
    if (!text || text->find_first_of(L"\r\n") != std::wstring::npos || hasUnpairedSurrogate(*text))
        return std::nullopt;
    return text;
}

// The UTF-16 units of string data as the text they spell, NULs included.
std::wstring unitsText(const std::vector<unsigned char>& bytes)
{
    std::u16string units;
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2)
        units.push_back(static_cast<char16_t>(vesk_text::readLittleEndian(&bytes[i], 2)));
    return vesk_text::fromUtf16(units);
}

std::wstring valueLine(const RegValue& value, const std::wstring& eol, RegEncoding encoding)
{
    std::wstring line = (value.name.empty() ? std::wstring(L"@") : quoted(value.name)) + L'=';
    if (value.remove)
        return line + L'-';
    const std::vector<unsigned char>& data = value.value.data;
    const ValueType* row = valueTypeOf(value.value.type);
    const std::wstring_view prefix = row && row->regPrefix ? row->regPrefix : L"";
    if (prefix == L"\"") {
        if (const std::optional<std::wstring> text = plainText(value.value))
            return line + quoted(*text);
    } else if (row && row->width && !prefix.empty()) {
        if (data.size() == row->width)
            return line + std::wstring(prefix) + hexDigits(vesk_text::readLittleEndian(data.data(), row->width), row->width);
    } else if (!prefix.empty()) {
        return hexData(line + std::wstring(prefix), data, eol);
    }
    const std::wstring type = L"hex(" + hexNumber(value.value.type, L"%lx") + L"):";
    // The registry tools read string data in an 8-bit file as 8-bit text.
    if (encoding == RegEncoding::Utf8 && isTextType(value.value.type)) {
        const std::string text = toUtf8(unitsText(data));
        return hexData(line + type, std::vector<unsigned char>(text.begin(), text.end()), eol);
    }
    return hexData(line + type, data, eol);
}

bool hasLineBreakOrNul(std::wstring_view text) { return text.find_first_of(std::wstring_view(L"\r\n\0", 3)) != std::wstring_view::npos; }

} // namespace

RegFileWriter::RegFileWriter(ByteSink& sink, RegEncoding encoding)
    : sink(sink), encoding(encoding), eol(encoding == RegEncoding::Utf16 ? L"\r\n" : L"\n")
{
    buffer.reserve(FlushBytes + 4096);
    if (encoding == RegEncoding::Utf16)
        buffer = "\xFF\xFE";
    put(L"Windows Registry Editor Version 5.00" + eol + eol);
}

void RegFileWriter::key(const std::wstring& path, bool remove)
{
    endBlock();
    put((remove ? L"[-" : L"[") + path + L"]" + eol);
    inBlock = true;
}

void RegFileWriter::value(const RegValue& value) { put(valueLine(value, eol, encoding) + eol); }

void RegFileWriter::finish()
{
    endBlock();
    sink.write(buffer);
    buffer.clear();
}

// Every block ends with a blank line, the last one included.
void RegFileWriter::endBlock()
{
    if (inBlock)
        put(eol);
    inBlock = false;
}

// Whole lines are encoded alone: a line end never splits a surrogate pair.
void RegFileWriter::put(std::wstring_view text)
{
    buffer += encoding == RegEncoding::Utf8 ? toUtf8(text) : toUtf16le(text);
    if (buffer.size() >= FlushBytes) {
        sink.write(buffer);
        buffer.clear();
    }
}

std::string writeRegFile(const RegDocument& document, RegEncoding encoding)
{
    struct Whole : ByteSink {
        std::string bytes;
        void write(std::string_view piece) override { bytes += piece; }
    } whole;
    RegFileWriter writer(whole, encoding);
    for (const RegKey& key : document.keys) {
        writer.key(key.path, key.remove);
        for (const RegValue& value : key.values)
            writer.value(value);
    }
    writer.finish();
    return std::move(whole.bytes);
}

// A line break would end the quoted name; the tools differ on escapes for it.
bool canWriteName(std::wstring_view name) { return !hasLineBreakOrNul(name) && !hasUnpairedSurrogate(name); }

bool canWriteValue(const Kestlib500::RawValue& value, RegEncoding encoding)
{
    const std::vector<unsigned char>& data = value.data;
    if (!isTextType(value.type) || data.empty())
        return true;
    // Reading appends a NUL to string data whose last whole unit is not one.
    const std::size_t whole = data.size() / 2 * 2;
    if (whole == 0 || data[whole - 2] != 0 || data[whole - 1] != 0)
        return false;
    if (encoding == RegEncoding::Utf16)
        return true;
    // As 8-bit text: whole units only, and no lone surrogate, which UTF-8 cannot carry.
    return whole == data.size() && !hasUnpairedSurrogate(unitsText(data));
}

// Empty elements would be dropped or refused on reading; a leading - would
// turn the key into a deletion.
bool canWriteKeyPath(std::wstring_view path)
{
    if (path.empty() || Kestlib500::HasEmptyElement(path) || path.front() == L'-')
        return false;
    return !hasLineBreakOrNul(path) && !hasUnpairedSurrogate(path);
}

} // namespace vesk_tool
