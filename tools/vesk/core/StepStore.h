#pragma once

#include "tools/vesk/core/ImportPlan.h"

#include <cstdint>
#include <vector>

// Import steps kept packed in one buffer, so that a plan read once from a
// file is walked again without reading the file again: each key's path once,
// then its values' names and data, a few bytes each besides them.
namespace vesk_tool {

class StepStore {
public:
    // Value steps belong to the key step before them, as a plan makes them.
    void add(const ImportStep& step);
    void clear() { bytes.clear(); }
    // Hands out the steps in the order added, through one step reused for
    // each; a step handed out is valid only during the call.
    void walk(const std::function<void(const ImportStep&)>& visit) const;

private:
    void putNumber(std::uint32_t number);
    void putText(const std::wstring& text);

    std::vector<unsigned char> bytes;
};

} // namespace vesk_tool
