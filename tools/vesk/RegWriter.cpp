#include "RegFile.h"

#include "Text.h"

#include <cstdio>

namespace vesk_tool {
namespace {

std::wstring quoted(const std::wstring& text)
{
    std::wstring out = L"\"";
    for (wchar_t c : text) {
        if (c == L'\\' || c == L'"')
            out += L'\\';
        out += c;
    }
    return out + L'"';
}

bool hasLineBreak(std::wstring_view text)
{
    return text.find_first_of(L"\r\n") != std::wstring_view::npos;
}

// A REG_SZ goes in quotes only when the quotes give back the same bytes: one
// terminating NUL, no line break.
bool writesAsString(const Kestlib500::RawValue& value, std::wstring& text)
{
    if (value.type != REG_SZ)
        return false;
    text = Kestlib500::ValueAsText(value);
    return !hasLineBreak(text) && Kestlib500::TextBytes(text.c_str()) == value.data;
}

std::wstring hexData(const Kestlib500::RawValue& value)
{
    wchar_t buffer[16];
    std::wstring line;
    if (value.type == REG_BINARY) {
        line = L"hex:";
    } else {
        std::swprintf(buffer, 16, L"hex(%x):", static_cast<unsigned>(value.type));
        line = buffer;
    }
    for (std::size_t i = 0; i < value.data.size(); ++i) {
        std::swprintf(buffer, 16, i == 0 ? L"%02x" : L",%02x", value.data[i]);
        line += buffer;
    }
    return line;
}

std::wstring valueLine(const RegValue& value)
{
    std::wstring line = value.name.empty() ? L"@" : quoted(value.name);
    line += L'=';
    if (value.remove)
        return line + L'-';
    std::wstring text;
    if (writesAsString(value.value, text))
        return line + quoted(text);
    if (value.value.type == REG_DWORD && value.value.data.size() == 4) {
        const auto& b = value.value.data;
        wchar_t hex[16];
        std::swprintf(hex, 16, L"%08x", static_cast<unsigned>(b[0] | b[1] << 8 | b[2] << 16 | static_cast<unsigned>(b[3]) << 24));
        return line + L"dword:" + hex;
    }
    return line + hexData(value.value);
}

} // namespace

std::string writeRegFile(const RegDocument& document, RegEncoding encoding)
{
    const std::wstring eol = encoding == RegEncoding::Utf16 ? L"\r\n" : L"\n";
    std::wstring text = L"Windows Registry Editor Version 5.00" + eol + eol;
    for (const RegKey& key : document.keys) {
        text += (key.remove ? L"[-" : L"[") + key.path + L"]" + eol;
        for (const RegValue& value : key.values)
            text += valueLine(value) + eol;
        text += eol;
    }
    if (encoding == RegEncoding::Utf8)
        return toUtf8(text);
    return "\xFF\xFE" + toUtf16le(text);
}

bool canWriteName(std::wstring_view name)
{
    return !hasLineBreak(name);
}

bool canWriteKeyPath(std::wstring_view path)
{
    return !hasLineBreak(path);
}

} // namespace vesk_tool
