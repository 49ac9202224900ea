#pragma once

#include "tools/vesk/fleet/EtcdError.h"
#include "tools/vesk/fleet/HttpClient.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

// A small client of etcd's v3 JSON gateway: reads, writes, a compare-and-put
// and a watch on single keys, which is all the fleet needs. Endpoints are
// tried in turn, so one member down costs a retry, not a failure.
namespace vesk_fleet {

struct EtcdSettings {
    std::vector<std::string> endpoints; // http(s)://host:port; a bare host:port gets a scheme
    std::string user;                   // empty: no authentication
    std::string password;
    TlsFiles tls;
    long timeoutMs = 5000;
};

struct KeyValue {
    bool found = false;
    std::string key;
    std::string value;
    std::int64_t modRevision = 0; // the revision that last wrote the key
    std::int64_t version = 0;     // how many times it was written since created
    std::int64_t revision = 0;    // the store's revision when it answered
    std::string clusterId;        // the answering cluster's id, as etcd writes it; a rebuilt cluster has another
};

// A read of many keys: [key, end), or `key` alone when `end` is empty.
struct RangeRequest {
    std::string key;
    std::string end;
    bool keysOnly = false;   // names and revisions, no values
    bool descending = false; // by key, last first
    std::int64_t limit = 0;  // 0: all
};

// One condition of a transaction: the key's mod revision (or its version,
// 0 when the key is missing) compared with `value`.
struct TxnCompare {
    enum class Target { ModRevision, Version };
    enum class Result { Equal, Greater, Less };
    std::string key;
    Target target = Target::ModRevision;
    Result result = Result::Equal;
    std::int64_t value = 0;
};

// One write of a transaction: a put, or with no value a delete of the key
// (of [key, end) when `end` is set).
struct TxnWrite {
    std::string key;
    std::optional<std::string> value;
    std::string end;
};

class EtcdClient {
public:
    EtcdClient(EtcdSettings settings, std::unique_ptr<HttpClient> http);

    // The key as of `atRevision` (0: the latest).
    KeyValue get(const std::string& key, std::int64_t atRevision = 0);
    // Returns the revision of the write. With a `lease`, the key goes when
    // the lease ends.
    std::int64_t put(const std::string& key, const std::string& value, std::int64_t lease = 0);
    // A new lease of `ttlSeconds`; returns its id.
    std::int64_t grantLease(long ttlSeconds);
    // Renews the lease for its whole TTL; returns that TTL, or 0 when the
    // lease is gone (expired or revoked): its keys are gone with it.
    long keepAlive(std::int64_t lease);
    // Ends the lease at once, deleting its keys; a lease already gone is no failure.
    void revokeLease(std::int64_t lease);
    // Whether the key exists, asking for a count only (no value travels).
    bool exists(const std::string& key);
    // The keys of the range, in key order (or reversed), each with `key` set.
    std::vector<KeyValue> range(const RangeRequest& request);
    // Applies `writes` in one transaction when every comparison holds;
    // returns the transaction's revision, nullopt when a comparison failed.
    std::optional<std::int64_t> commit(const std::vector<TxnCompare>& compares, const std::vector<TxnWrite>& writes);

    // The etcd user the requests are made as, empty while authentication is
    // off (or before the first request has logged in).
    std::string authenticatedUser() const { return token.empty() ? std::string() : settings.user; }

    // Waits on the member that answered last (read first: that logs in and
    // finds a member in a quorum) for the next write or delete of `key` at
    // `fromRevision` or later and returns it (a delete: found false), or
    // nullopt when `sessionMs` passes or `keepGoing` says stop first. Throws
    // EtcdError when no member can be reached or the stream ends long before
    // `sessionMs` (the next call then tries another member), or with
    // Kind::Compacted when `fromRevision` is gone.
    // `alsoKey`, when given, is watched in the same stream: the change returned
    // is of either (see its `key`).
    std::optional<KeyValue> waitForChange(const std::string& key, std::int64_t fromRevision,
                                          const std::function<bool()>& keepGoing, long sessionMs,
                                          const std::string& alsoKey = std::string());

    const std::vector<std::string>& endpoints() const { return settings.endpoints; }

private:
    nlohmann::json call(const std::string& path, const nlohmann::json& body);
    nlohmann::json callOnce(const std::string& endpoint, const std::string& path, const nlohmann::json& body);
    void authenticate(const std::string& endpoint);
    HttpRequest requestTo(const std::string& endpoint, const std::string& path, const std::string& body) const;

    EtcdSettings settings;
    std::unique_ptr<HttpClient> http;
    std::size_t current = 0; // the endpoint that answered last
    std::string token;
    std::string tokenEndpoint;
};

// The end of the range of every key that starts with `prefix`.
std::string prefixEnd(std::string prefix);

} // namespace vesk_fleet
