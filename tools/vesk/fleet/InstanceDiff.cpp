#include "InstanceDiff.h"

#include "RegFile.h"
#include "Text.h"
#include "support/registry/NameFold.h"

#include <algorithm>
#include <set>
#include <sstream>

namespace vesk_fleet {
namespace {

using vesk_tool::ImportStep;
using vesk_tool::RegValue;

const std::wstring Hive = L"HKEY_LOCAL_MACHINE\\";

std::wstring parentOf(const std::wstring& path)
{
    const std::size_t slash = path.rfind(L'\\');
    return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

bool sameValue(const RegValue& a, const RegValue& b)
{
    return a.value.type == b.value.type && a.value.data == b.value.data;
}

// Each value of `values` in key `key` as the .reg line export writes for it,
// led by "[key] " and with continued lines joined.
std::vector<std::string> valueLines(const std::wstring& key, const std::vector<RegValue>& values)
{
    vesk_tool::RegDocument document;
    document.keys.push_back(vesk_tool::RegKey{0, Hive + key, false, values});
    std::istringstream text(vesk_tool::writeRegFile(document, vesk_tool::RegEncoding::Utf8));
    const std::string lead = "[" + vesk_tool::toUtf8(Hive + key) + "]";
    std::vector<std::string> lines;
    std::string pending;
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\\') {
            pending += line.substr(0, line.size() - 1);
            continue;
        }
        line = pending + line;
        pending.clear();
        if (line.empty() || line == lead || line.rfind("Windows Registry Editor", 0) == 0)
            continue;
        lines.push_back(lead + " " + line);
    }
    return lines;
}

ImportStep step(ImportStep::Action action, const std::wstring& key, const RegValue* value = nullptr)
{
    ImportStep made{action, 0, key, L"", {}};
    if (value) {
        made.name = value->name;
        made.value = value->value;
    }
    return made;
}

} // namespace

std::wstring foldedName(std::wstring_view name)
{
    std::wstring folded(name);
    for (wchar_t& unit : folded) {
        const std::uint32_t code = static_cast<std::uint32_t>(unit);
        if (sizeof(wchar_t) == 2 || code <= 0xFFFF) // wider units are whole characters: never folded
            unit = static_cast<wchar_t>(Kestlib500::FoldUnit(static_cast<char16_t>(code)));
    }
    return folded;
}

InstanceTree::InstanceTree(const std::vector<ImportStep>& steps, const std::wstring& rootPath) : root(rootPath)
{
    ensure(root);
    for (std::size_t at = 0; at < steps.size(); ++at) {
        const ImportStep& planned = steps[at];
        switch (planned.action) {
        case ImportStep::Action::CreateKey: {
            // A plan writes a key's values right after it: room for them all at once.
            std::size_t values = 0;
            while (at + 1 + values < steps.size() && steps[at + 1 + values].action == ImportStep::Action::SetValue)
                ++values;
            Key& key = ensure(planned.key);
            key.values.reserve(key.values.size() + values);
            key.order.reserve(key.order.size() + values);
            break;
        }
        case ImportStep::Action::SetValue: {
            Key& key = ensure(planned.key);
            const std::wstring name = foldedName(planned.name);
            if (key.values.insert_or_assign(name, RegValue{0, planned.name, false, planned.value}).second)
                key.order.push_back(name);
            break;
        }
        case ImportStep::Action::DeleteValue: {
            const auto key = byFoldedPath.find(foldedName(planned.key));
            const std::wstring name = foldedName(planned.name);
            if (key != byFoldedPath.end() && key->second.values.erase(name))
                key->second.order.erase(std::find(key->second.order.begin(), key->second.order.end(), name));
            break;
        }
        case ImportStep::Action::DeleteKey:
            removeTree(planned.key);
            break;
        }
    }
    ensure(root); // a document that deletes the instance leaves it empty, never gone
}

InstanceTree::Key& InstanceTree::ensure(const std::wstring& path)
{
    const std::wstring folded = foldedName(path);
    auto found = byFoldedPath.find(folded);
    if (found != byFoldedPath.end())
        return found->second;
    // The registry creates every missing key above one it creates.
    if (folded.size() > root.size())
        ensure(parentOf(path));
    order.push_back(folded);
    return byFoldedPath.emplace(folded, Key{path, {}, {}}).first->second;
}

