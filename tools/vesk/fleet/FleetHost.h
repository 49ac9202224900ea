#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// What the fleet commands need from the machine they run on: an instance's
// settings as .reg bytes, and a whole-or-nothing way to replace them. The
// fleet code never touches the registry itself, so it is tested against an
// in-memory host and runs over the tool's import and export in the program.
namespace vesk_fleet {

class FleetHost {
public:
    virtual ~FleetHost() = default;

    // The instance's tree as `vesk export` writes it (UTF-16LE .reg bytes).
    virtual std::string exportInstance(const std::wstring& instance) = 0;

    // Refuses a document of `instance` as `vesk import` would: throws vesk_tool::Failure
    // (BadInput) whose message names the line at fault.
    virtual void checkDocument(const std::wstring& instance, std::string_view regBytes) = 0;

    // Makes the instance equal to the document, removing what the document
    // lacks, and records `revision` as applied here, all in one atomic
    // change: on any failure neither the tree nor the revision moves.
    virtual void replaceInstance(const std::wstring& instance, std::string_view regBytes,
                                 std::int64_t revision) = 0;

    // The revision the last replaceInstance recorded, if any.
    virtual std::optional<std::int64_t> appliedRevision(const std::wstring& instance) = 0;

    // What replaceInstance would change, as diff lines ("+"/"-"), empty when
    // nothing would. Changes nothing.
    virtual std::string describeChanges(const std::wstring& instance, std::string_view regBytes) = 0;
};

} // namespace vesk_fleet
