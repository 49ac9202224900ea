#pragma once

#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/fleet/FleetHost.h"

#include <filesystem>
#include <list>
#include <optional>
#include <string>
#include <vector>

// The fleet's host in the tool: an instance's settings are its key in the
// registry, exported and imported by the same code as `vesk export` and
// `vesk import`; what was applied to an instance is recorded beside the
// server key (Software\...\VeskFleet\<instance>), and the document applied
// is kept in the machine folder, `fleet`, to tell local changes from it.
namespace vesk_fleet {

class RegistryFleetHost : public FleetHost {
public:
    // `serverKey` holds every instance; `companyKey` holds it and the record
    // of applied revisions (both below HKEY_LOCAL_MACHINE).
    RegistryFleetHost(std::wstring serverKey, std::wstring companyKey);

    std::string exportInstance(const std::wstring& instance) override;
    void checkDocument(const std::wstring& instance, std::string_view regBytes) override;
    Difference compare(const std::wstring& instance, Side from, Side to) override;
    Difference applyInstance(const std::wstring& instance, std::string_view regBytes,
                             const AppliedRecord& record) override;
    bool unchangedSinceApply(const std::wstring& instance) override;
    std::optional<AppliedRecord> appliedRecord(const std::wstring& instance) override;
    std::optional<std::string> appliedDocument(const std::wstring& instance) override;
    std::string saveInstance(const std::wstring& instance) override;

    // How many saved states of one instance are kept.
    static constexpr std::size_t KeptSaves = 10;

private:
    std::wstring instanceKey(const std::wstring& instance) const;
    std::wstring revisionKey(const std::wstring& instance) const;
    // The import's plan of the document into the instance; Failure(BadInput)
    // names the line at fault.
    std::vector<vesk_tool::ImportStep> plan(const std::wstring& instance, std::string_view regBytes) const;
    // The instance's tree, empty when the key is missing; false then.
    bool read(const std::wstring& instance, vesk_tool::RegDocument& into) const;
    InstanceTree localTree(const std::wstring& instance) const;
    // The state the last apply recorded ("<document digest> <state digest>"), "" if none.
    std::string appliedState(const std::wstring& instance) const;
    // The document's tree; the last two are kept for the next calls to reuse
    // (a reference stays good until two other documents were asked for).
    const InstanceTree& documentTree(const std::wstring& instance, std::string_view regBytes);
    // Where the applied document of `instance` is kept.
    std::filesystem::path appliedCopyPath(const std::wstring& instance) const;
    // Keeps `regBytes` as the applied document, unless `sameDocument` and a copy is there.
    void keepAppliedCopy(const std::wstring& instance, std::string_view regBytes, bool sameDocument) const;

    const std::wstring serverKey;
    const std::wstring companyKey;
    struct ParsedDocument {
        std::wstring instance;
        std::string bytes;
        InstanceTree tree;
    };
    std::list<ParsedDocument> parsed;
    // The local tree the last compare read, for the apply that follows it.
    struct LocalRead {
        std::wstring instance;
        InstanceTree tree;
    };
    std::optional<LocalRead> lastLocal;
};

} // namespace vesk_fleet