void InstanceTree::removeTree(const std::wstring& path)
{
    const std::wstring folded = foldedName(path);
    // A key's subtree sorts between "key\" and "key]" ("]" follows "\").
    byFoldedPath.erase(byFoldedPath.lower_bound(folded + L'\\'), byFoldedPath.lower_bound(folded + L']'));
    byFoldedPath.erase(folded);
}

Difference difference(const InstanceTree& from, const InstanceTree& to, bool withChanges)
{
    using Kind = Difference::Kind;
    Difference diff;
    std::vector<Difference::Change> added; // a key's new values follow its old ones in the lines
    auto note = [&](Difference::Change change) {
        if (withChanges)
            diff.changes.push_back(std::move(change));
    };
    auto noteAdded = [&](Difference::Change change) {
        if (withChanges)
            added.push_back(std::move(change));
    };
    for (const auto& [folded, key] : from.keys()) {
        if (to.keys().count(folded))
            continue;
        const bool highest = to.keys().count(foldedName(parentOf(key.path))) > 0;
        if (highest) {
            diff.steps.push_back(step(ImportStep::Action::DeleteKey, key.path));
            ++diff.keysRemoved;
        }
        note({Kind::KeyRemoved, key.path, {}});
        for (const std::wstring& name : key.order) {
            note({Kind::ValueRemoved, key.path, key.values.at(name)});
            ++diff.valuesDeleted;
        }
    }
    std::set<std::wstring> visited; // a key removed and made again is listed twice
    for (const std::wstring& folded : to.keyOrder()) {
        const auto found = to.keys().find(folded);
        if (found == to.keys().end() || !visited.insert(folded).second)
            continue;
        const InstanceTree::Key& key = found->second;
        const auto before = from.keys().find(folded);
        if (before == from.keys().end()) {
            diff.steps.push_back(step(ImportStep::Action::CreateKey, key.path));
            note({Kind::KeyCreated, key.path, {}});
            ++diff.keysCreated;
        } else {
            for (const std::wstring& name : before->second.order) {
                if (key.values.count(name))
                    continue;
                const RegValue& value = before->second.values.at(name);
                diff.steps.push_back(step(ImportStep::Action::DeleteValue, key.path, &value));
                note({Kind::ValueRemoved, key.path, value});
                ++diff.valuesDeleted;
            }
        }
        for (const std::wstring& name : key.order) {
            const RegValue& value = key.values.at(name);
            const RegValue* old = nullptr;
            if (before != from.keys().end()) {
                const auto had = before->second.values.find(name);
                old = had == before->second.values.end() ? nullptr : &had->second;
            }
            if (old && sameValue(*old, value))
                continue;
            // Written over in place: a value there before and after is never missing.
            diff.steps.push_back(step(ImportStep::Action::SetValue, key.path, &value));
            if (old)
                note({Kind::ValueRemoved, key.path, *old});
            noteAdded({Kind::ValueAdded, key.path, value});
            ++diff.valuesSet;
        }
        diff.changes.insert(diff.changes.end(), added.begin(), added.end());
        added.clear();
    }
    return diff;
}

std::string Difference::lines() const
{
    std::string out;
    std::size_t at = 0;
    while (at < changes.size()) {
        const Change& first = changes[at];
        if (first.kind == Kind::KeyRemoved || first.kind == Kind::KeyCreated) {
            out += std::string(first.kind == Kind::KeyRemoved ? "-" : "+") + "[" + vesk_tool::toUtf8(Hive + first.key) + "]\n";
            ++at;
            continue;
        }
        // A run of values of one key and one side goes through the writer at once.
        std::vector<RegValue> run;
        std::size_t end = at;
        for (; end < changes.size() && changes[end].kind == first.kind && changes[end].key == first.key; ++end)
            run.push_back(changes[end].value);
        for (const std::string& line : valueLines(first.key, run))
            out += (first.kind == Kind::ValueRemoved ? "-" : "+") + line + "\n";
        at = end;
    }
    return out;
}

std::string Difference::summary() const
{
    auto count = [](int n, const char* one, const char* many) { return std::to_string(n) + " " + (n == 1 ? one : many); };
    std::string text = count(valuesSet, "value set", "values set") + ", " + std::to_string(valuesDeleted) + " deleted, " +
                       count(keysRemoved, "key removed", "keys removed");
    if (keysCreated > 0)
        text += ", " + count(keysCreated, "key created", "keys created");
    return text;
}

} // namespace vesk_fleet
