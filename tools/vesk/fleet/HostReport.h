#pragma once

#include "tools/vesk/fleet/EtcdClient.h"

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

// What each watcher tells the fleet about its host: one JSON record at
// <prefix>/hosts/<instance>/<host>, kept under an etcd lease, so a host whose
// watcher stopped (the lease revoked) or died (the lease expired) leaves the
// list by itself.
namespace vesk_fleet {

enum class HostState { UpToDate, Applying, Drifted, Failing, WaitingForRing };

// The state as the record and `vesk fleet hosts` write it ("up to date").
std::string stateName(HostState state);

// One host's report, as kept in etcd.
struct HostRecord {
    std::string host;
    std::string ring;          // "" for the default ring
    std::int64_t revision = 0; // the revision applied here, 0 before the first
    std::string digest;        // SHA-256 (hex) of the document applied
    std::string state;         // stateName()'s words
    std::string error;         // why the host is failing; "" otherwise
    std::string time;          // when the state last changed, UTC ISO 8601
    std::string version;       // the vesk that reports
};

std::string hostRecordToJson(const HostRecord& record);
// Throws DamagedState when the text is no host record.
HostRecord hostRecordFromJson(const std::string& text);

// A host's name (UTF-8) as one etcd key part, for its report and its
// overlay alike: folded and escaped as instanceKey() makes an instance's, so
// that the names the registry takes for one ("Web1", "web1") are one host.
std::string hostKey(const std::string& host);

// The vesk version a report names ("1.2.3").
std::string reportedVersion();

// Keeps one host record in etcd under a lease, on a thread of its own with
// its own etcd client, so a watcher waiting on its watch stream never lets
// the lease lapse and never waits on the report. The lease is renewed every
// third of its TTL; a lease etcd lost is granted again and the record written
// again. An etcd failure is logged once and retried at the next renewal; the
// watcher goes on regardless.
class HostReport {
public:
    // Starts reporting `first` at `key` (nothing is written before the first
    // update()). `log` gets one line per failure to report, and per recovery.
    HostReport(std::unique_ptr<EtcdClient> etcd, std::string key, HostRecord first, long ttlSeconds,
               std::function<void(const std::string&)> log);
    // Revokes the lease, so the record goes at once.
    ~HostReport();
    HostReport(const HostReport&) = delete;
    HostReport& operator=(const HostReport&) = delete;

    // Sets the state reported, with the revision and digest applied here;
    // the record (and its time) is written only when something changed.
    void update(HostState state, std::int64_t revision, const std::string& digest, const std::string& error);

private:
    void run();
    // One exchange with etcd: renews the lease when `renew`, grants one when
    // there is none, writes `record` when `write` or the lease is new.
    // Returns false when etcd failed.
    bool exchange(const HostRecord& record, bool write, bool renew);

    std::unique_ptr<EtcdClient> etcd;
    const std::string key;
    const long ttlSeconds;
    std::function<void(const std::string&)> log;
    std::int64_t lease = 0; // the report thread's alone
    bool failing = false;   // the report thread's alone: the last exchange failed

    std::mutex mutex; // guards what follows
    std::condition_variable wake;
    HostRecord record;
    bool written = true; // the record as it is has been written (or there is nothing yet)
    bool stopping = false;
    std::thread thread; // last: starts once everything above is set
};

} // namespace vesk_fleet
