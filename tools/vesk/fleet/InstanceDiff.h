#pragma once

#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/fleet/InstanceTree.h"

#include <string>
#include <vector>

// The fewest steps that turn one instance's tree (InstanceTree.h) into
// another, and their text for people.
namespace vesk_fleet {

// What turns `from` into `to`, with counts for people and steps for the applier.
struct Difference {
    enum class Kind { KeyRemoved, KeyCreated, ValueRemoved, ValueAdded };
    struct Change {
        Kind kind;
        std::wstring key; // below the hive
        vesk_tool::RegValue value; // ValueRemoved / ValueAdded
    };

    std::vector<vesk_tool::ImportStep> steps;
    std::vector<Change> changes; // what lines() lists
    int valuesSet = 0;     // values `to` has that `from` lacks or holds otherwise
    int valuesDeleted = 0; // values only `from` has, removed keys' values included
    int keysCreated = 0;
    int keysRemoved = 0;   // the highest key of each removed subtree

    bool empty() const { return steps.empty(); }
    int valuesDiffering() const { return valuesSet + valuesDeleted; }
    // "-"/"+" lines, one per key or value, each value led by its [key].
    std::string lines() const;
    // "1 value set, 0 deleted, 0 keys removed" (keys created when any).
    std::string summary() const;
};

// `withChanges` false leaves Difference::changes empty: enough to apply or count.
Difference difference(const InstanceTree& from, const InstanceTree& to, bool withChanges = true);

} // namespace vesk_fleet
