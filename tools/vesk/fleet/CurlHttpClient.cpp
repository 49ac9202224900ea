#include "tools/vesk/fleet/HttpClient.h"

#include <curl/curl.h>

#include <chrono>
#include <optional>

namespace vesk_fleet {
namespace {

// curl_global_init must run once before any handle, and is not thread safe.
// Each holder below owns what curl gave it alone: a copy would free it twice.
struct CurlGlobal {
    CurlGlobal() { curl_global_init(CURL_GLOBAL_DEFAULT); }
    ~CurlGlobal() { curl_global_cleanup(); }
    CurlGlobal(const CurlGlobal&) = delete;
    CurlGlobal& operator=(const CurlGlobal&) = delete;
};

struct HeaderList {
    curl_slist* list = nullptr;
    HeaderList() = default;
    ~HeaderList() { curl_slist_free_all(list); }
    HeaderList(const HeaderList&) = delete;
    HeaderList& operator=(const HeaderList&) = delete;
    // A failed append leaves the list as it was (and still owned).
    void add(const std::string& header)
    {
        if (curl_slist* grown = curl_slist_append(list, header.c_str()))
            list = grown;
    }
};

struct Handle {
    CURL* curl = curl_easy_init();
    Handle() = default;
    ~Handle() { curl_easy_cleanup(curl); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
};

// What the callbacks see of one exchange.
struct Exchange {
    const std::function<bool(std::string_view)>* onData = nullptr;
    const std::function<bool()>* keepGoing = nullptr;
    bool stoppedByUs = false;
};

size_t onBody(char* data, size_t size, size_t count, void* context)
{
    auto* exchange = static_cast<Exchange*>(context);
    if (!(*exchange->onData)(std::string_view(data, size * count))) {
        exchange->stoppedByUs = true;
        return 0;
    }
    return size * count;
}

int onProgress(void* context, curl_off_t, curl_off_t, curl_off_t, curl_off_t)
{
    auto* exchange = static_cast<Exchange*>(context);
    if (exchange->keepGoing && !(*exchange->keepGoing)()) {
        exchange->stoppedByUs = true;
        return 1;
    }
    return 0;
}

class CurlHttpClient : public HttpClient {
public:
    explicit CurlHttpClient(TlsFiles files) : tls(std::move(files)) {}

    HttpResponse post(const HttpRequest& request) override
    {
        HttpResponse response;
        std::function<bool(std::string_view)> collect = [&](std::string_view bytes) {
            response.body.append(bytes);
            return true;
        };
        response.status = run(request, collect, nullptr, true);
        return response;
    }

    long postStream(const HttpRequest& request, const std::function<bool(std::string_view)>& onData,
                    const std::function<bool()>& keepGoing) override
    {
        return run(request, onData, &keepGoing, false);
    }

private:
    long run(const HttpRequest& request, const std::function<bool(std::string_view)>& onData,
             const std::function<bool()>* keepGoing, bool timeoutIsError)
    {
        static CurlGlobal global;
        // One handle for the client's life: its idle connections carry the
        // next request, so a watcher does not connect anew for each.
        if (!handle)
            handle.emplace();
        else
            curl_easy_reset(handle->curl);
        if (!handle->curl)
            throw HttpError("cannot start an HTTP exchange");
        HeaderList headers;
        headers.add("Content-Type: application/json");
        for (const std::string& header : request.headers)
            headers.add(header);
        Exchange exchange{&onData, keepGoing};
        CURL* curl = handle->curl;
        curl_easy_setopt(curl, CURLOPT_URL, request.url.c_str());
        curl_easy_setopt(curl, CURLOPT_POST, 1L);
        curl_easy_setopt(curl, CURLOPT_POSTFIELDS, request.body.data());
        curl_easy_setopt(curl, CURLOPT_POSTFIELDSIZE_LARGE, static_cast<curl_off_t>(request.body.size()));
        curl_easy_setopt(curl, CURLOPT_HTTPHEADER, headers.list);
        curl_easy_setopt(curl, CURLOPT_CONNECTTIMEOUT_MS, request.timeoutMs);
        curl_easy_setopt(curl, CURLOPT_TIMEOUT_MS, request.timeoutMs);
        curl_easy_setopt(curl, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, onBody);
        curl_easy_setopt(curl, CURLOPT_WRITEDATA, &exchange);
        curl_easy_setopt(curl, CURLOPT_NOPROGRESS, 0L);
        curl_easy_setopt(curl, CURLOPT_XFERINFOFUNCTION, onProgress);
        curl_easy_setopt(curl, CURLOPT_XFERINFODATA, &exchange);
        if (!tls.caFile.empty())
            curl_easy_setopt(curl, CURLOPT_CAINFO, tls.caFile.c_str());
        if (!tls.certFile.empty())
            curl_easy_setopt(curl, CURLOPT_SSLCERT, tls.certFile.c_str());
        if (!tls.keyFile.empty())
            curl_easy_setopt(curl, CURLOPT_SSLKEY, tls.keyFile.c_str());

        const CURLcode result = curl_easy_perform(curl);
        long status = 0;
        curl_easy_getinfo(curl, CURLINFO_RESPONSE_CODE, &status);
        if (result == CURLE_OK || exchange.stoppedByUs)
            return status;
        // A stream that ran its time after the answer started is a normal end.
        if (result == CURLE_OPERATION_TIMEDOUT && status != 0 && !timeoutIsError)
            return status;
        // Once connected, the request may have arrived whatever went wrong after.
        curl_off_t connectedAfter = 0;
        long requestBytes = 0;
        curl_easy_getinfo(curl, CURLINFO_PRETRANSFER_TIME_T, &connectedAfter);
        curl_easy_getinfo(curl, CURLINFO_REQUEST_SIZE, &requestBytes);
        const bool sent = connectedAfter > 0 || requestBytes > 0;
        throw HttpError(request.url + ": " + curl_easy_strerror(result),
                        sent ? HttpError::Stage::Answering : HttpError::Stage::Connecting, result == CURLE_GOT_NOTHING);
    }

    TlsFiles tls;
    std::optional<Handle> handle;
};

} // namespace

std::unique_ptr<HttpClient> makeHttpClient(const TlsFiles& tls)
{
    return std::make_unique<CurlHttpClient>(tls);
}

} // namespace vesk_fleet
