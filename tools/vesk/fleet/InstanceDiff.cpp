#include "tools/vesk/fleet/InstanceDiff.h"

#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "support/registry/KeyPath.h"

#include <algorithm>
#include <unordered_map>
#include <set>
#include <sstream>

namespace vesk_fleet {
namespace {

using vesk_tool::ImportStep;
using vesk_tool::RegValue;

using Kestlib500::FullKeyPath;
using Kestlib500::ParentKeyPath;

bool sameValue(const RegValue& a, const RegValue& b)
{
    return a.value.type == b.value.type && a.value.data == b.value.data;
}

// Each value of `values` in key `key` as the .reg line export writes for it,
// led by "[key] " and with continued lines joined.
std::vector<std::string> valueLines(const std::wstring& key, const std::vector<RegValue>& values)
{
    vesk_tool::RegDocument document;
    document.keys.push_back(vesk_tool::RegKey{0, FullKeyPath(key), false, values});
    std::istringstream text(vesk_tool::writeRegFile(document, vesk_tool::RegEncoding::Utf8));
    const std::string lead = "[" + vesk_tool::toUtf8(FullKeyPath(key)) + "]";
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

constexpr std::size_t None = static_cast<std::size_t>(-1);

// For each value of `to`, the index of the value of that name in `from`, or
// None. The two usually list their values in one order, so a cursor walks
// `from` alongside; a name out of step is looked up, and the walk goes on
// from where it was found.
std::vector<std::size_t> matched(const InstanceTree::Key& from, const InstanceTree::Key& to)
{
    std::vector<std::size_t> at(to.values.size(), None);
    std::unordered_map<std::wstring_view, std::size_t> index; // built on the first name out of step
    bool indexed = false;
    std::size_t cursor = 0;
    for (std::size_t i = 0; i < to.values.size(); ++i) {
        const InstanceTree::Value& value = to.values[i];
        if (cursor < from.values.size() && from.values[cursor].hash == value.hash &&
            from.values[cursor].folded == value.folded) {
            at[i] = cursor++;
            continue;
        }
        if (!indexed) {
            indexed = true;
            index.reserve(from.values.size());
            for (std::size_t j = 0; j < from.values.size(); ++j)
                index.emplace(from.values[j].folded, j);
        }
        const auto found = index.find(value.folded);
        if (found == index.end())
            continue;
        at[i] = found->second;
        cursor = found->second + 1;
    }
    return at;
}

} // namespace

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
        const bool highest = to.keys().count(foldedName(ParentKeyPath(key.path))) > 0;
        if (highest) {
            diff.steps.push_back(step(ImportStep::Action::DeleteKey, key.path));
            ++diff.keysRemoved;
        }
        note({Kind::KeyRemoved, key.path, {}});
        for (const InstanceTree::Value& value : key.values) {
            note({Kind::ValueRemoved, key.path, value.value});
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
        }
        // Where each value of `to` was in `from` (None: not there).
        const bool had = before != from.keys().end();
        const std::vector<std::size_t> old = had ? matched(before->second, key) : std::vector<std::size_t>(key.values.size(), None);
        if (had) {
            std::vector<bool> kept(before->second.values.size(), false);
            for (const std::size_t at : old)
                if (at != None)
                    kept[at] = true;
            for (std::size_t i = 0; i < kept.size(); ++i) {
                if (kept[i])
                    continue;
                const RegValue& value = before->second.values[i].value;
                diff.steps.push_back(step(ImportStep::Action::DeleteValue, key.path, &value));
                note({Kind::ValueRemoved, key.path, value});
                ++diff.valuesDeleted;
            }
        }
        for (std::size_t i = 0; i < key.values.size(); ++i) {
            const RegValue& value = key.values[i].value;
            const RegValue* was = old[i] == None ? nullptr : &before->second.values[old[i]].value;
            if (was && sameValue(*was, value))
                continue;
            // Written over in place: a value there before and after is never missing.
            diff.steps.push_back(step(ImportStep::Action::SetValue, key.path, &value));
            if (was)
                note({Kind::ValueRemoved, key.path, *was});
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
            out += std::string(first.kind == Kind::KeyRemoved ? "-" : "+") + "[" + vesk_tool::toUtf8(FullKeyPath(first.key)) + "]\n";
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
