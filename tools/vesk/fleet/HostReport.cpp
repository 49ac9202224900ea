#include "tools/vesk/fleet/HostReport.h"

#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/FleetStore.h"
#include "vesk/Version.h"

#include <nlohmann/json.hpp>

#include <stdexcept>

namespace vesk_fleet {

using nlohmann::json;

std::string stateName(HostState state)
{
    // In HostState's order.
    static const char* const Names[] = {"up to date", "applying", "drifted", "failing", "waiting for its ring"};
    return Names[static_cast<int>(state)];
}

std::string hostRecordToJson(const HostRecord& record)
{
    return json{{"host", record.host},         {"ring", record.ring},   {"revision", record.revision},
                {"digest", record.digest},     {"state", record.state}, {"error", record.error},
                {"time", record.time},         {"version", record.version}}
        .dump();
}

HostRecord hostRecordFromJson(const std::string& text)
{
    const json object = json::parse(text, nullptr, false);
    if (!object.is_object() || !object.contains("host") || !object.contains("state"))
        throw DamagedState("not a host record: " + text.substr(0, 80));
    try {
        HostRecord record;
        record.host = object.at("host").get<std::string>();
        record.ring = object.value("ring", std::string());
        record.revision = object.value("revision", std::int64_t(0));
        record.digest = object.value("digest", std::string());
        record.state = object.at("state").get<std::string>();
        record.error = object.value("error", std::string());
        record.time = object.value("time", std::string());
        record.version = object.value("version", std::string());
        return record;
    } catch (const json::exception& error) {
        throw DamagedState(std::string("a host record with a field of the wrong type: ") + error.what());
    }
}

std::string hostKey(const std::string& host)
{
    return instanceKey(vesk_tool::fromUtf8(host));
}

std::string reportedVersion() { return VESK_VERSION; }

HostReport::HostReport(std::unique_ptr<EtcdClient> client, std::string reportKey, HostRecord first, long ttl,
                       std::function<void(const std::string&)> logLine)
    : etcd(std::move(client)), key(std::move(reportKey)), ttlSeconds(ttl), log(std::move(logLine)),
      record(std::move(first)), thread([this] { run(); })
{
}

HostReport::~HostReport()
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    wake.notify_one();
    thread.join();
    if (lease == 0)
        return;
    try {
        etcd->revokeLease(lease);
    } catch (const EtcdError&) {
        // The record then goes when the lease expires.
    }
}

void HostReport::update(HostState state, std::int64_t revision, const std::string& digest, const std::string& error)
{
    {
        const std::lock_guard<std::mutex> lock(mutex);
        const std::string name = stateName(state);
        if (!record.time.empty() && record.state == name && record.revision == revision && record.digest == digest &&
            record.error == error)
            return;
        record.state = name;
        record.revision = revision;
        record.digest = digest;
        record.error = error;
        record.time = utcNow();
        written = false;
    }
    wake.notify_one();
}

bool HostReport::exchange(const HostRecord& current, bool write, bool renew)
{
    try {
        if (lease != 0 && renew && etcd->keepAlive(lease) == 0) {
            log("this host's report lost its etcd lease; reporting under a new one");
            lease = 0;
        }
        if (lease == 0) {
            lease = etcd->grantLease(ttlSeconds);
            write = true;
        }
        if (write && !current.time.empty())
            etcd->put(key, hostRecordToJson(current), lease);
        if (failing)
            log("this host's state is reported again at " + key);
        failing = false;
        return true;
    } catch (const EtcdError& error) {
        if (leaseGone(error))
            lease = 0; // the next exchange grants another and writes the record under it
        if (!failing)
            log("this host's state cannot be reported at " + key + " (" + explain(error) +
                "); trying again every " + std::to_string(ttlSeconds / 3) + " s, watching meanwhile");
        failing = true;
        return false;
    }
}

void HostReport::run()
{
    // A renewal every third of the TTL leaves two more chances before the lease lapses.
    const auto interval = std::chrono::milliseconds(ttlSeconds * 1000 / 3);
    auto due = std::chrono::steady_clock::now(); // the next renewal, or retry after a failure
    std::unique_lock<std::mutex> lock(mutex);
    while (!stopping) {
        const bool renew = std::chrono::steady_clock::now() >= due;
        if (!renew && (written || failing)) {
            wake.wait_until(lock, due, [&] { return stopping || (!written && !failing); });
            continue;
        }
        const HostRecord current = record;
        const bool write = !written;
        written = true;
        lock.unlock();
        const bool done = exchange(current, write, renew);
        lock.lock();
        if (!done && write)
            written = false;
        if (renew || !done)
            due = std::chrono::steady_clock::now() + interval;
    }
}

} // namespace vesk_fleet
