#include "tools/vesk/core/Text.h"

#include "support/registry/SString.h"

#include <string>

namespace vesk_tool {

bool equalsIgnoreCase(std::wstring_view a, std::wstring_view b)
{
    return Kestlib500::CompareNoCase(std::wstring(a).c_str(), std::wstring(b).c_str()) == 0;
}

// The registry folds unit by unit and leaves surrogates alone, so a prefix
// of the same length compares as a whole name does.
bool startsWithIgnoreCase(std::wstring_view text, std::wstring_view prefix)
{
    return text.size() >= prefix.size() && equalsIgnoreCase(text.substr(0, prefix.size()), prefix);
}

} // namespace vesk_tool
