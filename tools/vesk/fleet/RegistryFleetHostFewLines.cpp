#include "tools/vesk/fleet/RegistryFleetHost.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/fleet/LineDelta.h"
#include "support/registry/RegistryKey.h"

#include <sstream>
#include <unordered_map>

// The few-lines fast path of an apply: a document that differs from the
// applied one in a few lines of one key is applied from those lines alone.
namespace vesk_fleet {

using vesk_tool::Failure;
using vesk_tool::ImportStep;

const RegistryFleetHost::FewLines* RegistryFleetHost::fewLinesOf(const std::wstring& instance, std::string_view regBytes)
{
    if (few && few->instance == instance && few->bytes == regBytes)
        return &*few;
    few.reset();
    const auto record = appliedRecord(instance);
    std::istringstream fields(appliedState(instance));
    std::string digest, stateDigest, plain;
    fields >> digest >> stateDigest >> plain;
    if (!record || record->digest.empty() || digest != record->digest || plain != "plain")
        return nullptr;
    const auto applied = appliedDocument(instance);
    if (!applied)
        return nullptr;
    const auto lines = lineDelta(*applied, regBytes);
    if (!lines)
        return nullptr;
    const std::wstring root = instanceKey(instance);
    try {
        FewLines found{instance, std::string(regBytes), digest, stateDigest, {},
                       InstanceTree(plan(instance, lines->before), root), InstanceTree(plan(instance, lines->after), root)};
        // Both sides under the one [key] line they start with: the values
        // of that key, the keys above it holding none.
        for (const InstanceTree* tree : {&found.before, &found.after}) {
            if (!tree->plain())
                return nullptr;
            const std::wstring& deepest = tree->keys().rbegin()->first;
            if (!found.key.empty() && found.key != deepest)
                return nullptr;
            found.key = deepest;
            for (const auto& [folded, key] : tree->keys())
                if (folded != deepest && (!key.values.empty() || deepest.compare(0, folded.size() + 1, folded + L'\\') != 0))
                    return nullptr;
        }
        few.emplace(std::move(found));
    } catch (const Failure&) {
        return nullptr; // the whole document is read, and its fault named
    }
    return &*few;
}

std::optional<Difference> RegistryFleetHost::fewLines(const std::wstring& instance, std::string_view regBytes,
                                                      const AppliedRecord& record, std::string& state)
{
    // The instance holds the applied document (unchangedSinceApply said so just now).
    const auto applied = appliedRecord(instance);
    if (unchanged != instance || !applied)
        return std::nullopt;
    const FewLines* lines = fewLinesOf(instance, regBytes);
    if (!lines || lines->base != applied->digest)
        return std::nullopt;
    const std::string shifted = InstanceTree::shiftedDigest(lines->baseState, lines->key, lines->before.keys().at(lines->key).values,
                                                            lines->after.keys().at(lines->key).values);
    if (shifted.empty())
        return std::nullopt;
    const InstanceTree::Key& was = lines->before.keys().at(lines->key);
    const InstanceTree::Key& now = lines->after.keys().at(lines->key);
    std::unordered_map<std::wstring_view, const InstanceTree::Value*> old;
    for (const InstanceTree::Value& value : was.values)
        old.emplace(value.folded, &value);
    const Kestlib500::RegistryKey key = Kestlib500::RegistryKey::Open(now.path);
    if (!key.IsOpen())
        return std::nullopt;
    Difference written;
    for (const InstanceTree::Value& value : now.values) {
        const auto found = old.find(value.folded);
        if (found != old.end()) {
            const auto& had = found->second->value.value;
            old.erase(found);
            if (had.type == value.value.value.type && had.data == value.value.value.data)
                continue;
        } else {
            // A new line of a name the applied document holds elsewhere: the
            // document sets it twice, and only the whole of it says which wins.
            Kestlib500::RawValue there;
            if (key.Query(value.value.name.c_str(), there))
                return std::nullopt;
        }
        written.steps.push_back(ImportStep{ImportStep::Action::SetValue, 0, now.path, value.value.name, value.value.value});
        ++written.valuesSet;
    }
    for (const InstanceTree::Value& value : was.values)
        if (old.count(value.folded)) {
            written.steps.push_back(ImportStep{ImportStep::Action::DeleteValue, 0, now.path, value.value.name, {}});
            ++written.valuesDeleted;
        }
    state = record.digest + " " + shifted + " plain";
    return written;
}

} // namespace vesk_fleet
