#include "tools/vesk/fleet/EtcdGateway.h"

#include "tools/vesk/fleet/Digest.h"

#include <algorithm>

namespace vesk_fleet {
namespace {

using nlohmann::json;

// A key or range of a request, in words, for a refusal to name it.
std::string rangeOf(const json& request)
{
    const std::string key = fromBase64(request.value("key", std::string()));
    const std::string end = fromBase64(request.value("range_end", std::string()));
    if (end.empty())
        return "'" + key + "'";
    if (end == prefixEnd(key))
        return "the keys under '" + key + "'";
    return "the keys from '" + key + "' up to '" + end + "'";
}

} // namespace

std::int64_t gatewayNumber(const json& object, const char* name)
{
    // The gateway writes 64-bit integers as strings and leaves out zeros.
    auto found = object.find(name);
    if (found == object.end())
        return 0;
    if (found->is_string())
        return std::stoll(found->get<std::string>());
    return found->get<std::int64_t>();
}

KeyValue keyValueOf(const json& kv, std::int64_t revision)
{
    KeyValue out;
    out.found = true;
    out.key = fromBase64(kv.value("key", std::string()));
    out.value = fromBase64(kv.value("value", std::string()));
    out.modRevision = gatewayNumber(kv, "mod_revision");
    out.version = gatewayNumber(kv, "version");
    out.revision = revision;
    return out;
}

json rangeBody(const RangeRequest& request)
{
    json body{{"key", toBase64(request.key)}};
    if (!request.end.empty())
        body["range_end"] = toBase64(request.end);
    if (request.keysOnly)
        body["keys_only"] = true;
    if (request.descending) {
        body["sort_order"] = "DESCEND";
        body["sort_target"] = "KEY";
    }
    if (request.limit > 0)
        body["limit"] = std::to_string(request.limit);
    return body;
}

json txnBody(const std::vector<TxnCompare>& compares, const std::vector<TxnWrite>& writes)
{
    json body{{"compare", json::array()}, {"success", json::array()}};
    for (const TxnCompare& compare : compares) {
        const bool version = compare.target == TxnCompare::Target::Version;
        body["compare"].push_back(
            json{{"key", toBase64(compare.key)},
                 {"target", version ? "VERSION" : "MOD"},
                 {"result", compare.result == TxnCompare::Result::Equal     ? "EQUAL"
                            : compare.result == TxnCompare::Result::Greater ? "GREATER"
                                                                            : "LESS"},
                 {version ? "version" : "mod_revision", std::to_string(compare.value)}});
    }
    for (const TxnWrite& write : writes) {
        if (write.value) {
            body["success"].push_back(
                json{{"request_put", {{"key", toBase64(write.key)}, {"value", toBase64(*write.value)}}}});
            continue;
        }
        json remove{{"key", toBase64(write.key)}};
        if (!write.end.empty())
            remove["range_end"] = toBase64(write.end);
        body["success"].push_back(json{{"request_delete_range", remove}});
    }
    return body;
}

std::string watchBody(const std::string& key, const std::string& alsoKey, std::int64_t fromRevision)
{
    // Progress notifications: etcd tells a quiet stream now and then that
    // it is still there, rather than leave it silent.
    auto create = [&](const std::string& watched) {
        return json{{"create_request", {{"key", toBase64(watched)},
                                        {"start_revision", std::to_string(fromRevision)},
                                        {"progress_notify", true}}}}.dump();
    };
    // The gateway reads one request after another from the body: one stream, two watches.
    return alsoKey.empty() ? create(key) : create(key) + "\n" + create(alsoKey);
}

WatchLine readWatchLine(const std::string& text)
{
    WatchLine read;
    const json line = json::parse(text, nullptr, false);
    if (!line.is_object() || !line.contains("result"))
        return read;
    const json& result = line["result"];
    read.compactRevision = gatewayNumber(result, "compact_revision");
    if (read.compactRevision > 0) {
        read.ends = true;
        return read;
    }
    if (result.value("canceled", false)) {
        read.canceled = result.value("cancel_reason", std::string("no reason given"));
        read.ends = true;
        return read;
    }
    const std::int64_t revision = result.contains("header") ? gatewayNumber(result["header"], "revision") : 0;
    for (const json& event : result.value("events", json::array())) {
        if (event.value("type", std::string("PUT")) == "PUT") {
            read.change = keyValueOf(event.at("kv"), revision);
        } else {
            read.change = KeyValue{};
            read.change->key = fromBase64(event.value("kv", json::object()).value("key", std::string()));
            read.change->modRevision = gatewayNumber(event.value("kv", json::object()), "mod_revision");
            read.change->revision = revision;
        }
        read.ends = true;
        return read;
    }
    return read;
}

// What a refused request asked for, and the grant that would allow its
// first key or range (a transaction names at most three).
std::string askedFor(const std::string& path, const json& body)
{
    std::vector<const json*> requests;
    if (path != "kv/txn")
        requests.push_back(&body);
    for (const json& compare : body.value("compare", json::array()))
        requests.push_back(&compare);
    for (const json& op : body.value("success", json::array()))
        for (const auto& item : op.items())
            requests.push_back(&item.value());
    if (requests.empty())
        return path;
    std::vector<std::string> named;
    for (const json* request : requests)
        if (std::find(named.begin(), named.end(), rangeOf(*request)) == named.end())
            named.push_back(rangeOf(*request));
    std::string text = path == "kv/range" ? "read " : path == "kv/txn" ? "read and write " : "write ";
    for (std::size_t i = 0; i < named.size() && i < 3; ++i)
        text += (i == 0 ? "" : ", ") + named[i];
    if (named.size() > 3)
        text += " and " + std::to_string(named.size() - 3) + " more";
    const std::string key = fromBase64(requests.front()->value("key", std::string()));
    const bool prefixed = !requests.front()->value("range_end", std::string()).empty();
    return text + "; grant it to one of the user's roles: etcdctl role grant-permission ROLE " +
           (path == "kv/range" ? "read " : "readwrite ") + (prefixed ? "--prefix " : "") + key;
}

} // namespace vesk_fleet
