#include "tools/vesk/fleet/FleetStore.h"

#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Digest.h"

#include <ctime>
#include <random>
#include <set>
#include <stdexcept>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pwd.h>
#include <unistd.h>
#endif

namespace vesk_fleet {
namespace {

// The operating system's name of the account this runs as, @ the machine's
// name: what the system says, never what the environment claims.
std::string accountAtHost()
{
#if defined(_WIN32)
    wchar_t user[257];
    DWORD userSize = 257;
    std::string who = GetUserNameW(user, &userSize) ? vesk_tool::toUtf8(user) : std::string("unknown");
#else
    std::string who = "uid " + std::to_string(geteuid());
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) == 0 && found)
        who = found->pw_name;
#endif
    const std::string host = machineName();
    return host.empty() ? who : who + "@" + host;
}

// 128 random bits as hex: no two pushes share one.
std::string freshPushId()
{
    std::random_device random;
    std::string id;
    for (int i = 0; i < 4; ++i) {
        char part[9];
        std::snprintf(part, sizeof part, "%08x", static_cast<unsigned>(random()));
        id += part;
    }
    return id;
}

} // namespace

std::string machineName()
{
#if defined(_WIN32)
    // The DNS name, as host reports and overlays name hosts; not the NetBIOS name's 15 capitals.
    wchar_t host[256];
    DWORD hostSize = 256;
    return GetComputerNameExW(ComputerNameDnsHostname, host, &hostSize) ? vesk_tool::toUtf8(std::wstring(host, hostSize))
                                                                         : std::string();
#else
    char host[256] = {};
    return gethostname(host, sizeof host - 1) == 0 ? std::string(host) : std::string();
#endif
}

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

std::string FleetStore::stateKey(const std::string& instance) const
{
    return statePrefix() + instance;
}

std::string FleetStore::historyPrefix(const std::string& instance) const
{
    return prefix + "/history/" + instance + "/";
}

std::string FleetStore::historyKey(const std::string& instance, std::int64_t revision) const
{
    // Zero-padded, so that key order is revision order.
    char digits[24];
    std::snprintf(digits, sizeof digits, "%020lld", static_cast<long long>(revision));
    return historyPrefix(instance) + digits;
}

std::string FleetStore::chunkPrefix(const std::string& instance) const
{
    return prefix + "/chunks/" + instance + "/";
}

std::string FleetStore::chunkKey(const Manifest& manifest, const std::string& digest) const
{
    return manifest.format == 1 ? prefix + "/chunks/" + digest : chunkPrefix(manifest.instance) + digest;
}

std::string FleetStore::fenceKey(const std::string& instance) const
{
    // After the revisions ('f' > '9'), so below no range of them.
    return historyPrefix(instance) + "fence";
}

std::optional<Published> FleetStore::fromKeyValue(const KeyValue& kv) const
{
    if (!kv.found)
        return std::nullopt;
    return Published{kv.modRevision, manifestFromJson(kv.value), kv.clusterId};
}

std::optional<Published> FleetStore::read(const std::string& instance)
{
    return fromKeyValue(etcd.get(stateKey(instance)));
}

std::optional<Published> FleetStore::atRevision(const std::string& instance, std::int64_t revision)
{
    const KeyValue state = etcd.get(stateKey(instance));
    if (state.found && state.modRevision == revision)
        return fromKeyValue(state);
    const KeyValue kept = etcd.get(historyKey(instance, revision));
    if (!kept.found)
        return std::nullopt;
    return Published{revision, manifestFromJson(kept.value), kept.clusterId};
}

std::vector<Published> FleetStore::history(const std::string& instance, int limit)
{
    std::vector<Published> entries;
    if (auto state = read(instance))
        entries.push_back(*state);
    if (static_cast<int>(entries.size()) >= limit)
        return entries;
    const std::string from = historyPrefix(instance);
    const std::int64_t wanted = limit - static_cast<std::int64_t>(entries.size());
    for (const KeyValue& kv : etcd.range({from, fenceKey(instance), false, true, wanted})) {
        const std::int64_t revision = std::stoll(kv.key.substr(from.size()));
        // A push between the two reads keeps the state just read here too.
        if (entries.empty() || revision < entries.front().revision)
            entries.push_back(Published{revision, manifestFromJson(kv.value), kv.clusterId});
    }
    return entries;
}

std::string FleetStore::content(const Manifest& manifest)
{
    std::string document;
    document.reserve(manifest.bytes);
    for (const std::string& digest : manifest.chunks) {
        ++fetchCount.chunks;
        if (cache) {
            if (auto kept = cache->get(digest)) {
                document += *kept;
                continue;
            }
        }
        const std::string key = chunkKey(manifest, digest);
        const KeyValue chunk = etcd.get(key);
        ++fetchCount.requests;
        fetchCount.bytes += chunk.value.size();
        if (!chunk.found || sha256Hex(chunk.value) != digest)
            throw DamagedState("the fleet state names a chunk etcd no longer holds intact (" + key +
                                        "): remove that key ('etcdctl del " + key + "') and push the instance again");
        if (cache)
            cache->put(digest, chunk.value);
        document += chunk.value;
    }
    if (document.size() != manifest.bytes || sha256Hex(document) != manifest.sha256)
        throw DamagedState("the fleet state's chunks do not add up to what it was: push the instance again");
    if (cache)
        cache->trim(manifest.bytes);
    return document;
}

