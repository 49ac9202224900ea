#pragma once

#include "tools/vesk/core/Progress.h"
#include "tools/vesk/core/RegFile.h"

#include <string>
#include <vector>

// A key and its whole subtree read from the registry in one pass: each key
// is opened once and its values and sub-keys walked in order on that one
// handle, so n entries cost O(n) registry operations. Keys come as the
// registry editor orders them: a key's values, then its sub-keys depth first.
namespace vesk_tool {

// Takes a walked tree as it comes, entry by entry, so the walk itself holds
// no more than one value and one open key per level.
class TreeVisitor {
public:
    virtual ~TreeVisitor() = default;
    // A key's block begins; its values follow. `path` is HKEY_LOCAL_MACHINE\...
    virtual void key(const std::wstring& path) = 0;
    // A value of the key last begun; `value` is reused for the next one.
    virtual void value(const RegValue& value) = 0;
};

class TreeReader {
public:
    explicit TreeReader(Progress& progress) : progress(progress) {}

    // Hands `key` (below HKEY_LOCAL_MACHINE) and its subtree to `visitor`;
    // false, with nothing handed on, when the key is missing. Names a .reg
    // file cannot carry are left out, each with a line in leftOut().
    bool walk(const std::wstring& key, TreeVisitor& visitor);

    // The same walk appended to `into`, every value copied to its size.
    bool read(const std::wstring& key, RegDocument& into);

    const std::vector<std::string>& leftOut() const { return skipped; }

private:
    struct Walk;

    Progress& progress;
    std::vector<std::string> skipped;
};

} // namespace vesk_tool
