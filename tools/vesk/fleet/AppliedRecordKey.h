#pragma once

#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/fleet/FleetHost.h"

#include <optional>
#include <string>
#include <vector>

// What was applied to an instance, as its values in the registry
// (Software\...\VeskFleet\<instance>, below HKEY_LOCAL_MACHINE).
namespace vesk_fleet {

class AppliedRecordKey {
public:
    // The record kept at `path` (below the hive).
    explicit AppliedRecordKey(std::wstring path);

    // The record, nullopt when none was written.
    std::optional<AppliedRecord> read() const;
    // The state the last apply recorded ("<document digest> <state digest>",
    // then " plain" when that document is plain), "" if none.
    std::string state() const;
    // Appends to `steps` the writes that make the key hold `record` and
    // `state`; `before` is the record it holds now.
    void appendWrites(std::vector<vesk_tool::ImportStep>& steps, const AppliedRecord& record, const std::string& state,
                      const std::optional<AppliedRecord>& before) const;
#if defined(_WIN32)
    // Notes the newest last-write time of `instanceKey`'s keys, just after an apply.
    void noteWritten(const std::wstring& instanceKey) const;
    // Whether no key of `instanceKey` was written since noteWritten.
    bool unwrittenSince(const std::wstring& instanceKey) const;
#endif

private:
    const std::wstring path;
};

} // namespace vesk_fleet
