#pragma once

#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/fleet/FleetHost.h"

#include <list>
#include <optional>
#include <string>
#include <vector>

// The fleet's host in the tool: an instance's settings are its key in the
// registry, exported and imported by the same code as `vesk export` and
// `vesk import`; what was applied to an instance is recorded beside the
// server key (Software\...\VeskFleet\<instance>), and the document applied
// is kept in the machine folder, `fleet`, to tell local changes from it
// (AppliedRecordKey.h, InstanceFiles.h; the few-lines fast path of an apply
// is in RegistryFleetHostFewLines.cpp).
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
    // The instance's key, below the hive.
    std::wstring instanceKey(const std::wstring& instance) const;
    // The key of its applied record (AppliedRecordKey), below the hive.
    std::wstring revisionKey(const std::wstring& instance) const;
    // The import's plan of the document into the instance; Failure(BadInput)
    // names the line at fault.
    std::vector<vesk_tool::ImportStep> plan(const std::wstring& instance, std::string_view regBytes) const;
    // The instance's tree, empty when the key is missing; false then.
    bool read(const std::wstring& instance, vesk_tool::RegDocument& into) const;
    // The instance's tree as the registry holds it now.
    InstanceTree localTree(const std::wstring& instance) const;
    // The state the last apply recorded ("<document digest> <state digest>"), "" if none.
    std::string appliedState(const std::wstring& instance) const;
    // The document's tree; the last two are kept for the next calls to reuse
    // (a reference stays good until two other documents were asked for).
    const InstanceTree& documentTree(const std::wstring& instance, std::string_view regBytes);
    // What applying `regBytes` writes when the instance holds the applied
    // document and the two differ in a few lines of one key: found from
    // those lines alone. nullopt when that does not hold; then the whole
    // document is read. Sets `state` to the AppliedState it leaves.
    std::optional<Difference> fewLines(const std::wstring& instance, std::string_view regBytes,
                                       const AppliedRecord& record, std::string& state);
    // The lines `regBytes` differs from the applied document in, parsed, when
    // both are plain (InstanceTree::plain) and those lines are values of one
    // key; the last one found is kept. Failure(BadInput) never: nullptr then.
    struct FewLines;
    const FewLines* fewLinesOf(const std::wstring& instance, std::string_view regBytes);

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
    struct FewLines {
        std::wstring instance;
        std::string bytes;     // the document
        std::string base;      // the applied document's digest
        std::string baseState; // its state digest
        std::wstring key;      // the folded path of the key the lines are values of
        InstanceTree before;   // the applied document's lines
        InstanceTree after;    // the document's
    };
    std::optional<FewLines> few;
    // The instance unchangedSinceApply found as applied, for the apply that follows.
    std::optional<std::wstring> unchanged;
    // Windows: the tree of unchanged's applied document stands in for the
    // local one, but is only read when the whole document has to be.
    bool localIsApplied = false;
};

} // namespace vesk_fleet
