#include "ImportPlan.h"

#include "RegSyntax.h"
#include "Text.h"

#include <algorithm>
#include <cstdio>
#include <optional>

namespace vesk_tool {
namespace {

const std::wstring_view Hive = L"HKEY_LOCAL_MACHINE\\";
const std::wstring_view HiveShort = L"HKLM\\";

// The path with its hive spelled in full, so prefixes compare directly.
std::wstring longHive(const std::wstring& path)
{
    if (startsWithIgnoreCase(path, HiveShort))
        return std::wstring(Hive) + path.substr(HiveShort.size());
    return path;
}

void checkKeyNames(const std::wstring& subKey, int line)
{
    if (subKey.empty())
        return;
    std::size_t start = 0;
    for (;;) {
        const std::size_t end = std::min(subKey.find(L'\\', start), subKey.size());
        if (end == start)
            throw RegFileError(line, "empty key name between backslashes: remove the doubled or trailing \\");
        if (end - start > MaxKeyNameLength)
            throw RegFileError(line, "a key name longer than 255 characters: the registry cannot hold it");
        if (end == subKey.size())
            return;
        start = end + 1;
    }
}

std::wstring subKeyOf(const RegKey& key, const std::wstring& root)
{
    const std::wstring path = longHive(key.path);
    if (equalsIgnoreCase(path, root))
        return std::wstring();
    if (path.size() > root.size() && path[root.size()] == L'\\' && startsWithIgnoreCase(path, root)) {
        std::wstring subKey = path.substr(root.size() + 1);
        checkKeyNames(subKey, key.line);
        return subKey;
    }
    throw RegFileError(key.line, "the key " + toUtf8(key.path) + " is outside " + toUtf8(root) +
                                     ": import only keys of this instance (see --instance and --from-instance)");
}

ImportStep valueStep(const RegValue& value, const std::wstring& subKey)
{
    if (value.name.size() > MaxValueNameLength)
        throw RegFileError(value.line, "a value name longer than 16383 characters: the registry cannot hold it");
    ImportStep step;
    step.line = value.line;
    step.subKey = subKey;
    step.name = value.name;
    if (value.remove) {
        step.action = ImportStep::Action::DeleteValue;
        return step;
    }
    // The settings hold strings and dwords only; other types wait for a
    // store that takes raw values.
    const Kestlib500::RawValue& raw = value.value;
    const std::optional<std::wstring> text = raw.type == REG_SZ ? terminatedText(raw.data) : std::nullopt;
    if (text) {
        step.action = ImportStep::Action::SetString;
        step.text = *text;
    } else if (raw.type == REG_DWORD && raw.data.size() == 4) {
        step.action = ImportStep::Action::SetDword;
        step.dword = raw.data[0] | (raw.data[1] << 8) | (raw.data[2] << 16) | (static_cast<std::uint32_t>(raw.data[3]) << 24);
    } else {
        char type[16];
        std::snprintf(type, sizeof type, "%lx", static_cast<unsigned long>(raw.type));
        throw RegFileError(value.line, "a value of type hex(" + std::string(type) +
                                           "), which the settings cannot hold: only strings and dwords can be imported");
    }
    return step;
}

} // namespace

std::vector<ImportStep> planImport(const RegDocument& document, const std::wstring& rootPath)
{
    const std::wstring root = longHive(rootPath);
    std::vector<ImportStep> steps;
    for (const RegKey& key : document.keys) {
        const std::wstring subKey = subKeyOf(key, root);
        if (key.remove) {
            steps.push_back({ImportStep::Action::DeleteKey, key.line, subKey, {}, {}, 0});
            continue;
        }
        bool writesValue = false;
        std::vector<ImportStep> values;
        for (const RegValue& value : key.values) {
            values.push_back(valueStep(value, subKey));
            writesValue = writesValue || !value.remove;
        }
        if (!writesValue)
            steps.push_back({ImportStep::Action::CreateKey, key.line, subKey, {}, {}, 0});
        steps.insert(steps.end(), values.begin(), values.end());
    }
    return steps;
}

} // namespace vesk_tool
