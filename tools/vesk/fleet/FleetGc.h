#pragma once

#include "tools/vesk/fleet/FleetStore.h"

#include <string>
#include <vector>

// Removes what the fleet no longer needs: history entries beyond the newest
// ones kept, and the chunks of an instance that no kept manifest names.
namespace vesk_fleet {

struct Collected {
    std::string instance; // its key, as instanceKey() makes it
    std::size_t revisionsKept = 0;
    std::size_t revisionsRemoved = 0;
    std::size_t chunksKept = 0;
    std::size_t chunksRemoved = 0;
};

class Collector {
public:
    explicit Collector(FleetStore& store) : store(store) {}

    // Keeps the `keep` newest revisions of the instance (the current state
    // counting as one) and every chunk they name; removes the rest. Each
    // removal is one transaction that holds only while the state is as read,
    // and a push names only chunks that still exist in its own transaction,
    // so a push running beside it either lands whole or stores its chunks
    // again. Throws Failure when the state keeps moving.
    Collected collect(const std::string& instance, int keep);

    // The keys of every instance that has a state.
    std::vector<std::string> instances();

private:
    // One round of collect; false when the state moved under it.
    bool collectOnce(const std::string& instance, int keep, Collected& report);

    FleetStore& store;
};

} // namespace vesk_fleet
