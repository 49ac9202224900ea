#pragma once

#include "tools/vesk/Progress.h"
#include "tools/vesk/RegFile.h"

#include <string>
#include <vector>

// A key and its whole subtree read from the registry in one pass: each key
// is opened once and its values and sub-keys walked in order on that one
// handle, so n entries cost O(n) registry operations. Keys come as the
// registry editor orders them: a key's values, then its sub-keys depth first.
namespace vesk_tool {

class TreeReader {
public:
    explicit TreeReader(Progress& progress) : progress(progress) {}

    // Appends `key` (below HKEY_LOCAL_MACHINE) and its subtree to `into`,
    // paths spelled HKEY_LOCAL_MACHINE\...; false when the key is missing.
    // Names a .reg file cannot carry are left out, each with a line in leftOut().
    bool read(const std::wstring& key, RegDocument& into);

    const std::vector<std::string>& leftOut() const { return skipped; }

private:
    struct Walk;

    Progress& progress;
    std::vector<std::string> skipped;
};

} // namespace vesk_tool
