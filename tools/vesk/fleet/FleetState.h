#pragma once

#include "EtcdClient.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How an instance's desired state is kept in etcd. The .reg bytes are cut
// into chunks stored under content-addressed keys, then one small manifest
// key naming them is written in one transaction: that write is the push's
// one revision, so a reader sees either the old manifest or the new one with
// all its chunks already in place. Chunks are never overwritten with other
// bytes, and are kept so that old manifests stay readable for rollback.
//
//   <prefix>/chunks/<sha256>      up to ChunkBytes of the document
//   <prefix>/state/<instance>     the manifest (JSON), one write per push
namespace vesk_fleet {

// Well under etcd's default request limit of 1.5 MiB.
constexpr std::size_t ChunkBytes = 512 * 1024;

struct Manifest {
    std::uint64_t bytes = 0;
    std::string sha256;
    std::vector<std::string> chunks;
    std::string pushedAt; // UTC, ISO 8601
    std::string pushedBy;
    std::string note; // e.g. "rollback to 42"
};

// The time now, UTC, as ISO 8601 (2026-12-06T02:45:00Z).
std::string utcNow();

std::string manifestToJson(const Manifest& manifest);
// Throws std::invalid_argument when the text is no manifest of this format.
Manifest manifestFromJson(const std::string& text);

struct Published {
    std::int64_t revision = 0; // the push that wrote it
    Manifest manifest;
    std::string clusterId; // the etcd cluster it was read from
};

class FleetStore {
public:
    FleetStore(EtcdClient& etcd, std::string prefix) : etcd(etcd), prefix(std::move(prefix)) {}

    std::string stateKey(const std::string& instance) const;

    // The state as of `atRevision` (0: the latest); nullopt when none was
    // pushed by then.
    std::optional<Published> read(const std::string& instance, std::int64_t atRevision = 0);
    std::optional<Published> fromKeyValue(const KeyValue& kv) const;

    // The document the manifest names, checked against its digests.
    std::string content(const Manifest& manifest);

    // Publishes `document` as one new revision and returns it; nullopt when
    // `belowRevision` is set and the state was written at or after it.
    std::optional<std::int64_t> publish(const std::string& instance, const std::string& document,
                                        const std::string& note, std::int64_t belowRevision);

    EtcdClient& client() { return etcd; }

private:
    EtcdClient& etcd;
    std::string prefix;
};

} // namespace vesk_fleet
