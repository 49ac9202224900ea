#include "cache/SlotTable.h"

void SlotTable::AllocateSlotTable()
{
    // Array new value-initialises: every slot starts free.
    Slots<WString> names(new std::unique_ptr<WString>[SlotCount]());
    Slots<IntCache> ints(new std::unique_ptr<IntCache>[SlotCount]());
    Slots<StringCache> strings(new std::unique_ptr<StringCache>[SlotCount]());
    Slots<BoolCache> bools(new std::unique_ptr<BoolCache>[SlotCount]());
    slotNames = std::move(names);
    intCaches = std::move(ints);
    stringCaches = std::move(strings);
    boolCaches = std::move(bools);
}

int SlotTable::FindOrCreateSlot(WString subKey)
{
    if (!slotNames)
        AllocateSlotTable();

    int freeSlot = -1;
    for (int slot = 0; slot < SlotCount; ++slot) {
        if (!slotNames[slot]) {
            if (freeSlot < 0)
                freeSlot = slot;
            continue;
        }
        if (WString::compare(*slotNames[slot], subKey) == 0)
            return slot;
    }
    if (freeSlot < 0)
        return -1;

    auto name = std::make_unique<WString>(subKey.c_str());
    auto ints = std::make_unique<IntCache>();
    auto strings = std::make_unique<StringCache>();
    auto bools = std::make_unique<BoolCache>();
    slotNames[freeSlot] = std::move(name);
    intCaches[freeSlot] = std::move(ints);
    stringCaches[freeSlot] = std::move(strings);
    boolCaches[freeSlot] = std::move(bools);
    return freeSlot;
}

void SlotTable::FreeSlot(int slot)
{
    boolCaches[slot].reset();
    stringCaches[slot].reset();
    intCaches[slot].reset();
    slotNames[slot].reset();
}

void SlotTable::ForgetValue(int slot, const WString& valueName)
{
    boolCaches[slot]->erase(valueName);
    stringCaches[slot]->erase(valueName);
    intCaches[slot]->erase(valueName);
}
