#include "EtcdClient.h"

#include "Digest.h"

#include <nlohmann/json.hpp>

#include <chrono>

namespace vesk_fleet {
namespace {

using nlohmann::json;

// gRPC status codes the gateway passes on in its error bodies.
constexpr int InvalidArgument = 3;
constexpr int DeadlineExceeded = 4;
constexpr int PermissionDenied = 7;
constexpr int ResourceExhausted = 8;
constexpr int FailedPrecondition = 9;
constexpr int OutOfRange = 11;
constexpr int Unavailable = 14;
constexpr int Unauthenticated = 16;

std::int64_t number(const json& object, const char* name)
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
    out.value = fromBase64(kv.value("value", std::string()));
    out.modRevision = number(kv, "mod_revision");
    out.revision = revision;
    return out;
}

std::string withScheme(const std::string& endpoint, bool tls)
{
    if (endpoint.find("://") != std::string::npos)
        return endpoint;
    return (tls ? "https://" : "http://") + endpoint;
}

// Either an answer to hand back, or the reason to try another member.
struct Retry {
    std::string reason;
};

} // namespace

EtcdClient::EtcdClient(EtcdSettings given, std::unique_ptr<HttpClient> client)
    : settings(std::move(given)), http(std::move(client))
{
    const bool tls = !settings.tls.caFile.empty() || !settings.tls.certFile.empty();
    for (std::string& endpoint : settings.endpoints) {
        endpoint = withScheme(endpoint, tls);
        while (!endpoint.empty() && endpoint.back() == '/')
            endpoint.pop_back();
    }
    if (settings.endpoints.empty())
        throw EtcdError(EtcdError::Kind::Unavailable, "no etcd endpoints are configured");
}

HttpRequest EtcdClient::requestTo(const std::string& endpoint, const std::string& path,
                                  const std::string& body) const
{
    HttpRequest request;
    request.url = endpoint + "/v3/" + path;
    request.body = body;
    request.timeoutMs = settings.timeoutMs;
    if (!token.empty() && path != "auth/authenticate")
        request.headers.push_back("Authorization: " + token);
    return request;
}

void EtcdClient::authenticate(const std::string& endpoint)
{
    token.clear();
    tokenEndpoint = endpoint;
    json answer;
    try {
        answer = callOnce(endpoint, "auth/authenticate", json{{"name", settings.user}, {"password", settings.password}});
    } catch (const EtcdError& error) {
        // A cluster without authentication serves everyone alike.
        if (std::string(error.what()).find("authentication is not enabled") != std::string::npos)
            return;
        tokenEndpoint.clear();
        throw;
    } catch (const Retry&) {
        tokenEndpoint.clear();
        throw;
    }
    token = answer.value("token", std::string());
    if (token.empty())
        throw EtcdError(EtcdError::Kind::LoginRefused, "etcd accepted the login but gave no token");
}

json EtcdClient::callOnce(const std::string& endpoint, const std::string& path, const json& body)
{
    HttpResponse response;
    try {
        response = http->post(requestTo(endpoint, path, body.dump()));
    } catch (const HttpError& error) {
        throw Retry{error.what()};
    }
    const json answer = json::parse(response.body, nullptr, false);
    if (response.status == 200 && answer.is_object())
        return answer;
    if (!answer.is_object())
        throw EtcdError(EtcdError::Kind::Refused, endpoint + " answered HTTP " + std::to_string(response.status) +
                                                      " without an etcd answer (\"" + response.body.substr(0, 160) +
                                                      "\"): is it an etcd 3.4 client URL? With authentication on, "
                                                      "the client certificate must carry no CommonName");
    const int code = answer.value("code", 0);
    const std::string message = answer.value("message", answer.value("error", std::string("no message")));
    if (code == Unavailable || code == DeadlineExceeded || code == ResourceExhausted)
        throw Retry{endpoint + ": " + message};
    if (code == OutOfRange && message.find("compacted") != std::string::npos)
        throw EtcdError(EtcdError::Kind::Compacted, message);
    if (code == Unauthenticated || code == PermissionDenied || message.find("authentication failed") != std::string::npos)
        throw EtcdError(EtcdError::Kind::LoginRefused, message);
    if (code == InvalidArgument && message.find("user name is empty") != std::string::npos)
        throw EtcdError(EtcdError::Kind::LoginRefused, message);
    if (code == FailedPrecondition && path == "auth/authenticate")
        throw EtcdError(EtcdError::Kind::LoginRefused, message);
    throw EtcdError(EtcdError::Kind::Refused, endpoint + ": " + message);
}

json EtcdClient::call(const std::string& path, const json& body)
{
    std::string reasons;
    for (std::size_t tried = 0; tried < settings.endpoints.size(); ++tried) {
        const std::string& endpoint = settings.endpoints[current];
        try {
            if (!settings.user.empty() && tokenEndpoint != endpoint)
                authenticate(endpoint);
            try {
                return callOnce(endpoint, path, body);
            } catch (const EtcdError& error) {
                // Tokens expire; one fresh login, then the answer stands.
                if (error.kind != EtcdError::Kind::LoginRefused || settings.user.empty())
                    throw;
                authenticate(endpoint);
                return callOnce(endpoint, path, body);
            }
        } catch (const Retry& retry) {
            reasons += (reasons.empty() ? "" : "; ") + retry.reason;
            current = (current + 1) % settings.endpoints.size();
        }
    }
    throw EtcdError(EtcdError::Kind::Unavailable, reasons);
}

