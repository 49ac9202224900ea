#pragma once

#include "tools/vesk/fleet/InstanceDiff.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the fleet commands need from the machine they run on: an instance's
// settings as .reg bytes, a whole-or-nothing way to bring them to a
// document, and a record of what was applied. The fleet code never touches
// the registry itself, so it is tested against an in-memory host and runs
// over the tool's import and export in the program.
namespace vesk_fleet {

// What a host applied last: enough to tell, later and offline, whether the
// instance still holds it.
struct AppliedRecord {
    std::int64_t revision = 0;
    std::string clusterId; // the etcd cluster the revision is of
    std::string digest;    // SHA-256 (hex) of the document applied
    std::int64_t overlay = 0; // the revision of the host's overlay applied on top, 0: none
};

// One side of a comparison: the local instance, a document, or nothing.
struct Side {
    static Side local() { return Side{true, {}}; }
    static Side document(std::string_view regBytes) { return Side{false, regBytes}; }
    static Side nothing() { return Side{false, {}}; }
    bool isLocal = false;
    std::string_view regBytes; // empty: an instance holding nothing
};

class FleetHost {
public:
    virtual ~FleetHost() = default;

    // The instance's tree as `vesk export` writes it (UTF-16LE .reg bytes).
    virtual std::string exportInstance(const std::wstring& instance) = 0;

    // Refuses a document of `instance` as `vesk import` would: throws vesk_tool::Failure
    // (BadInput) whose message names the line at fault.
    virtual void checkDocument(const std::wstring& instance, std::string_view regBytes) = 0;

    // What turns `from` into `to`, both of `instance`. Changes nothing.
    virtual Difference compare(const std::wstring& instance, Side from, Side to) = 0;

    // Makes the instance equal to the document by writing only what differs
    // (the instance key itself stays), and records `record`, all in one
    // atomic change: on any failure neither the tree nor the record moves.
    // Returns what was written to the instance. The local tree may be taken
    // as the compare() called last read it: call it right before.
    virtual Difference applyInstance(const std::wstring& instance, std::string_view regBytes,
                                     const AppliedRecord& record) = 0;

    // True when the instance holds, value for value, what the last
    // applyInstance left there; false when it changed or that is not known
    // (the caller then compares with the applied document). Like compare(),
    // it may leave the local tree it read for applyInstance.
    virtual bool unchangedSinceApply(const std::wstring&) { return false; }

    // What the last applyInstance recorded, if any.
    virtual std::optional<AppliedRecord> appliedRecord(const std::wstring& instance) = 0;

    // The document the record names, as kept by this host; nullopt when it
    // is not kept or no longer matches the record's digest.
    virtual std::optional<std::string> appliedDocument(const std::wstring& instance) = 0;

    // Saves the instance's tree to a new .reg file, keeping only the newest
    // few of the instance; returns the file's path.
    virtual std::string saveInstance(const std::wstring& instance) = 0;

    std::optional<std::int64_t> appliedRevision(const std::wstring& instance)
    {
        const auto record = appliedRecord(instance);
        return record ? std::optional<std::int64_t>(record->revision) : std::nullopt;
    }
};

} // namespace vesk_fleet
