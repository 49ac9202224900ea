#include "tools/vesk/core/Text.h"

#include "support/registry/NameFold.h"

#include <string>

namespace vesk_tool {

bool equalsIgnoreCase(std::wstring_view a, std::wstring_view b)
{
    return Kestlib500::SameFoldedName(a, b);
}

} // namespace vesk_tool
