#pragma once

#include "tools/vesk/fleet/FleetHost.h"

#include <map>
#include <mutex>
#include <vector>

// An in-memory host for tests that run the fleet commands in process:
// documents are checked by the tool's .reg reader, and an instance "is" the
// last document applied or set; differences are the tool's own.
namespace vesk_fleet_test {

class MemoryHost : public vesk_fleet::FleetHost {
public:
    void checkDocument(const std::wstring& instance, std::string_view regBytes) override;
    vesk_fleet::Difference compare(const std::wstring& instance, vesk_fleet::Side from, vesk_fleet::Side to) override;
    std::string exportInstance(const std::wstring& instance) override;
    vesk_fleet::Difference applyInstance(const std::wstring& instance, std::string_view regBytes,
                                         const vesk_fleet::AppliedRecord& record) override;
    std::optional<vesk_fleet::AppliedRecord> appliedRecord(const std::wstring& instance) override;
    std::optional<std::string> appliedDocument(const std::wstring& instance) override;
    std::string saveInstance(const std::wstring& instance) override;

    void set(const std::wstring& instance, std::string regBytes);
    int replacements = 0;             // applies that wrote to the instance
    std::vector<std::string> saved;   // documents saveInstance kept, oldest first

private:
    struct Instance {
        std::string document;
        std::string applied;
        std::optional<vesk_fleet::AppliedRecord> record;
    };
    vesk_fleet::InstanceTree tree(const std::wstring& instance, vesk_fleet::Side side);
    std::recursive_mutex lock;
    std::map<std::wstring, Instance> instances;
};

// A UTF-16LE .reg document of `count` string values under instance `instance`.
std::string sampleDocument(const std::wstring& instance, int count, const std::wstring& valuePrefix = L"v");

} // namespace vesk_fleet_test
