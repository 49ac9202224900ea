#include "support/registry/KeyPath.h"

#include "support/text/Unicode.h"

namespace Kestlib500 {
namespace {

// Windows counts names in UTF-16 units: a character outside the Basic
// Multilingual Plane (one wchar_t on Linux) takes two.
std::size_t UnitsOf(wchar_t c)
{
    char16_t units[2];
    return static_cast<std::size_t>(vesk_text::utf16Units(c, units));
}

} // namespace

KeyPathProblem CheckKeyPath(std::wstring_view path)
{
    if (path.empty())
        return KeyPathProblem::None;
    std::size_t depth = 1;
    std::size_t length = 0;
    for (wchar_t c : path) {
        if (c != L'\\') {
            length += UnitsOf(c);
            if (length > MaxKeyNameLength)
                return KeyPathProblem::ElementTooLong;
            continue;
        }
        if (length == 0)
            return KeyPathProblem::EmptyElement;
        length = 0;
        if (++depth > MaxKeyDepth)
            return KeyPathProblem::TooDeep;
    }
    return length == 0 ? KeyPathProblem::EmptyElement : KeyPathProblem::None;
}

const char* DescribeKeyPathProblem(KeyPathProblem problem)
{
    switch (problem) {
    case KeyPathProblem::None:
        return "";
    case KeyPathProblem::EmptyElement:
        return "a key path may not hold an empty name (a leading, trailing or doubled backslash)";
    case KeyPathProblem::ElementTooLong:
        return "a key name may have at most 255 characters";
    case KeyPathProblem::TooDeep:
        return "keys may be nested at most 512 levels deep";
    }
    return "";
}

bool ValueNameFits(const wchar_t* name)
{
    std::size_t length = 0;
    for (; name && *name != L'\0'; ++name)
        length += UnitsOf(*name);
    return length <= MaxValueNameLength;
}

} // namespace Kestlib500
