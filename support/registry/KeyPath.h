#pragma once

#include <cstddef>
#include <string>
#include <string_view>

// Key paths as the registry has them: elements joined by backslashes, below
// the one hive the library uses. Every path is built, split, checked and
// printed through these, so the rules and their messages live once.
namespace Kestlib500 {

// The registry's limits, as Windows has them, in UTF-16 units.
constexpr std::size_t MaxKeyNameLength = 255;     // units of one key name element
constexpr std::size_t MaxValueNameLength = 16383; // units of a value name
constexpr std::size_t MaxKeyDepth = 512;          // key levels below the hive

// The hive every path is below, as messages and .reg files spell it, and
// the short form .reg files may use.
constexpr std::wstring_view HiveName = L"HKEY_LOCAL_MACHINE";
constexpr std::wstring_view HiveShortName = L"HKLM";

// "HKEY_LOCAL_MACHINE\<below>", or the hive alone for the empty path.
std::wstring FullKeyPath(std::wstring_view below);
// The path below the hive of a full path spelled with either hive name
// (any case), "" for the hive itself; false when the path is elsewhere.
bool BelowHive(std::wstring_view full, std::wstring& below);
// `parent`\`child`, either side may be empty.
std::wstring JoinKeyPath(std::wstring_view parent, std::wstring_view child);
// The path without its last element; "" for a one-element path.
std::wstring ParentKeyPath(std::wstring_view path);
// Whether `path` is `root` or below it, names compared as the registry does
// (the empty root holds every path).
bool IsAtOrBelow(std::wstring_view path, std::wstring_view root);

// Why a key path below the hive names no key.
enum class KeyPathProblem {
    None,
    EmptyElement,   // a leading, trailing or doubled backslash
    ElementTooLong, // an element past MaxKeyNameLength
    TooDeep,        // more than MaxKeyDepth elements
};

// Whether `path` has an empty element (the empty path has none).
bool HasEmptyElement(std::wstring_view path);

// The one key-path rule: every element non-empty and within the limits.
// The empty path is the hive itself and passes.
KeyPathProblem CheckKeyPath(std::wstring_view path);

// One line for a message, naming the limit broken ("" for None).
std::string DescribeKeyPathProblem(KeyPathProblem problem);

// The length of a name in UTF-16 units, as the registry counts it.
std::size_t NameUnits(std::wstring_view name);

// Whether a value name is within MaxValueNameLength (null is the empty name).
bool ValueNameFits(const wchar_t* name);
// The message for a value name past the limit, with its length.
std::string DescribeLongValueName(std::wstring_view name);

} // namespace Kestlib500
