#include "tools/vesk/fleet/InstanceTree.h"

#include "support/registry/KeyPath.h"
#include "support/registry/NameFold.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <utility>

namespace vesk_fleet {
namespace {

using vesk_tool::ImportStep;
using vesk_tool::RegValue;

using Kestlib500::ParentKeyPath;

} // namespace

std::wstring foldedName(std::wstring_view name)
{
    return Kestlib500::FoldedName(std::wstring(name));
}

InstanceTree::InstanceTree(std::vector<ImportStep> steps, const std::wstring& rootPath) : root(rootPath)
{
    ensure(root);
    // A plan lists a key's values one after another under the same path:
    // the key is looked up once for them all.
    Key* current = nullptr;
    const std::wstring* currentPath = nullptr;
    auto keyOf = [&](const std::wstring& path) -> Key& {
        if (!current || *currentPath != path) {
            current = &ensure(path);
            currentPath = &path;
        }
        return *current;
    };
    for (std::size_t at = 0; at < steps.size(); ++at) {
        ImportStep& planned = steps[at];
        switch (planned.action) {
        case ImportStep::Action::CreateKey: {
            // A plan writes a key's values right after it: room for them all at once.
            std::size_t values = 0;
            while (at + 1 + values < steps.size() && steps[at + 1 + values].action == ImportStep::Action::SetValue)
                ++values;
            Key& key = keyOf(planned.key);
            key.values.reserve(key.values.size() + values);
            break;
        }
        case ImportStep::Action::SetValue:
        case ImportStep::Action::DeleteValue: {
            // Settled once the whole plan is in (settle): names repeat rarely.
            const bool remove = planned.action == ImportStep::Action::DeleteValue;
            Key& key = keyOf(planned.key);
            std::wstring folded = foldedName(planned.name);
            const std::size_t hash = std::hash<std::wstring>{}(folded);
            key.values.push_back(Value{std::move(folded), hash, RegValue{0, std::move(planned.name), remove, std::move(planned.value)}});
            break;
        }
        case ImportStep::Action::DeleteKey:
            plainSteps = false;
            removeTree(planned.key);
            current = nullptr;
            break;
        }
    }
    ensure(root); // a document that deletes the instance leaves it empty, never gone
    for (auto& [folded, key] : byFoldedPath)
        plainSteps = settle(key) && plainSteps;
}

bool InstanceTree::settle(Key& key)
{
    std::vector<Value>& values = key.values;
    // Equal names meet when sorted by hash, each run in the order written.
    std::vector<std::pair<std::size_t, std::size_t>> byHash; // hash, index
    byHash.reserve(values.size());
    bool removals = false;
    for (std::size_t i = 0; i < values.size(); ++i) {
        byHash.emplace_back(values[i].hash, i);
        removals = removals || values[i].value.remove;
    }
    std::sort(byHash.begin(), byHash.end());
    bool repeated = removals;
    for (std::size_t i = 1; i < byHash.size() && !repeated; ++i)
        repeated = byHash[i].first == byHash[i - 1].first;
    if (!repeated)
        return true;
    std::vector<bool> kept(values.size(), false);
    std::vector<bool> done(values.size(), false);
    for (std::size_t run = 0; run < byHash.size(); ++run) {
        const std::size_t first = byHash[run].second;
        if (done[first])
            continue;
        // Each entry of this name, first written first: a value keeps the
        // place it was first set at since it was last deleted, and the
        // data it was set to last.
        std::optional<std::size_t> place;
        for (std::size_t other = run; other < byHash.size() && byHash[other].first == byHash[run].first; ++other) {
            const std::size_t at = byHash[other].second;
            if (done[at] || values[at].folded != values[first].folded)
                continue;
            done[at] = true;
            if (values[at].value.remove) {
                place.reset();
                continue;
            }
            if (!place)
                place = at;
            else
                values[*place].value = std::move(values[at].value);
        }
        if (place)
            kept[*place] = true;
    }
    std::size_t out = 0;
    for (std::size_t i = 0; i < values.size(); ++i)
        if (kept[i]) {
            if (out != i)
                values[out] = std::move(values[i]);
            ++out;
        }
    values.erase(values.begin() + static_cast<std::ptrdiff_t>(out), values.end());
    return false;
}

namespace {

std::uint64_t mixed(std::uint64_t x)
{
    x += 0x9e3779b97f4a7c15ULL;
    x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ULL;
    x = (x ^ (x >> 27)) * 0x94d049bb133111ebULL;
    return x ^ (x >> 31);
}

// What one value adds to each of stateDigest's two sums.
std::pair<std::uint64_t, std::uint64_t> valueTerms(std::uint64_t path, const InstanceTree::Value& value)
{
    const std::vector<unsigned char>& data = value.value.value.data;
    const std::uint64_t bytes =
        std::hash<std::string_view>{}(std::string_view(reinterpret_cast<const char*>(data.data()), data.size()));
    const std::uint64_t one = mixed(path ^ mixed(value.hash ^ mixed(bytes + value.value.value.type)));
    return {one, mixed(one ^ 0x5bd1e9955bd1e995ULL)};
}

std::string digestText(const std::uint64_t (&sums)[2])
{
    char text[40];
    std::snprintf(text, sizeof text, "%016llx%016llx", static_cast<unsigned long long>(sums[0]),
                  static_cast<unsigned long long>(sums[1]));
    return text;
}

} // namespace

std::string InstanceTree::stateDigest() const
{
    // Two sums of well-mixed hashes, one per key and one per value, each
    // with a seed of its own: a sum ignores order, so nothing is sorted.
    std::uint64_t sums[2] = {0, 0};
    for (const auto& [folded, key] : byFoldedPath) {
        const std::uint64_t path = std::hash<std::wstring>{}(folded);
        for (std::uint64_t seed = 0; seed < 2; ++seed)
            sums[seed] += mixed(mixed(path + seed));
        for (const Value& value : key.values) {
            const auto [first, second] = valueTerms(path, value);
            sums[0] += first;
            sums[1] += second;
        }
    }
    return digestText(sums);
}

std::string InstanceTree::shiftedDigest(const std::string& digest, const std::wstring& folded,
                                        const std::vector<Value>& removed, const std::vector<Value>& added)
{
    // The sums are order-free, so a value's terms come out as simply as they went in.
    std::uint64_t sums[2] = {0, 0};
    if (digest.size() != 32 || digest.find_first_not_of("0123456789abcdef") != std::string::npos)
        return std::string();
    sums[0] = std::stoull(digest.substr(0, 16), nullptr, 16);
    sums[1] = std::stoull(digest.substr(16), nullptr, 16);
    const std::uint64_t path = std::hash<std::wstring>{}(folded);
    for (const Value& value : removed) {
        const auto [first, second] = valueTerms(path, value);
        sums[0] -= first;
        sums[1] -= second;
    }
    for (const Value& value : added) {
        const auto [first, second] = valueTerms(path, value);
        sums[0] += first;
        sums[1] += second;
    }
    return digestText(sums);
}

InstanceTree::Key& InstanceTree::ensure(const std::wstring& path)
{
    const std::wstring folded = foldedName(path);
    auto found = byFoldedPath.find(folded);
    if (found != byFoldedPath.end())
        return found->second;
    // The registry creates every missing key above one it creates.
    if (folded.size() > root.size())
        ensure(ParentKeyPath(path));
    order.push_back(folded);
    return byFoldedPath.emplace(folded, Key{path, {}}).first->second;
}

void InstanceTree::removeTree(const std::wstring& path)
{
    const std::wstring folded = foldedName(path);
    // A key's subtree sorts between "key\" and "key]" ("]" follows "\").
    byFoldedPath.erase(byFoldedPath.lower_bound(folded + L'\\'), byFoldedPath.lower_bound(folded + L']'));
    byFoldedPath.erase(folded);
}

} // namespace vesk_fleet
