#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace Kestlib500 {

// The registry's limits, as Windows has them, in UTF-16 units.
constexpr std::size_t MaxKeyNameLength = 255;     // units of one key name element
constexpr std::size_t MaxValueNameLength = 16383; // units of a value name
constexpr std::size_t MaxKeyDepth = 512;          // key levels below the hive

// Why a key path below HKEY_LOCAL_MACHINE names no key.
enum class KeyPathProblem {
    None,
    EmptyElement,   // a leading, trailing or doubled backslash
    ElementTooLong, // an element past MaxKeyNameLength
    TooDeep,        // more than MaxKeyDepth elements
};

// The one key-path rule: every element non-empty and within the limits.
// The empty path is the hive itself and passes.
KeyPathProblem CheckKeyPath(std::wstring_view path);

// One line for a message, naming the limit broken ("" for None).
const char* DescribeKeyPathProblem(KeyPathProblem problem);

// Whether a value name is within MaxValueNameLength (null is the empty name).
bool ValueNameFits(const wchar_t* name);

} // namespace Kestlib500
