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

std::wstring valueLine(const RegValue& value)
{
    std::wstring line = value.name.empty() ? L"@" : quoted(value.name);
    line += L'=';
    switch (value.kind) {
    case RegValue::Kind::String:
        return line + quoted(value.text);
    case RegValue::Kind::Delete:
        return line + L'-';
    case RegValue::Kind::Dword:
        break;
    }
    wchar_t hex[16];
    std::swprintf(hex, 16, L"%08x", static_cast<unsigned>(value.dword));
    return line + L"dword:" + hex;
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

} // namespace vesk_tool
