#include "tools/vesk/fleet/EtcdClient.h"

#include "tools/vesk/fleet/EtcdGateway.h"

#include <chrono>

namespace vesk_fleet {

std::optional<KeyValue> EtcdClient::waitForChange(const std::string& key, std::int64_t fromRevision,
                                                  const std::function<bool()>& keepGoing, long sessionMs,
                                                  const std::string& alsoKey)
{
    const std::string endpoint = settings.endpoints[current];
    HttpRequest request = requestTo(endpoint, "watch", watchBody(key, alsoKey, fromRevision));
    request.timeoutMs = sessionMs;

    std::string pending;
    std::optional<KeyValue> change;
    std::int64_t compactRevision = 0;
    std::string canceled;
    // Runs inside the HTTP library's callback, so it reports by return
    // value and state, never by exception.
    auto onLine = [&](const std::string& text) {
        WatchLine line = readWatchLine(text);
        compactRevision = line.compactRevision;
        canceled = line.canceled;
        if (line.change)
            change = std::move(line.change);
        return !line.ends;
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
    if (!canceled.empty()) {
        // Most often a token the member no longer knows: the next session logs in again.
        tokenEndpoint.clear();
        throw EtcdError(isTokenProblem(0, canceled) ? EtcdError::Kind::Unavailable : EtcdError::Kind::Refused,
                        endpoint + " ended the watch: " + canceled);
    }
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

} // namespace vesk_fleet
