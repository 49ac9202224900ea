#pragma once

#include "tools/vesk/core/ImportPlan.h"

#include <map>
#include <string>
#include <vector>

// An instance's settings as the registry sees them: keys by folded path,
// each with its values. Key paths and value names match as the registry
// matches them (NameFold), values by type and bytes, so the order a
// registry lists them in, or a name's case, is no difference.
namespace vesk_fleet {

class InstanceTree {
public:
    // The tree that `steps` (a plan below `root`, below the hive) leave when
    // applied to an instance holding nothing; `root` is always in it. The
    // steps' names and data are moved in.
    InstanceTree(std::vector<vesk_tool::ImportStep> steps, const std::wstring& root);

    struct Value {
        std::wstring folded;        // the name folded
        std::size_t hash = 0;       // of `folded`
        vesk_tool::RegValue value;  // the name as spelled, type and bytes
    };
    struct Key {
        std::wstring path;          // below the hive, as spelled
        // One per folded name, first written first. A flat list, not a
        // hash table: two trees of one instance list their values in the
        // same order, so they are compared walking side by side.
        std::vector<Value> values;
    };
    const std::map<std::wstring, Key>& keys() const { return byFoldedPath; }
    // Folded paths, first created first (some may since be removed): what is
    // written new is written in the document's order, which a store that
    // lists in order of writing then keeps.
    const std::vector<std::wstring>& keyOrder() const { return order; }
    // A digest of what the tree holds as the registry compares it (keys and
    // names folded, types and bytes), whatever the order or case: equal
    // trees give equal digests, so one taken at apply time tells later
    // whether the instance was changed since.
    std::string stateDigest() const;
    // `digest` (a stateDigest) of a tree once the values `removed` of the
    // key `folded` (its folded path) are taken out of it and `added` put in.
    static std::string shiftedDigest(const std::string& digest, const std::wstring& folded,
                                     const std::vector<Value>& removed, const std::vector<Value>& added);
    // No value or key deleted and no name set twice: each value the tree
    // holds is on one line of the document, and nowhere else.
    bool plain() const { return plainSteps; }

private:
    Key& ensure(const std::wstring& path);
    // Leaves one entry per name in `key`, as setting and deleting its
    // values in the order listed leaves them (a deletion is listed as a
    // value whose `remove` is set). False when a name was set twice or deleted.
    static bool settle(Key& key);
    void removeTree(const std::wstring& path);

    std::wstring root;
    std::map<std::wstring, Key> byFoldedPath;
    std::vector<std::wstring> order;
    bool plainSteps = true;
};

// A name folded as the registry folds it for comparing.
std::wstring foldedName(std::wstring_view name);

} // namespace vesk_fleet
