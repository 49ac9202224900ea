#include "tools/vesk/fleet/EtcdClient.h"

#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/EtcdGateway.h"

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

std::string withScheme(const std::string& endpoint, bool tls)
{
    if (endpoint.find("://") != std::string::npos)
        return endpoint;
    return (tls ? "https://" : "http://") + endpoint;
}

// The member could not serve the call: another one may. `mayHaveApplied`
// when the request may have reached etcd and been carried out there.
struct Retry : std::runtime_error {
    Retry(const std::string& why, bool mayHave) : std::runtime_error(why), reason(why), mayHaveApplied(mayHave) {}
    std::string reason;
    bool mayHaveApplied;
};

// etcd did not take the login token (expired, or lost with a restarted
// member), or the gateway hung up without a word: log in again.
struct TokenRejected : std::runtime_error {
    TokenRejected(const std::string& why, bool mayHave) : std::runtime_error(why), reason(why), mayHaveApplied(mayHave) {}
    std::string reason;
    bool mayHaveApplied;
};

// Calls that change nothing, or nothing more when repeated (a lease renewed
// or revoked twice), may be sent again to any member; a write sent twice may
// land twice, or overwrite what was pushed meanwhile.
bool isRead(const std::string& path)
{
    return path == "kv/range" || path == "auth/authenticate" || path == "watch" || path == "lease/keepalive" ||
           path == "lease/revoke";
}

bool mentions(const std::string& message, const char* text)
{
    return message.find(text) != std::string::npos;
}

// Unavailable answers etcd gives before it proposes a write, so nothing
// was carried out; any other (a timed-out proposal) may still be applied.
bool refusedBeforeProposing(const std::string& message)
{
    return mentions(message, "no leader") || mentions(message, "not capable");
}

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
    } catch (const Retry& retry) {
        tokenEndpoint.clear();
        throw Retry{retry.reason, false};
    } catch (const TokenRejected& rejected) {
        tokenEndpoint.clear();
        throw Retry{rejected.reason, false};
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
        const bool mayHaveApplied = error.stage == HttpError::Stage::Answering;
        if (error.emptyReply && !token.empty())
            throw TokenRejected{error.what(), mayHaveApplied};
        throw Retry{error.what(), mayHaveApplied};
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
    if (code == ResourceExhausted && mentions(message, "database space exceeded"))
        throw EtcdError(EtcdError::Kind::NoSpace, message);
    if (code == ResourceExhausted || code == Unavailable || code == DeadlineExceeded ||
        (code == FailedPrecondition && mentions(message, "not capable")))
        throw Retry{endpoint + ": " + message, code != ResourceExhausted && !refusedBeforeProposing(message)};
    if (code == OutOfRange && message.find("compacted") != std::string::npos)
        throw EtcdError(EtcdError::Kind::Compacted, message);
    // etcd checks the token before it proposes anything: a write refused for
    // it was not carried out. A refused password is final.
    if (path != "auth/authenticate" && !settings.user.empty() && isTokenProblem(code, message))
        throw TokenRejected{endpoint + ": " + message, false};
    if (code == PermissionDenied)
        throw EtcdError(EtcdError::Kind::PermissionDenied, "etcd user '" + settings.user + "' may not " +
                                                               askedFor(path, body) + " (" + message + ")");
    if (code == Unauthenticated || message.find("authentication failed") != std::string::npos)
        throw EtcdError(EtcdError::Kind::LoginRefused, message);
    if (code == InvalidArgument && message.find("user name is empty") != std::string::npos)
        throw EtcdError(EtcdError::Kind::LoginRefused, message);
    if (code == FailedPrecondition && path == "auth/authenticate")
        throw EtcdError(EtcdError::Kind::LoginRefused, message);
    throw EtcdError(EtcdError::Kind::Refused, endpoint + ": " + message);
}

