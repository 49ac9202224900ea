// The slot table itself: which slot a sub-key gets, and that running out of
// memory part-way leaves no half-built table or slot.
#include "cache/SlotTable.h"
#include "common/Allocations.h"

#include <gtest/gtest.h>

#include <new>
#include <string>

namespace {

WString Name(int i) { return WString(std::to_wstring(i).c_str()); }

TEST(SlotTable, GivesTheLowestFreeSlotAndKeepsEachSubKeysOwn)
{
    SlotTable table;
    EXPECT_EQ(table.FindOrCreateSlot(L"A"), 0);
    EXPECT_EQ(table.FindOrCreateSlot(L"B"), 1);
    EXPECT_EQ(table.FindOrCreateSlot(L"A"), 0);
    EXPECT_EQ(table.FindOrCreateSlot(L""), 2) << "the empty sub-key is a name like any other";
    EXPECT_EQ(table.FindOrCreateSlot(L"a"), 3) << "no case folding";
    for (int i = 4; i < SlotTable::SlotCount; ++i)
        EXPECT_EQ(table.FindOrCreateSlot(Name(i)), i);
    EXPECT_EQ(table.FindOrCreateSlot(L"full"), -1);

    table.Cache<int>(5).emplace(L"x", 5);
    table.FreeSlot(2);
    EXPECT_EQ(table.FindOrCreateSlot(Name(5)), 5) << "found before a free slot is considered";
    EXPECT_EQ(table.Cache<int>(5).at(L"x"), 5);
    EXPECT_EQ(table.FindOrCreateSlot(L"new"), 2);
    EXPECT_TRUE(table.Cache<WString>(2).empty());
    EXPECT_EQ(table.FindOrCreateSlot(L""), -1) << "the freed sub-key has no slot any more";
}

// Fails the n-th allocation of a lookup, for every n until one succeeds.
// After each failure the table must hand out its lowest free slot whole, as
// if the failed lookup had never run.
TEST(SlotTable, RunningOutOfMemoryLeavesNothingHalfBuilt)
{
    for (const bool withTable : {false, true}) {
        const int expected = withTable ? 1 : 0;
        int failures = 0;
        for (std::size_t n = 0;; ++n) {
            SlotTable table;
            if (withTable) {
                ASSERT_EQ(table.FindOrCreateSlot(L"first"), 0);
            }
            const WString subKey(L"sub-key");
            Allocations::FailAfter(n);
            try {
                EXPECT_EQ(table.FindOrCreateSlot(subKey), expected);
                Allocations::StopFailing();
                break;
            } catch (const std::bad_alloc&) {
                ++failures;
            }
            const int probe = table.FindOrCreateSlot(L"probe");
            ASSERT_EQ(probe, expected) << "allocation " << n << " left a slot taken";
            EXPECT_TRUE(table.Cache<int>(probe).empty());
            EXPECT_TRUE(table.Cache<WString>(probe).empty());
            EXPECT_TRUE(table.Cache<bool>(probe).empty());
        }
        // The argument copy, then the four arrays of a new table, then the
        // name, its text and the three caches of a new slot.
        EXPECT_EQ(failures, withTable ? 6 : 10);
    }
}

} // namespace
