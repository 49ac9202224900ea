#pragma once

#include "tools/vesk/fleet/ChunkCache.h"
#include "tools/vesk/fleet/Chunker.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/EtcdClient.h"
#include "tools/vesk/fleet/Manifest.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How an instance's desired state is kept in etcd. The .reg bytes are cut
// into chunks stored under content-addressed keys, then one small manifest
// key naming them is written in one transaction: that write is the push's
// one revision, so a reader sees either the old manifest or the new one with
// all its chunks already in place. The same transaction keeps the manifest
// it replaces under history/, which etcd's compaction does not touch.
// Everything of one instance lies under its own keys, so that an etcd role
// can be limited to one instance:
//
//   <prefix>/state/<instance>              the manifest (JSON), one write per push
//   <prefix>/history/<instance>/<revision> each replaced manifest, by the revision that wrote it
//   <prefix>/history/<instance>/fence      written only to stop a push whose answer was lost
//   <prefix>/chunks/<instance>/<sha256>    a piece of a document, cut as Chunker.h says
//   <prefix>/hosts/<instance>/             kept for the hosts' own reports
//   <prefix>/overlays/<instance>/<host>    one host's overlay (Overlay.h)
//
// <instance> is instanceKey()'s form of the name. Manifests of the first
// format named chunks at <prefix>/chunks/<sha256>, shared by every instance;
// they are still read there.
namespace vesk_fleet {

// The time now, UTC, as ISO 8601 (2026-12-06T02:45:00Z).
std::string utcNow();

// The name the operating system gives this machine ("" when it gives none).
std::string machineName();

// What reading documents cost: chunks named, and those fetched from etcd.
struct FetchCount {
    std::size_t chunks = 0;
    std::size_t requests = 0; // chunks fetched from etcd, one request each
    std::uint64_t bytes = 0;  // chunk bytes fetched from etcd
};

struct Published {
    std::int64_t revision = 0; // the push that wrote it
    Manifest manifest;
    std::string clusterId; // the etcd cluster it was read from
};

// The state key as a push read it, and the version of the instance's fence.
struct PushBase {
    KeyValue state;
    std::int64_t fence = 0;
};

// Conditions and writes that ride in a push's transaction: they land with
// its manifest or not at all (a rollout's record).
struct TxnAlongside {
    std::vector<TxnCompare> compares;
    std::vector<TxnWrite> writes;
};

// What a push writes besides the document.
struct PushRecord {
    std::string message;
    std::string note;
};

class FleetStore {
public:
    FleetStore(EtcdClient& etcd, std::string prefix) : etcd(etcd), prefix(std::move(prefix)) {}

    // The keys of an instance (given as instanceKey() makes it).
    std::string stateKey(const std::string& instance) const;
    std::string historyPrefix(const std::string& instance) const;
    std::string historyKey(const std::string& instance, std::int64_t revision) const;
    std::string chunkPrefix(const std::string& instance) const;
    std::string chunkKey(const Manifest& manifest, const std::string& digest) const;
    std::string fenceKey(const std::string& instance) const;
    // `host` as hostKey() makes it (HostReport.h).
    std::string overlayKey(const std::string& instance, const std::string& host) const;
    // Where every instance's state key lies.
    std::string statePrefix() const { return prefix + "/state/"; }
    // Where every instance's host reports lie (hosts/<instance>/<host>).
    std::string hostsPrefix() const { return prefix + "/hosts/"; }

    // The latest state; nullopt when none was pushed.
    std::optional<Published> read(const std::string& instance);
    std::optional<Published> fromKeyValue(const KeyValue& kv) const;
    // The state the push at `revision` wrote, while the history keeps it.
    std::optional<Published> atRevision(const std::string& instance, std::int64_t revision);
    // The current state then the kept earlier ones, newest first, at most `limit`.
    std::vector<Published> history(const std::string& instance, int limit);

    // The document the manifest names, checked against its digests: the
    // chunks the cache holds intact from there, the others from etcd (and
    // then kept in the cache).
    std::string content(const Manifest& manifest);
    // Keeps fetched chunks in `cache` (none: every chunk comes from etcd).
    void useCache(ChunkCache* chunkCache) { cache = chunkCache; }
    // What content() fetched since this store was made.
    const FetchCount& fetched() const { return fetchCount; }

    // The manifest a push of `document` would write (chunk digests, time,
    // pusher, a fresh push id); throws std::length_error past MaxChunks.
    Manifest manifestOf(const std::string& instance, const std::string& document, const PushRecord& record);
    // Stores the chunks of `manifest` that etcd lacks.
    void upload(const Manifest& manifest, const std::string& document);
    // What a push of the instance builds on.
    PushBase base(const std::string& instance);
    // Writes `manifest` as the new state in one transaction, keeping the
    // state it replaces in the history; nullopt when the state key or the
    // fence moved since `base` was read, a chunk the manifest names is gone,
    // or a condition of `alongside` fails; its writes land in the same one.
    std::optional<std::int64_t> commit(const Manifest& manifest, const PushBase& base,
                                       const TxnAlongside& alongside = {});
    // After a push on `base` lost its answer: moves the fence while the state
    // is still `base`'s, so that push can never land; false when the state
    // had moved already (the push, or another, landed).
    bool fence(const std::string& instance, const PushBase& base);
    // The revision at which the push `pushId` landed, looking at the state and
    // the history written after `since`; nullopt when it is in neither.
    std::optional<std::int64_t> landed(const std::string& instance, const std::string& pushId, std::int64_t since);

    EtcdClient& client() { return etcd; }

private:
    EtcdClient& etcd;
    std::string prefix;
    ChunkCache* cache = nullptr;
    FetchCount fetchCount;
};

} // namespace vesk_fleet
