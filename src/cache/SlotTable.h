#pragma once

#include "vesk/WString.h"

#include <map>
#include <memory>

// The cached values of one sub-key, one map per kind, keyed by value name in
// WString's ordinal order: case-sensitive, although the registry is not.
template <typename Value>
using ValueCache = std::map<WString, Value>;
using IntCache = ValueCache<int>;
using StringCache = ValueCache<WString>;
using BoolCache = ValueCache<bool>;

// Up to SlotCount sub-keys, each with its three caches. A slot stands for a
// sub-key text exactly as given (no instance name, no case folding); once all
// are taken, further sub-keys go uncached until a slot is freed. There is no
// eviction and no expiry.
//
// Not thread-safe: the owner holds its lock around every call. Allocation
// failures leave no half-built table or slot behind: each is built aside and
// put in place whole, with moves that cannot fail.
class SlotTable {
public:
    static constexpr int SlotCount = 25;

    // The slot of `subKey`: its own when it has one (the whole table is
    // searched first), else the lowest free slot, taken for it with empty
    // caches; -1 when every slot belongs to another sub-key. The first call
    // allocates the table. A null `subKey` counts as the empty text.
    int FindOrCreateSlot(WString subKey);

    // Frees `slot` with everything it caches.
    void FreeSlot(int slot);

    // Drops `valueName` from all three caches of `slot`.
    void ForgetValue(int slot, const WString& valueName);

    template <typename Value>
    ValueCache<Value>& Cache(int slot);

private:
    template <typename T>
    using Slots = std::unique_ptr<std::unique_ptr<T>[]>;

    void AllocateSlotTable();

    Slots<WString> slotNames;
    Slots<IntCache> intCaches;
    Slots<StringCache> stringCaches;
    Slots<BoolCache> boolCaches;
};

template <>
inline IntCache& SlotTable::Cache<int>(int slot)
{
    return *intCaches[slot];
}

template <>
inline StringCache& SlotTable::Cache<WString>(int slot)
{
    return *stringCaches[slot];
}

template <>
inline BoolCache& SlotTable::Cache<bool>(int slot)
{
    return *boolCaches[slot];
}
