#pragma once

#include "support/text/Unicode.h"

#include <string_view>

// Text conversions between the library's wide strings and the bytes the tool
// reads and writes: the codec shared with the registry layer.
namespace vesk_tool {

using vesk_text::DecodeError;
using vesk_text::fromUtf16le;
using vesk_text::fromUtf8;
using vesk_text::hasUnpairedSurrogate;
using vesk_text::toUtf16le;
using vesk_text::toUtf8;

// Registry names compare as the registry compares them (SameFoldedName).
bool equalsIgnoreCase(std::wstring_view a, std::wstring_view b);

} // namespace vesk_tool
