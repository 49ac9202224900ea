#include "support/registry/KeyPath.h"

#include "support/registry/NameFold.h"
#include "support/text/Unicode.h"

#include <cstdint>

namespace Kestlib500 {
namespace {

// Windows counts names in UTF-16 units: a character outside the Basic
// Multilingual Plane (one wchar_t on Linux) takes two. Inside it, as
// nearly every character is, a character is one unit, counted in line.
std::size_t UnitsOf(wchar_t c)
{
    if (static_cast<std::uint32_t>(c) >> 16 == 0) // always, where wchar_t is a unit
        return 1;
    char16_t units[2];
    return static_cast<std::size_t>(vesk_text::utf16Units(c, units));
}

} // namespace

std::wstring FullKeyPath(std::wstring_view below) { return JoinKeyPath(HiveName, below); }

bool BelowHive(std::wstring_view full, std::wstring& below)
{
    for (const std::wstring_view hive : {HiveName, HiveShortName}) {
        if (full.size() < hive.size() || !SameFoldedName(full.substr(0, hive.size()), hive))
            continue;
        if (full.size() == hive.size() || full[hive.size()] == L'\\') {
            below = full.substr(std::min(full.size(), hive.size() + 1));
            return true;
        }
    }
    return false;
}

std::wstring JoinKeyPath(std::wstring_view parent, std::wstring_view child)
{
    std::wstring path(parent);
    if (!parent.empty() && !child.empty())
        path += L'\\';
    return path.append(child);
}

std::wstring ParentKeyPath(std::wstring_view path)
{
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring_view::npos ? std::wstring() : std::wstring(path.substr(0, slash));
}

bool IsAtOrBelow(std::wstring_view path, std::wstring_view root)
{
    if (root.empty())
        return true;
    return path.size() >= root.size() && SameFoldedName(path.substr(0, root.size()), root) &&
           (path.size() == root.size() || path[root.size()] == L'\\');
}

bool HasEmptyElement(std::wstring_view path)
{
    return !path.empty() && (path.front() == L'\\' || path.back() == L'\\' || path.find(L"\\\\") != std::wstring_view::npos);
}

KeyPathProblem CheckKeyPath(std::wstring_view path)
{
    if (path.empty())
        return KeyPathProblem::None;
    // One pass: an empty element outranks a limit broken, so the first limit
    // broken is kept while the scan goes on.
    KeyPathProblem limit = KeyPathProblem::None;
    std::size_t depth = 1;
    std::size_t length = 0;
    for (wchar_t c : path) {
        if (c != L'\\') {
            length += UnitsOf(c);
            if (length > MaxKeyNameLength && limit == KeyPathProblem::None)
                limit = KeyPathProblem::ElementTooLong;
            continue;
        }
        if (length == 0)
            return KeyPathProblem::EmptyElement;
        length = 0;
        if (++depth > MaxKeyDepth && limit == KeyPathProblem::None)
            limit = KeyPathProblem::TooDeep;
    }
    return length == 0 ? KeyPathProblem::EmptyElement : limit;
}

std::string DescribeKeyPathProblem(KeyPathProblem problem)
{
    switch (problem) {
    case KeyPathProblem::None:
        return "";
    case KeyPathProblem::EmptyElement:
        return "a key path may not hold an empty name (a leading, trailing or doubled backslash)";
    case KeyPathProblem::ElementTooLong:
        return "a key name may have at most " + std::to_string(MaxKeyNameLength) + " UTF-16 units";
    case KeyPathProblem::TooDeep:
        return "keys may be nested at most " + std::to_string(MaxKeyDepth) + " levels deep";
    }
    return "";
}

std::size_t NameUnits(std::wstring_view name)
{
    std::size_t length = 0;
    for (wchar_t c : name)
        length += UnitsOf(c);
    return length;
}

bool ValueNameFits(const wchar_t* name) { return !name || NameUnits(name) <= MaxValueNameLength; }

std::string DescribeLongValueName(std::wstring_view name)
{
    return "a value name may have at most " + std::to_string(MaxValueNameLength) +
           " UTF-16 units (a character beyond the Basic Multilingual Plane takes two); this one has " +
           std::to_string(NameUnits(name));
}

} // namespace Kestlib500
