#include "RegFileSummary.h"

#include "tools/vesk/core/Text.h"

#include "support/registry/ValueText.h"

#include <cstdio>

namespace regfile_test {

std::string hexOf(const std::vector<unsigned char>& bytes)
{
    std::string out;
    for (unsigned char b : bytes) {
        char pair[3];
        std::snprintf(pair, sizeof pair, "%02x", b);
        out += pair;
    }
    return out;
}

std::string summary(const vesk_tool::RegDocument& document)
{
    std::string out;
    for (const vesk_tool::RegKey& key : document.keys) {
        out += (key.remove ? "[-" : "[") + vesk_tool::toUtf8(key.path) + "]\n";
        for (const vesk_tool::RegValue& value : key.values) {
            out += value.name.empty() ? "@" : vesk_tool::toUtf8(value.name);
            out += value.remove ? std::string("=-") : "=" + std::to_string(value.value.type) + ":" + hexOf(value.value.data);
            out += "\n";
        }
    }
    return out;
}

std::string sz(const std::wstring& text, unsigned type)
{
    return std::to_string(type) + ":" + hexOf(Kestlib500::TextBytes(text.c_str()));
}

std::string dw(unsigned long bits)
{
    return "4:" + hexOf({static_cast<unsigned char>(bits), static_cast<unsigned char>(bits >> 8),
                         static_cast<unsigned char>(bits >> 16), static_cast<unsigned char>(bits >> 24)});
}

std::vector<unsigned char> counting(std::size_t count)
{
    std::vector<unsigned char> out;
    for (std::size_t i = 1; i <= count; ++i)
        out.push_back(static_cast<unsigned char>(i));
    return out;
}

std::vector<TypedValue> everyTypeValues()
{
    const auto text = [](const wchar_t* t) { return Kestlib500::TextBytes(t); };
    return {
        {L"", 1, text(L"default"), true, true},
        {L"big endian", 5, {1, 2, 3, 4}, true, true},
        {L"binary", 3, counting(64), true, true},
        {L"binary empty", 3, {}, true, true},
        {L"dword", 4, {0x2a, 0, 0, 0xff}, true, true},
        {L"dword empty", 4, {}, true, true},
        {L"dword long", 4, counting(5), true, true},
        {L"dword short", 4, counting(3), true, true},
        {L"expand", 2, text(L"%TEMP%\\x"), true, true},
        {L"high type", 0xffffffff, counting(3), true, true},
        {L"link", 6, text(L"\\Registry\\Machine"), true, true},
        {L"multi", 7, {0x61, 0, 0, 0, 0x62, 0, 0, 0, 0, 0}, true, true},
        {L"name \"quoted\" \\ back\\slash;#[]=@", 1, text(L"x"), true, true},
        {L"none", 0, {}, true, true},
        {L"none bytes", 0, {1, 2}, true, true},
        {L"qword", 11, counting(8), true, true},
        {L"qword odd", 11, counting(7), true, true},
        {L"sz", 1, text(L"C:\\dir \"q\" \u20ac\U0001F600;#[]"), true, true},
        {L"sz CR", 1, text(L"a\rb"), true, true},
        {L"sz empty", 1, text(L""), true, true},
        {L"sz LF", 1, text(L"a\nb"), true, true},
        {L"sz lone surrogate", 1, {0x3D, 0xD8, 0, 0}, true, false},
        {L"sz no bytes", 1, {}, true, true},
        {L"sz NUL inside", 1, {0x41, 0, 0, 0, 0x42, 0, 0, 0}, true, true},
        {L"sz odd", 1, {0x41, 0, 0}, false, false},
        {L"sz two NULs", 1, {0x41, 0, 0, 0, 0, 0}, true, true},
        {L"sz unterminated", 1, {0x41, 0}, false, false},
    };
}

} // namespace regfile_test
