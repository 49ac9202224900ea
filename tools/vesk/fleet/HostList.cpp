#include "tools/vesk/fleet/HostList.h"

#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/Rollout.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <stdexcept>

namespace vesk_fleet {
namespace {

using nlohmann::json;

json recordJson(const HostRecord& record)
{
    return json::parse(hostRecordToJson(record));
}

// Registry text may hold what is no UTF-8: replaced, never a failed command.
std::string dumped(const json& document)
{
    return document.dump(2, ' ', false, json::error_handler_t::replace) + "\n";
}

// Columns as wide as their widest cell, two spaces apart; the last cell unpadded.
std::string table(const std::vector<std::vector<std::string>>& rows)
{
    std::vector<std::size_t> widths;
    for (const auto& row : rows)
        for (std::size_t i = 0; i < row.size(); ++i) {
            widths.resize(std::max(widths.size(), row.size()));
            widths[i] = std::max(widths[i], row[i].size());
        }
    std::string text;
    for (const auto& row : rows) {
        std::string line;
        for (std::size_t i = 0; i < row.size(); ++i)
            line += i + 1 < row.size() ? row[i] + std::string(widths[i] - row[i].size() + 2, ' ') : row[i];
        while (!line.empty() && line.back() == ' ')
            line.pop_back();
        text += line + "\n";
    }
    return text;
}

std::string ringName(const HostRecord& record)
{
    return record.ring.empty() ? "default" : record.ring;
}

std::optional<HostRecord> readRecord(FleetStore& store, const std::string& key)
{
    const KeyValue kv = store.client().get(key);
    if (!kv.found)
        return std::nullopt;
    try {
        return hostRecordFromJson(kv.value);
    } catch (const DamagedState&) {
        return std::nullopt;
    }
}

} // namespace

std::string hostReportKey(const FleetStore& store, const std::string& instance, const std::string& host)
{
    return store.hostsPrefix() + instance + "/" + hostKey(host);
}

std::vector<ListedHost> listHosts(FleetStore& store, const std::string& instance)
{
    const std::string prefix = store.hostsPrefix() + (instance.empty() ? "" : instance + "/");
    std::vector<ListedHost> hosts;
    for (const KeyValue& kv : store.client().range(RangeRequest{prefix, prefixEnd(prefix)})) {
        const std::string below = kv.key.substr(store.hostsPrefix().size()); // <instance>/<host>
        try {
            hosts.push_back(ListedHost{below.substr(0, below.find('/')), hostRecordFromJson(kv.value)});
        } catch (const DamagedState&) {
            // Only watchers write here; a record no vesk wrote is no host.
        }
    }
    std::stable_sort(hosts.begin(), hosts.end(), [](const ListedHost& a, const ListedHost& b) {
        return a.record.time != b.record.time ? a.record.time > b.record.time : a.record.host < b.record.host;
    });
    return hosts;
}

std::string hostsText(const std::vector<ListedHost>& hosts, bool withInstance)
{
    std::vector<std::vector<std::string>> rows{{"host", "ring", "revision", "state", "since", "version"}};
    for (const ListedHost& listed : hosts) {
        const HostRecord& r = listed.record;
        rows.push_back({r.host, ringName(r), std::to_string(r.revision), r.state, r.time, r.version,
                        r.error.empty() ? std::string() : "error: " + r.error});
    }
    if (withInstance) {
        rows[0].insert(rows[0].begin(), "instance");
        for (std::size_t i = 1; i < rows.size(); ++i)
            rows[i].insert(rows[i].begin(), hosts[i - 1].instance);
    }
    return table(rows);
}

namespace {

json rolloutDocument(FleetStore& store, const std::string& key)
{
    const RolloutRead read = readRollout(store, key, store.client().get(store.stateKey(key)));
    if (!read.rollout)
        return nullptr;
    const Rollout& rollout = *read.rollout;
    const RingReports hosts =
        countReports(store.client(), store.hostsPrefix() + key + "/", rollout.openRing(), rollout.candidate);
    return json{{"candidate", rollout.candidate}, {"previous", rollout.previous},
                {"rings", rollout.rings},         {"open_ring", rollout.openRing()},
                {"paused", rollout.paused},       {"max_failures", rollout.maxFailures},
                {"done", hosts.done},             {"failing", hosts.failing},
                {"reporting", hosts.reporting}};
}

// The instance keys that have a rollout record, under way or not.
std::vector<std::string> recordedRollouts(FleetStore& store)
{
    const std::string from = rolloutsPrefix(store);
    std::vector<std::string> keys;
    for (const KeyValue& kv : store.client().range({from, prefixEnd(from), true, false, 0}))
        keys.push_back(kv.key.substr(from.size()));
    return keys;
}

} // namespace

std::string rolloutJson(FleetStore& store, Fleet&, const std::wstring& instance)
{
    return rolloutDocument(store, instanceKey(instance)).dump();
}

std::string allRolloutsJson(FleetStore& store)
{
    json all = json::object();
    for (const std::string& key : recordedRollouts(store))
        if (json rollout = rolloutDocument(store, key); !rollout.is_null())
            all[key] = rollout;
    return all.dump();
}

std::string allRolloutsText(FleetStore& store)
{
    std::string text;
    for (const std::string& key : recordedRollouts(store))
        if (const std::string line = rolloutLine(store, key); !line.empty())
            text += "instance " + key + ": " + line;
    return text;
}

std::string hostsJson(const std::vector<ListedHost>& hosts, const std::string& rollout, const char* field)
{
    json list = json::array();
    for (const ListedHost& listed : hosts) {
        json row = recordJson(listed.record);
        row["instance"] = listed.instance;
        list.push_back(row);
    }
    return dumped(json{{"hosts", list}, {field, json::parse(rollout)}});
}

std::string hostStatusLine(FleetStore& store, const std::wstring& instance, const std::string& host)
{
    std::optional<HostRecord> record;
    try {
        record = readRecord(store, hostReportKey(store, instanceKey(instance), host));
    } catch (const EtcdError& error) {
        // A role made before hosts reported may lack their keys: the status above stands.
        if (error.kind != EtcdError::Kind::PermissionDenied)
            throw;
        return "host " + host + ": its report cannot be read (" + error.what() + ")\n";
    }
    if (!record)
        return "host " + host + ": no watcher reports under this name\n";
    return "host " + host + " reports: " + record->state + " at revision " + std::to_string(record->revision) +
           " since " + record->time + " (ring " + ringName(*record) + ", vesk " + record->version + ")" +
           (record->error.empty() ? "" : ": " + record->error) + "\n";
}

std::string statusJson(Fleet& fleet, FleetStore& store, const std::wstring& instance, const std::string& host,
                       bool withDiff)
{
    const Drift local = fleet.drift(instance);
    const auto state = store.read(instanceKey(instance));
    const auto& applied = local.record;
    const bool sameCluster = applied && (applied->clusterId.empty() || !state || applied->clusterId == state->clusterId);
    std::string summary = "behind";
    if (!applied)
        summary = "never pulled";
    else if (local.drifted())
        summary = "drifted";
    else if (!state)
        summary = "nothing pushed";
    else if (applied->revision == state->revision && sameCluster)
        summary = "up to date";

    json document{{"instance", vesk_tool::toUtf8(instance)}, {"host", host}, {"state", summary}};
    document["applied"] = applied ? json{{"revision", applied->revision},
                                         {"cluster", applied->clusterId},
                                         {"digest", applied->digest}}
                                  : json(nullptr);
    document["fleet"] = state ? json{{"revision", state->revision},
                                     {"cluster", state->clusterId},
                                     {"pushed_at", state->manifest.pushedAt},
                                     {"pushed_by", state->manifest.pushedBy},
                                     {"message", state->manifest.message}}
                              : json(nullptr);
    document["drift"] = json{{"known", local.known},
                             {"values", local.changes.valuesDiffering()},
                             {"keys", local.changes.keysCreated + local.changes.keysRemoved}};
    if (withDiff)
        document["drift"]["lines"] = local.changes.lines();
    const auto record = readRecord(store, hostReportKey(store, instanceKey(instance), host));
    document["report"] = record ? recordJson(*record) : json(nullptr);
    document["rollout"] = rolloutDocument(store, instanceKey(instance));
    return dumped(document);
}

} // namespace vesk_fleet
