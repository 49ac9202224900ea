#include "RegFileSummary.h"

#include "Text.h"

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

} // namespace regfile_test
