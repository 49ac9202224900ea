#pragma once

#include <string>

namespace Kestlib500 {

// Upper-cases one UTF-16 unit the way the registry does when it compares
// names (simple Unicode mapping, unit by unit; surrogates stay as they are).
char16_t UpcaseUnit(char16_t unit);

// The registry's comparison key of a name: its UTF-16 units upper-cased, as
// big-endian bytes, so that comparing keys byte by byte orders names as the
// registry does. A null name folds as the empty one.
std::string FoldedName(const wchar_t* name);

} // namespace Kestlib500
