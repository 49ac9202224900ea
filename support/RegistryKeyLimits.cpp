#include "support/RegistryKey.h"

namespace Kestlib500 {

bool RegistryKey::PathFits(const std::wstring& path)
{
    std::size_t length = 0;
    for (wchar_t c : path) {
        length = c == L'\\' ? 0 : length + 1;
        if (length > MaxKeyNameLength)
            return false;
    }
    return true;
}

} // namespace Kestlib500