json EtcdClient::call(const std::string& path, const json& body)
{
    const bool read = isRead(path);
    auto lost = [&](const std::string& reason) {
        return EtcdError(EtcdError::Kind::AnswerLost,
                         settings.endpoints[current] + " was sent the write and gave no answer (" + reason + ")");
    };
    std::string reasons;
    for (std::size_t tried = 0; tried < settings.endpoints.size(); ++tried) {
        const std::string& endpoint = settings.endpoints[current];
        try {
            if (!settings.user.empty() && tokenEndpoint != endpoint)
                authenticate(endpoint);
            try {
                return callOnce(endpoint, path, body);
            } catch (const TokenRejected& rejected) {
                if (!read && rejected.mayHaveApplied)
                    throw lost(rejected.reason);
                // One fresh login, on this member, whether or not there are others.
                authenticate(endpoint);
                try {
                    return callOnce(endpoint, path, body);
                } catch (const TokenRejected& again) {
                    throw Retry{again.reason, again.mayHaveApplied};
                }
            }
        } catch (const Retry& retry) {
            if (!read && retry.mayHaveApplied)
                throw lost(retry.reason);
            reasons += (reasons.empty() ? "" : "; ") + retry.reason;
            tokenEndpoint.clear(); // a member that failed may come back without our token
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
    const std::int64_t revision = gatewayNumber(header, "revision");
    const auto kvs = answer.find("kvs");
    KeyValue out;
    out.key = key;
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

std::int64_t EtcdClient::put(const std::string& key, const std::string& value, std::int64_t lease)
{
    json body{{"key", toBase64(key)}, {"value", toBase64(value)}};
    if (lease != 0)
        body["lease"] = std::to_string(lease);
    const json answer = call("kv/put", body);
    return gatewayNumber(answer.at("header"), "revision");
}

std::int64_t EtcdClient::grantLease(long ttlSeconds)
{
    const json answer = call("lease/grant", json{{"TTL", std::to_string(ttlSeconds)}});
    if (!answer.value("error", std::string()).empty() || gatewayNumber(answer, "ID") == 0)
        throw EtcdError(EtcdError::Kind::Refused, "etcd granted no lease: " + answer.dump());
    return gatewayNumber(answer, "ID");
}

long EtcdClient::keepAlive(std::int64_t lease)
{
    try {
        // A stream of renewals: this one request gets one answer, then the stream ends.
        const json answer = call("lease/keepalive", json{{"ID", std::to_string(lease)}});
        return static_cast<long>(gatewayNumber(answer.value("result", json::object()), "TTL"));
    } catch (const EtcdError& error) {
        if (leaseGone(error))
            return 0;
        throw;
    }
}

void EtcdClient::revokeLease(std::int64_t lease)
{
    try {
        call("lease/revoke", json{{"ID", std::to_string(lease)}});
    } catch (const EtcdError& error) {
        if (!leaseGone(error))
            throw;
    }
}

bool EtcdClient::exists(const std::string& key)
{
    const json answer = call("kv/range", json{{"key", toBase64(key)}, {"count_only", true}});
    return gatewayNumber(answer, "count") > 0;
}

std::vector<KeyValue> EtcdClient::range(const RangeRequest& request)
{
    const json answer = call("kv/range", rangeBody(request));
    const std::int64_t revision = gatewayNumber(answer.at("header"), "revision");
    std::vector<KeyValue> out;
    for (const json& kv : answer.value("kvs", json::array()))
        out.push_back(keyValueOf(kv, revision));
    return out;
}

std::optional<std::int64_t> EtcdClient::commit(const std::vector<TxnCompare>& compares,
                                               const std::vector<TxnWrite>& writes)
{
    const json answer = call("kv/txn", txnBody(compares, writes));
    if (!answer.value("succeeded", false))
        return std::nullopt;
    return gatewayNumber(answer.at("header"), "revision");
}

std::string prefixEnd(std::string prefix)
{
    // The next key after every key that starts with `prefix`: its last byte
    // below 0xff raised by one, what follows it dropped.
    while (!prefix.empty() && static_cast<unsigned char>(prefix.back()) == 0xff)
        prefix.pop_back();
    if (prefix.empty())
        return std::string(1, '\0');
    prefix.back() = static_cast<char>(static_cast<unsigned char>(prefix.back()) + 1);
    return prefix;
}

} // namespace vesk_fleet
