#include "FleetState.h"

#include "Digest.h"

#include <nlohmann/json.hpp>

#include <cstdlib>
#include <ctime>
#include <stdexcept>

#if !defined(_WIN32)
#include <unistd.h>
#endif

namespace vesk_fleet {
namespace {

using nlohmann::json;

constexpr int Format = 1;

// user@host, for the history's "who pushed it".
std::string whoAmI()
{
    std::string user = "unknown";
    for (const char* name : {"USER", "USERNAME", "LOGNAME"})
        if (const char* value = std::getenv(name)) {
            user = value;
            break;
        }
#if defined(_WIN32)
    const char* host = std::getenv("COMPUTERNAME");
    return host ? user + "@" + host : user;
#else
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0)
        return user;
    return user + "@" + host;
#endif
}

} // namespace

std::string utcNow()
{
    const std::time_t now = std::time(nullptr);
    std::tm parts{};
#if defined(_WIN32)
    gmtime_s(&parts, &now);
#else
    gmtime_r(&now, &parts);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

std::string manifestToJson(const Manifest& manifest)
{
    json out{{"format", Format},     {"bytes", manifest.bytes},         {"sha256", manifest.sha256},
             {"chunks", manifest.chunks}, {"pushedAt", manifest.pushedAt}, {"pushedBy", manifest.pushedBy}};
    if (!manifest.note.empty())
        out["note"] = manifest.note;
    return out.dump();
}

Manifest manifestFromJson(const std::string& text)
{
    const json in = json::parse(text, nullptr, false);
    if (!in.is_object() || in.value("format", 0) != Format)
        throw std::invalid_argument("the fleet state in etcd is not in a format this vesk reads: update vesk");
    Manifest manifest;
    try {
        manifest.bytes = in.at("bytes").get<std::uint64_t>();
        manifest.sha256 = in.at("sha256").get<std::string>();
        manifest.chunks = in.at("chunks").get<std::vector<std::string>>();
        manifest.pushedAt = in.value("pushedAt", std::string());
        manifest.pushedBy = in.value("pushedBy", std::string());
        manifest.note = in.value("note", std::string());
    } catch (const json::exception& error) {
        throw std::invalid_argument(std::string("the fleet state in etcd is damaged: ") + error.what());
    }
    return manifest;
}

std::string FleetStore::stateKey(const std::string& instance) const
{
    return prefix + "/state/" + instance;
}

std::optional<Published> FleetStore::fromKeyValue(const KeyValue& kv) const
{
    if (!kv.found)
        return std::nullopt;
    return Published{kv.modRevision, manifestFromJson(kv.value), kv.clusterId};
}

std::optional<Published> FleetStore::read(const std::string& instance, std::int64_t atRevision)
{
    return fromKeyValue(etcd.get(stateKey(instance), atRevision));
}

std::string FleetStore::content(const Manifest& manifest)
{
    std::string document;
    document.reserve(manifest.bytes);
    for (const std::string& digest : manifest.chunks) {
        const KeyValue chunk = etcd.get(prefix + "/chunks/" + digest);
        if (!chunk.found || sha256Hex(chunk.value) != digest)
            throw std::invalid_argument("the fleet state names a chunk etcd no longer holds intact (" + digest +
                                        "): push the instance again");
        document += chunk.value;
    }
    if (document.size() != manifest.bytes || sha256Hex(document) != manifest.sha256)
        throw std::invalid_argument("the fleet state's chunks do not add up to what it was: push the instance again");
    return document;
}

std::optional<std::int64_t> FleetStore::publish(const std::string& instance, const std::string& document,
                                                const std::string& note, std::int64_t belowRevision)
{
    Manifest manifest;
    manifest.bytes = document.size();
    manifest.sha256 = sha256Hex(document);
    manifest.pushedAt = utcNow();
    manifest.pushedBy = whoAmI();
    manifest.note = note;
    for (std::size_t at = 0; at < document.size(); at += ChunkBytes) {
        const std::string chunk = document.substr(at, ChunkBytes);
        const std::string digest = sha256Hex(chunk);
        const std::string key = prefix + "/chunks/" + digest;
        // Content-addressed: a chunk already there holds these bytes unless
        // damaged, and writing it again would only grow etcd's history.
        const KeyValue stored = etcd.get(key);
        if (!stored.found || stored.value != chunk)
            etcd.put(key, chunk);
        manifest.chunks.push_back(digest);
    }
    return etcd.putIfOlderThan(stateKey(instance), manifestToJson(manifest), belowRevision);
}

} // namespace vesk_fleet
