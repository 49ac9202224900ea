#include "tools/vesk/fleet/HttpClient.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace vesk_fleet {
namespace {

// How often a stream's caller asks keepGoing while no bytes come.
constexpr long StreamPollMs = 250;

class Handle {
public:
    explicit Handle(HINTERNET handle = nullptr) : handle(handle) {}
    ~Handle() { close(); }
    Handle(Handle&& other) noexcept : handle(other.handle) { other.handle = nullptr; }
    Handle& operator=(Handle&& other) noexcept
    {
        if (this != &other) {
            close();
            handle = other.handle;
            other.handle = nullptr;
        }
        return *this;
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }
    void close()
    {
        if (handle)
            WinHttpCloseHandle(handle);
        handle = nullptr;
    }

private:
    HINTERNET handle;
};

std::string lastError(const std::string& what)
{
    return what + " failed (WinHTTP error " + std::to_string(GetLastError()) + ")";
}

// A read that ran its time on a quiet stream. (Wine reports the socket's
// own timeout, WSAETIMEDOUT.)
bool isTimeout(DWORD error)
{
    return error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT;
}

// A stream's answer, read on a thread of its own so that the caller's
// thread stays free to ask keepGoing while the server is quiet, and to walk
// away at any moment. A waiting read cannot be called off everywhere (under
// Wine, closing the request does not end it), so the thread owns the request
// and ends by itself: at the answer's end, or when its read next returns
// (at the latest at the request's receive timeout) once given up.
class StreamRead {
public:
    explicit StreamRead(Handle exchange) : shared(std::make_shared<Shared>())
    {
        std::thread([shared = shared, exchange = std::move(exchange)] { read(*shared, exchange.get()); }).detach();
    }
    ~StreamRead() { shared->givenUp = true; }
    StreamRead(const StreamRead&) = delete;
    StreamRead& operator=(const StreamRead&) = delete;

    // Waits up to `ms` for bytes and moves all that came into `bytes`;
    // false once the answer has ended and everything was handed over.
    bool next(long ms, std::string& bytes)
    {
        std::unique_lock<std::mutex> lock(shared->mutex);
        shared->arrived.wait_for(lock, std::chrono::milliseconds(ms),
                                 [this] { return !shared->pending.empty() || shared->ended; });
        bytes.swap(shared->pending);
        shared->pending.clear();
        return !shared->ended || !bytes.empty();
    }

    // Once next() said the answer ended: the error that ended it (0: the server ended it).
    DWORD error()
    {
        std::lock_guard<std::mutex> lock(shared->mutex);
        return shared->failure;
    }

private:
    struct Shared {
        std::atomic<bool> givenUp{false};
        std::mutex mutex;
        std::condition_variable arrived;
        std::string pending;
        bool ended = false;
        DWORD failure = 0;
    };

    static void read(Shared& shared, HINTERNET exchange)
    {
        std::string buffer(64 * 1024, '\0');
        DWORD got = 0;
        DWORD error = 0;
        while (!shared.givenUp) {
            // Asked first, then read exactly: a read waits to fill its buffer.
            DWORD available = 0;
            if (!WinHttpQueryDataAvailable(exchange, &available) ||
                (available > 0 &&
                 !WinHttpReadData(exchange, &buffer[0], std::min<DWORD>(available, static_cast<DWORD>(buffer.size())), &got))) {
                error = GetLastError();
                break;
            }
            if (available == 0 || got == 0)
                break;
            std::lock_guard<std::mutex> lock(shared.mutex);
            shared.pending.append(buffer, 0, got);
            shared.arrived.notify_one();
        }
        std::lock_guard<std::mutex> lock(shared.mutex);
        shared.ended = true;
        shared.failure = error;
        shared.arrived.notify_one();
    }

    std::shared_ptr<Shared> shared;
};

class WinHttpClient : public HttpClient {
public:
    HttpResponse post(const HttpRequest& request) override
    {
        HttpResponse response;
        const Handle exchange = send(request);
        response.status = statusOf(exchange);
        std::string buffer(64 * 1024, '\0');
        for (;;) {
            DWORD got = 0;
            if (!WinHttpReadData(exchange.get(), &buffer[0], static_cast<DWORD>(buffer.size()), &got))
                throw HttpError(request.url + ": " + lastError("reading the answer"));
            if (got == 0)
                return response;
            response.body.append(buffer, 0, got);
        }
    }

