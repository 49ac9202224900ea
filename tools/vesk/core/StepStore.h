#pragma once

#include "tools/vesk/core/ImportPlan.h"

#include <cstdint>
#include <vector>

// Import steps kept packed, so that a plan read once from a file is walked
// again without reading the file again: each key's path once, then its
// values' names and data, a few bytes each besides them. The steps go in
// blocks, each of whole steps, so the store grows without copying what it
// holds: at its largest it takes what it holds and one block.
namespace vesk_tool {

class StepStore {
public:
    // Value steps belong to the key step before them, as a plan makes them.
    void add(const ImportStep& step);
    void clear() { blocks.clear(); }
    // Hands out the steps in the order added, through one step reused for
    // each; a step handed out is valid only during the call.
    void walk(const std::function<void(const ImportStep&)>& visit) const;

private:
    // The block a step of `size` bytes goes to, started when the last has no room.
    std::vector<unsigned char>& room(std::size_t size);

    std::vector<std::vector<unsigned char>> blocks;
};

} // namespace vesk_tool
