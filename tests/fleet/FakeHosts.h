#pragma once

#include "FleetHost.h"

#include <map>
#include <mutex>

// An in-memory host for tests that run the fleet commands in process:
// documents are checked by the tool's .reg reader, and an instance "is" the
// last document it was replaced with. A dry run's listing of changes is the
// registry host's job, tested through the real tool.
namespace vesk_fleet_test {

class MemoryHost : public vesk_fleet::FleetHost {
public:
    void checkDocument(const std::wstring& instance, std::string_view regBytes) override;
    std::string describeChanges(const std::wstring& instance, std::string_view regBytes) override;
    std::string exportInstance(const std::wstring& instance) override;
    void replaceInstance(const std::wstring& instance, std::string_view regBytes, std::int64_t revision) override;
    std::optional<std::int64_t> appliedRevision(const std::wstring& instance) override;

    void set(const std::wstring& instance, std::string regBytes);
    int replacements = 0;

private:
    struct Instance {
        std::string document;
        std::optional<std::int64_t> revision;
    };
    std::mutex lock;
    std::map<std::wstring, Instance> instances;
};

// A UTF-16LE .reg document of `count` string values under instance `instance`.
std::string sampleDocument(const std::wstring& instance, int count, const std::wstring& valuePrefix = L"v");

} // namespace vesk_fleet_test
