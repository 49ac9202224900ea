#pragma once

#include "FleetHost.h"

#include <map>
#include <mutex>

// An in-memory host for the fleet's unit tests, standing in for the tool's
// registry host: documents are checked by the tool's .reg reader, and an
// instance "is" the last document it was replaced with.
namespace vesk_fleet_test {

class DocumentHost : public vesk_fleet::FleetHost {
public:
    void checkDocument(const std::wstring& instance, std::string_view regBytes) override;
    std::string describeChanges(const std::wstring& instance, std::string_view regBytes) override;
};

// In memory, for tests that run the commands in process.
class MemoryHost : public DocumentHost {
public:
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
