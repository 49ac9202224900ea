#pragma once

#include "cache/CriticalSection.h"
#include "cache/SlotTable.h"
#include "vesk/VeskSettings.h"

#include <map>
#include <memory>

// The operations the benchmarks time, set up once and shared by both
// drivers (Google Benchmark natively, the timing program under Wine), so the
// two tables measure the same thing.
class Scenarios {
public:
    // Plants the values, fills the slot table (the cached sub-key in slot 0,
    // the uncached one past the 25th) and warms every cache entry used.
    Scenarios();
    ~Scenarios();

    // Through the settings object, as a host calls it.
    int CachedGetInt();
    WString CachedGetString();
    int RegistryGetInt();  // a sub-key without a slot: every call reads the registry
    bool SetInt();

    // What a cached read cannot avoid: the same lock, the same argument
    // copies, one copy of the sub-key, one lookup in a map keyed by WString.
    int FloorRead();
    // The registry calls a registry-backed read makes, made directly: open,
    // query the type, query the value, close (advapi32); or the same
    // statements against the store.
    int RawRead();
#if !defined(_WIN32)
    // One prepared SELECT of the value row by key path and name.
    int PointSelect();
#endif
    // A lookup of a sub-key that has no slot in a full table.
    int FindSlotInFullTable();

private:
    class RawRegistry;

    VeskSettings& settings;
    CriticalSection floorLock;
    std::map<WString, int> floorMap;
    SlotTable fullTable;
    std::unique_ptr<RawRegistry> raw;
};
