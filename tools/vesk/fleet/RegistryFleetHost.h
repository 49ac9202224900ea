#pragma once

#include "FleetHost.h"
#include "ImportPlan.h"

#include <vector>

// The fleet's host in the tool: an instance's settings are its key in the
// registry, exported and imported by the same code as `vesk export` and
// `vesk import`; the revision applied to an instance is kept beside the
// server key (Software\...\VeskFleet\<instance>, "AppliedRevision").
namespace vesk_fleet {

class RegistryFleetHost : public FleetHost {
public:
    // `serverKey` holds every instance; `companyKey` holds it and the record
    // of applied revisions (both below HKEY_LOCAL_MACHINE).
    RegistryFleetHost(std::wstring serverKey, std::wstring companyKey);

    std::string exportInstance(const std::wstring& instance) override;
    void checkDocument(const std::wstring& instance, std::string_view regBytes) override;
    void replaceInstance(const std::wstring& instance, std::string_view regBytes, std::int64_t revision) override;
    std::optional<std::int64_t> appliedRevision(const std::wstring& instance) override;
    std::string describeChanges(const std::wstring& instance, std::string_view regBytes) override;

private:
    std::wstring instanceKey(const std::wstring& instance) const;
    std::wstring revisionKey(const std::wstring& instance) const;
    // The import's plan of the document into the instance; Failure(BadInput)
    // names the line at fault.
    std::vector<vesk_tool::ImportStep> plan(const std::wstring& instance, std::string_view regBytes) const;
    // The instance's tree, empty when the key is missing; false then.
    bool read(const std::wstring& instance, vesk_tool::RegDocument& into) const;

    const std::wstring serverKey;
    const std::wstring companyKey;
};

} // namespace vesk_fleet
