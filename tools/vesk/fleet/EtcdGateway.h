#pragma once

#include "tools/vesk/fleet/EtcdClient.h"

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// How etcd's v3 JSON gateway writes what the client sends and reads: keys and
// values in base64, 64-bit integers as strings, zeros left out. EtcdClient
// adds the sending: members tried in turn, login, and which failures another
// member may mend.
namespace vesk_fleet {

// A number field of an answer (0 when left out).
std::int64_t gatewayNumber(const nlohmann::json& object, const char* name);

// One key of an answer, read at the store's `revision`.
KeyValue keyValueOf(const nlohmann::json& kv, std::int64_t revision);

// The body of kv/range for `request`.
nlohmann::json rangeBody(const RangeRequest& request);

// The body of kv/txn: `writes` when every one of `compares` holds.
nlohmann::json txnBody(const std::vector<TxnCompare>& compares, const std::vector<TxnWrite>& writes);

// The body of a watch of `key` (and `alsoKey`, when given, in the same
// stream) from `fromRevision` on, with progress notifications.
std::string watchBody(const std::string& key, const std::string& alsoKey, std::int64_t fromRevision);

// One line of a watch stream, as read.
struct WatchLine {
    bool ends = false;               // the stream has told what it had to: stop reading
    std::int64_t compactRevision = 0; // the start revision is gone: the oldest kept
    std::string canceled;             // etcd ended the watch, for this reason
    std::optional<KeyValue> change;   // the first write or delete (found false) it carries
};
WatchLine readWatchLine(const std::string& text);

// What a refused request (`body` sent to `path`) asked for, and the grant
// that would allow its first key or range, for the operator.
std::string askedFor(const std::string& path, const nlohmann::json& body);

} // namespace vesk_fleet