Manifest FleetStore::manifestOf(const std::string& instance, const std::string& document, const PushRecord& record)
{
    const std::vector<std::string_view> pieces = cutDocument(document);
    if (pieces.size() > MaxChunks)
        throw std::length_error("the document has " + std::to_string(document.size()) + " bytes, " +
                                std::to_string(pieces.size()) + " chunks; the fleet carries " +
                                std::to_string(MaxChunks) + " at most (the chunks of one etcd transaction)");
    Manifest manifest;
    manifest.instance = instance;
    manifest.bytes = document.size();
    manifest.sha256 = sha256Hex(document);
    manifest.pushedAt = utcNow();
    // With authentication on, etcd knows who this is better than the machine.
    manifest.pushedBy = etcd.authenticatedUser().empty() ? accountAtHost() : etcd.authenticatedUser();
    manifest.pushId = freshPushId();
    manifest.message = record.message;
    manifest.note = record.note;
    for (const std::string_view piece : pieces)
        manifest.chunks.push_back(sha256Hex(piece));
    return manifest;
}

void FleetStore::upload(const Manifest& manifest, const std::string& document)
{
    // The same cut as manifestOf made: the chunker is a function of the bytes.
    const std::vector<std::string_view> pieces = cutDocument(document);
    std::set<std::string> stored;
    for (std::size_t i = 0; i < manifest.chunks.size() && i < pieces.size(); ++i) {
        const std::string key = chunkKey(manifest, manifest.chunks[i]);
        if (!stored.insert(key).second || etcd.exists(key))
            continue;
        const std::string chunk(pieces[i]);
        try {
            etcd.put(key, chunk);
        } catch (const EtcdError& error) {
            // The key is named by these very bytes: a put that landed after
            // all is only written again with the same bytes, so sending it
            // once more changes nothing a reader could see.
            if (error.kind != EtcdError::Kind::AnswerLost)
                throw;
            etcd.put(key, chunk);
        }
    }
}

PushBase FleetStore::base(const std::string& instance)
{
    PushBase base;
    base.state = etcd.get(stateKey(instance));
    base.fence = etcd.get(fenceKey(instance)).version;
    return base;
}

std::optional<std::int64_t> FleetStore::commit(const Manifest& manifest, const PushBase& base,
                                               const TxnAlongside& alongside)
{
    using Target = TxnCompare::Target;
    using Result = TxnCompare::Result;
    const KeyValue& replaced = base.state;
    const std::string state = stateKey(manifest.instance);
    // The state and the fence are still as read, and every chunk named is
    // still there (a gc running beside this push may have removed one: then
    // this fails, and the push stores its chunks again).
    std::vector<TxnCompare> compares{{state, Target::ModRevision, Result::Equal, replaced.found ? replaced.modRevision : 0},
                                     {fenceKey(manifest.instance), Target::Version, Result::Equal, base.fence}};
    std::set<std::string> named;
    for (const std::string& digest : manifest.chunks)
        if (named.insert(digest).second)
            compares.push_back({chunkKey(manifest, digest), Target::Version, Result::Greater, 0});
    std::vector<TxnWrite> writes{{state, manifestToJson(manifest), ""}};
    if (replaced.found)
        writes.push_back({historyKey(manifest.instance, replaced.modRevision), replaced.value, ""});
    compares.insert(compares.end(), alongside.compares.begin(), alongside.compares.end());
    writes.insert(writes.end(), alongside.writes.begin(), alongside.writes.end());
    return etcd.commit(compares, writes);
}

bool FleetStore::fence(const std::string& instance, const PushBase& base)
{
    const std::int64_t read = base.state.found ? base.state.modRevision : 0;
    return etcd
        .commit({{stateKey(instance), TxnCompare::Target::ModRevision, TxnCompare::Result::Equal, read}},
                {{fenceKey(instance), std::string(utcNow()), ""}})
        .has_value();
}

std::optional<std::int64_t> FleetStore::landed(const std::string& instance, const std::string& pushId,
                                               std::int64_t since)
{
    const KeyValue state = etcd.get(stateKey(instance));
    if (state.found && manifestFromJson(state.value).pushId == pushId)
        return state.modRevision;
    // Pushed over since: the push is then in the history, after `since`.
    const std::string from = historyPrefix(instance);
    for (const KeyValue& kv : etcd.range({historyKey(instance, since + 1), fenceKey(instance), false, false, 0}))
        if (manifestFromJson(kv.value).pushId == pushId)
            return std::stoll(kv.key.substr(from.size()));
    return std::nullopt;
}

} // namespace vesk_fleet