KeyValue EtcdClient::get(const std::string& key, std::int64_t atRevision)
{
    json body{{"key", toBase64(key)}};
    if (atRevision > 0)
        body["revision"] = std::to_string(atRevision);
    const json answer = call("kv/range", body);
    const json& header = answer.at("header");
    const std::int64_t revision = number(header, "revision");
    const auto kvs = answer.find("kvs");
    KeyValue out;
    if (kvs == answer.end() || kvs->empty())
        out.revision = revision;
    else
        out = keyValueOf(kvs->at(0), revision);
    // An unsigned 64-bit id, past what `number` reads: kept as written.
    const auto cluster = header.find("cluster_id");
    if (cluster != header.end())
        out.clusterId = cluster->is_string() ? cluster->get<std::string>() : cluster->dump();
    return out;
}

std::int64_t EtcdClient::put(const std::string& key, const std::string& value)
{
    const json answer = call("kv/put", json{{"key", toBase64(key)}, {"value", toBase64(value)}});
    return number(answer.at("header"), "revision");
}

std::optional<std::int64_t> EtcdClient::putIfOlderThan(const std::string& key, const std::string& value,
                                                       std::int64_t belowRevision)
{
    json body{{"success", json::array({json{{"request_put", {{"key", toBase64(key)}, {"value", toBase64(value)}}}}})}};
    if (belowRevision > 0)
        body["compare"] = json::array({json{{"key", toBase64(key)},
                                            {"target", "MOD"},
                                            {"result", "LESS"},
                                            {"mod_revision", std::to_string(belowRevision)}}});
    const json answer = call("kv/txn", body);
    if (!answer.value("succeeded", false))
        return std::nullopt;
    return number(answer.at("header"), "revision");
}

std::optional<KeyValue> EtcdClient::waitForChange(const std::string& key, std::int64_t fromRevision,
                                                  const std::function<bool()>& keepGoing, long sessionMs)
{
    // Progress notifications: etcd tells a quiet stream now and then that
    // it is still there, rather than leave it silent.
    const json create{{"create_request",
                       {{"key", toBase64(key)}, {"start_revision", std::to_string(fromRevision)}, {"progress_notify", true}}}};
    const std::string endpoint = settings.endpoints[current];
    HttpRequest request = requestTo(endpoint, "watch", create.dump());
    request.timeoutMs = sessionMs;

    std::string pending;
    std::optional<KeyValue> change;
    std::int64_t compactRevision = 0;
    // Runs inside the HTTP library's callback, so it reports by return
    // value and state, never by exception.
    auto onLine = [&](const std::string& text) {
        const json line = json::parse(text, nullptr, false);
        if (!line.is_object() || !line.contains("result"))
            return true;
        const json& result = line["result"];
        compactRevision = number(result, "compact_revision");
        if (compactRevision > 0)
            return false;
        const std::int64_t revision = result.contains("header") ? number(result["header"], "revision") : 0;
        for (const json& event : result.value("events", json::array())) {
            if (event.value("type", std::string("PUT")) == "PUT") {
                change = keyValueOf(event.at("kv"), revision);
            } else {
                change = KeyValue{};
                change->modRevision = number(event.value("kv", json::object()), "mod_revision");
                change->revision = revision;
            }
            return false;
        }
        return true;
    };
    auto onData = [&](std::string_view bytes) {
        pending.append(bytes);
        try {
            for (std::size_t end; (end = pending.find('\n')) != std::string::npos; pending.erase(0, end + 1))
                if (!onLine(pending.substr(0, end)))
                    return false;
        } catch (const std::exception&) {
            return false;
        }
        return keepGoing();
    };
    const auto started = std::chrono::steady_clock::now();
    long status = 0;
    try {
        status = http->postStream(request, onData, keepGoing);
    } catch (const HttpError& error) {
        current = (current + 1) % settings.endpoints.size();
        throw EtcdError(EtcdError::Kind::Unavailable, error.what());
    }
    if (compactRevision > 0)
        throw EtcdError(EtcdError::Kind::Compacted, "the watch's start revision was compacted away", compactRevision);
    if (status != 200 && status != 0)
        throw EtcdError(EtcdError::Kind::Refused, endpoint + " refused the watch with HTTP " + std::to_string(status));
    // A stream that ends long before its time (a member answering and
    // closing) is no quiet session: the caller pauses, and the next session
    // tries another member.
    const auto tookMs =
        std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - started).count();
    if (!change && tookMs < sessionMs / 2 && keepGoing()) {
        current = (current + 1) % settings.endpoints.size();
        throw EtcdError(EtcdError::Kind::Unavailable,
                        endpoint + " closed the watch after " + std::to_string(tookMs) + " ms");
    }
    return change;
}

std::string explain(const EtcdError& error)
{
    switch (error.kind) {
    case EtcdError::Kind::Unavailable:
        return std::string("etcd cannot be reached (") + error.what() +
               "): check that the cluster is up and that --endpoints or VESK_FLEET_ENDPOINTS names its client URLs";
    case EtcdError::Kind::LoginRefused:
        return std::string("etcd refused the login (") + error.what() +
               "): check the user and password in the fleet configuration file or VESK_FLEET_USER/VESK_FLEET_PASSWORD, "
               "and the user's role";
    case EtcdError::Kind::Compacted:
        return std::string("that revision was compacted away by etcd (") + error.what() +
               "): see 'vesk fleet history' for the revisions still kept, or push an exported .reg file";
    case EtcdError::Kind::NoSpace:
    case EtcdError::Kind::PermissionDenied:
    case EtcdError::Kind::AnswerLost:
    case EtcdError::Kind::Refused:
        break;
    }
    return std::string("etcd refused the request: ") + error.what();
}

} // namespace vesk_fleet
