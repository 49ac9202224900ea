#include "ImportPlan.h"

#include "Text.h"
#include "support/registry/KeyPath.h"

namespace vesk_tool {
namespace {

const std::wstring_view Hive = L"HKEY_LOCAL_MACHINE";
const std::wstring_view HiveShort = L"HKLM";

// Where the part below the hive starts, or npos when the path is elsewhere.
std::size_t afterHive(const std::wstring& path)
{
    for (const std::wstring_view hive : {Hive, HiveShort}) {
        if (!startsWithIgnoreCase(path, hive))
            continue;
        if (path.size() == hive.size())
            return path.size();
        if (path[hive.size()] == L'\\')
            return hive.size() + 1;
    }
    return std::wstring::npos;
}

bool isAtOrBelow(const std::wstring& key, const std::wstring& root)
{
    if (root.empty())
        return true;
    return startsWithIgnoreCase(key, root) && (key.size() == root.size() || key[root.size()] == L'\\');
}

// The key below the hive that the file's [path] writes.
std::wstring keyOf(const RegKey& key, const std::wstring& from, const std::wstring& fromPath, const std::wstring& to)
{
    const std::size_t start = afterHive(key.path);
    const std::wstring below = start == std::wstring::npos ? std::wstring() : key.path.substr(start);
    if (start == std::wstring::npos || !isAtOrBelow(below, from))
        throw RegFileError(key.line, "the key " + toUtf8(key.path) + " is outside " + toUtf8(fromPath) +
                                         ": import only keys of this instance (see --instance and --from-instance)");
    std::wstring rest = below.substr(from.size()); // "" or "\\..."
    if (from.empty() && !rest.empty())
        rest.insert(0, 1, L'\\');
    const std::wstring written = to.empty() ? rest.substr(rest.empty() ? 0 : 1) : to + rest;
    const Kestlib500::KeyPathProblem problem = Kestlib500::CheckKeyPath(written);
    if (problem != Kestlib500::KeyPathProblem::None)
        throw RegFileError(key.line, std::string(Kestlib500::DescribeKeyPathProblem(problem)) + ": " +
                                         toUtf8(key.path.substr(0, 200)) + (key.path.size() > 200 ? "..." : ""));
    return written;
}

ImportStep valueStep(RegValue&& value, const std::wstring& key)
{
    if (!Kestlib500::ValueNameFits(value.name.c_str()))
        throw RegFileError(value.line, "a value name may have at most 16383 characters");
    ImportStep step;
    step.action = value.remove ? ImportStep::Action::DeleteValue : ImportStep::Action::SetValue;
    step.line = value.line;
    step.key = key;
    step.name = std::move(value.name);
    step.value = std::move(value.value);
    return step;
}

} // namespace

std::wstring belowHive(const std::wstring& fullPath)
{
    const std::size_t start = afterHive(fullPath);
    return start == std::wstring::npos ? fullPath : fullPath.substr(start);
}

std::vector<ImportStep> planImport(const RegDocument& document, const std::wstring& fromPath, const std::wstring& toKey,
                                   bool mayDeleteRoot)
{
    return planImport(RegDocument(document), fromPath, toKey, mayDeleteRoot);
}

std::vector<ImportStep> planImport(RegDocument&& document, const std::wstring& fromPath, const std::wstring& toKey,
                                   bool mayDeleteRoot)
{
    const std::wstring from = belowHive(fromPath);
    std::vector<ImportStep> steps;
    std::size_t count = 0;
    for (const RegKey& key : document.keys)
        count += 1 + key.values.size();
    steps.reserve(count);
    for (RegKey& key : document.keys) {
        ImportStep step;
        step.line = key.line;
        step.key = keyOf(key, from, fromPath, toKey);
        if (key.remove && !mayDeleteRoot && equalsIgnoreCase(step.key, toKey))
            throw RegFileError(key.line, "this line would delete the settings of every instance: import into one "
                                         "instance with --instance NAME");
        step.action = key.remove ? ImportStep::Action::DeleteKey : ImportStep::Action::CreateKey;
        steps.push_back(step);
        for (RegValue& value : key.values)
            steps.push_back(valueStep(std::move(value), step.key));
        // Moved out: the document shrinks as the plan grows.
        key.values = {};
    }
    return steps;
}

} // namespace vesk_tool