    long postStream(const HttpRequest& request, const std::function<bool(std::string_view)>& onData,
                    const std::function<bool()>& keepGoing) override
    {
        // HTTP/1.0, so the answer comes unchunked: Wine's WinHTTP reads on
        // past the end of a chunk, which would hold each event back until
        // the next one arrives.
        Handle exchange = send(request, L"HTTP/1.0");
        const long status = statusOf(exchange);
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(request.timeoutMs);
        StreamRead stream(std::move(exchange));
        std::string bytes;
        while (stream.next(StreamPollMs, bytes)) {
            if (!bytes.empty() && !onData(bytes))
                return status;
            if (!keepGoing() || std::chrono::steady_clock::now() > deadline)
                return status;
        }
        // A quiet stream that ran its time is over, which is no failure.
        const DWORD error = stream.error();
        if (error != 0 && !isTimeout(error))
            throw HttpError(request.url + ": reading the answer failed (WinHTTP error " + std::to_string(error) + ")");
        return status;
    }

private:
    // One session and one connection per server for the client's life:
    // WinHTTP keeps a session's idle connections open and sends the next
    // request on one, so a watcher does not connect anew for each.
    HINTERNET connectionTo(const URL_COMPONENTS& parts, const std::string& url)
    {
        if (!session) {
            session = Handle(WinHttpOpen(L"vesk", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                         WINHTTP_NO_PROXY_BYPASS, 0));
            if (!session)
                throw HttpError(lastError("WinHttpOpen"));
        }
        const std::wstring server = std::wstring(parts.lpszHostName, parts.dwHostNameLength) + L":" +
                                    std::to_wstring(parts.nPort);
        auto found = connections.find(server);
        if (found != connections.end())
            return found->second.get();
        Handle connection(WinHttpConnect(session.get(), parts.lpszHostName, parts.nPort, 0));
        if (!connection)
            throw HttpError(url + ": " + lastError("connecting"));
        return connections.emplace(server, std::move(connection)).first->second.get();
    }

    // Sends the request and waits for the answer's headers.
    Handle send(const HttpRequest& request, const wchar_t* version = nullptr)
    {
        const std::wstring url = vesk_tool::fromUtf8(request.url);
        URL_COMPONENTS parts{};
        parts.dwStructSize = sizeof parts;
        wchar_t host[256] = {};
        wchar_t path[2048] = {};
        parts.lpszHostName = host;
        parts.dwHostNameLength = 256;
        parts.lpszUrlPath = path;
        parts.dwUrlPathLength = 2048;
        if (!WinHttpCrackUrl(url.c_str(), 0, 0, &parts))
            throw HttpError(request.url + ": not a URL WinHTTP can use");

        const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
        Handle exchange(WinHttpOpenRequest(connectionTo(parts, request.url), L"POST", path, version,
                                           WINHTTP_NO_REFERER, WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
        if (!exchange)
            throw HttpError(request.url + ": " + lastError("opening the request"));
        const int timeout = static_cast<int>(request.timeoutMs);
        WinHttpSetTimeouts(exchange.get(), timeout, timeout, timeout, timeout);

        std::wstring headers = L"Content-Type: application/json\r\n";
        for (const std::string& header : request.headers)
            headers += vesk_tool::fromUtf8(header) + L"\r\n";
        const DWORD size = static_cast<DWORD>(request.body.size());
        if (!WinHttpSendRequest(exchange.get(), headers.c_str(), static_cast<DWORD>(-1),
                                const_cast<char*>(request.body.data()), size, size, 0)) {
            // Only a connection never made proves the request was not seen.
            const DWORD error = GetLastError();
            const bool unsent = error == ERROR_WINHTTP_CANNOT_CONNECT || error == ERROR_WINHTTP_NAME_NOT_RESOLVED ||
                                error == ERROR_WINHTTP_SECURE_FAILURE;
            throw HttpError(request.url + ": " + lastError("the exchange"),
                            unsent ? HttpError::Stage::Connecting : HttpError::Stage::Answering);
        }
        if (!WinHttpReceiveResponse(exchange.get(), nullptr)) {
            const bool empty = GetLastError() == ERROR_WINHTTP_INVALID_SERVER_RESPONSE;
            throw HttpError(request.url + ": " + lastError("the exchange"), HttpError::Stage::Answering, empty);
        }
        return exchange;
    }

    static long statusOf(const Handle& exchange)
    {
        DWORD status = 0;
        DWORD statusSize = sizeof status;
        WinHttpQueryHeaders(exchange.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
        return static_cast<long>(status);
    }

    Handle session;
    std::map<std::wstring, Handle> connections; // by host:port; closed before the session
};

} // namespace

std::unique_ptr<HttpClient> makeHttpClient(const TlsFiles& tls)
{
    if (!tls.caFile.empty() || !tls.certFile.empty() || !tls.keyFile.empty())
        throw vesk_tool::Failure(vesk_tool::BadInput,
            "on Windows, TLS to etcd trusts the Windows certificate store: import the CA into Local Computer\\Trusted "
            "Root Certification Authorities and leave cacert, cert and key unset (client certificates are not supported "
            "here yet)");
    return std::make_unique<WinHttpClient>();
}

} // namespace vesk_fleet
