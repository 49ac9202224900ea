#pragma once

#include "Failure.h"
#include "FleetHost.h"
#include "FleetState.h"

#include <functional>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>

// The fleet commands over one etcd store and one host. Each returns once the
// change is made or refused; what goes wrong is thrown: EtcdError from etcd,
// FleetFailure for a refusal of the fleet's own, vesk_tool::Failure from the
// host. A failed command leaves the host as it was.
namespace vesk_fleet {

// A push that lost a race (--if-revision) is refused as input that no
// longer holds: nothing was written, and the operator pulls and decides.
constexpr int StaleRevision = vesk_tool::BadInput;

class FleetFailure : public std::runtime_error {
public:
    FleetFailure(int status, const std::string& message) : std::runtime_error(message), status(status) {}
    int status;
};

struct HistoryEntry {
    std::int64_t revision = 0;
    Manifest manifest;
};

class Fleet {
public:
    Fleet(FleetStore& store, FleetHost& host) : store(store), host(host) {}

    // Checks the document as import would and publishes it; returns the new
    // revision. `ifRevision`: refuse when the state was written after it.
    std::int64_t push(const std::wstring& instance, const std::string& document, std::optional<std::int64_t> ifRevision,
                      const std::string& note = std::string());
    std::int64_t pushLocal(const std::wstring& instance, std::optional<std::int64_t> ifRevision);

    // Makes the instance equal to the fleet's latest state; returns the
    // revision now applied.
    std::int64_t pull(const std::wstring& instance);
    // What pull would change, as diff lines.
    std::string dryRun(const std::wstring& instance);
    // Applies one published state.
    void apply(const std::wstring& instance, const Published& state);

    // "instance A at revision N, fleet at M", with what to do about it.
    std::string status(const std::wstring& instance);

    // Newest first, at most `limit`; `compactedBefore` gets the revision
    // etcd's compaction cut the walk at, 0 when the walk reached the first push.
    std::vector<HistoryEntry> history(const std::wstring& instance, int limit, std::int64_t& compactedBefore);

    // Publishes revision `revision`'s state again, as a new revision.
    std::int64_t rollback(const std::wstring& instance, std::int64_t revision);

    Published latest(const std::wstring& instance);

private:
    FleetStore& store;
    FleetHost& host;
};

std::string instanceKey(const std::wstring& instance);

} // namespace vesk_fleet
