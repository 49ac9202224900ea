#include "HttpClient.h"

#include "Text.h"

#include <winsock2.h>
#include <windows.h>
#include <winhttp.h>

#include <chrono>

namespace vesk_fleet {
namespace {

// A stream waits this long for bytes before it checks whether to go on;
// WinHTTP ends the request when it passes, so a quiet stream ends there.
constexpr int StreamPollMs = 1000;

class Handle {
public:
    explicit Handle(HINTERNET handle) : handle(handle) {}
    ~Handle()
    {
        if (handle)
            WinHttpCloseHandle(handle);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HINTERNET get() const { return handle; }
    explicit operator bool() const { return handle != nullptr; }

private:
    HINTERNET handle;
};

std::string lastError(const std::string& what)
{
    return what + " failed (WinHTTP error " + std::to_string(GetLastError()) + ")";
}

class WinHttpClient : public HttpClient {
public:
    HttpResponse post(const HttpRequest& request) override
    {
        HttpResponse response;
        std::function<bool(std::string_view)> collect = [&](std::string_view bytes) {
            response.body.append(bytes);
            return true;
        };
        response.status = run(request, collect, nullptr);
        return response;
    }

    long postStream(const HttpRequest& request, const std::function<bool(std::string_view)>& onData,
                    const std::function<bool()>& keepGoing) override
    {
        return run(request, onData, &keepGoing);
    }

private:
    long run(const HttpRequest& request, const std::function<bool(std::string_view)>& onData,
             const std::function<bool()>* keepGoing)
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

        Handle session(WinHttpOpen(L"vesk", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME,
                                   WINHTTP_NO_PROXY_BYPASS, 0));
        if (!session)
            throw HttpError(lastError("WinHttpOpen"));
        const int timeout = static_cast<int>(request.timeoutMs);
        WinHttpSetTimeouts(session.get(), timeout, timeout, timeout, keepGoing ? StreamPollMs : timeout);
        Handle connection(WinHttpConnect(session.get(), host, parts.nPort, 0));
        if (!connection)
            throw HttpError(request.url + ": " + lastError("connecting"));
        const DWORD secure = parts.nScheme == INTERNET_SCHEME_HTTPS ? WINHTTP_FLAG_SECURE : 0;
        Handle exchange(WinHttpOpenRequest(connection.get(), L"POST", path, nullptr, WINHTTP_NO_REFERER,
                                           WINHTTP_DEFAULT_ACCEPT_TYPES, secure));
        if (!exchange)
            throw HttpError(request.url + ": " + lastError("opening the request"));

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

        DWORD status = 0;
        DWORD statusSize = sizeof status;
        WinHttpQueryHeaders(exchange.get(), WINHTTP_QUERY_STATUS_CODE | WINHTTP_QUERY_FLAG_NUMBER,
                            WINHTTP_HEADER_NAME_BY_INDEX, &status, &statusSize, WINHTTP_NO_HEADER_INDEX);
        read(exchange.get(), request, onData, keepGoing);
        return static_cast<long>(status);
    }

    void read(HINTERNET exchange, const HttpRequest& request, const std::function<bool(std::string_view)>& onData,
              const std::function<bool()>* keepGoing)
    {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(request.timeoutMs);
        std::string buffer(64 * 1024, '\0');
        for (;;) {
            DWORD got = 0;
            if (!WinHttpReadData(exchange, &buffer[0], static_cast<DWORD>(buffer.size()), &got)) {
                // A quiet stream: its session is over, which is no failure.
                // (Wine reports the socket's own timeout, WSAETIMEDOUT.)
                const DWORD error = GetLastError();
                if (keepGoing && (error == ERROR_WINHTTP_TIMEOUT || error == WSAETIMEDOUT))
                    return;
                throw HttpError(request.url + ": " + lastError("reading the answer"));
            }
            if (got == 0)
                return;
            if (!onData(std::string_view(buffer.data(), got)))
                return;
            if (keepGoing && (!(*keepGoing)() || std::chrono::steady_clock::now() > deadline))
                return;
        }
    }
};

} // namespace

std::unique_ptr<HttpClient> makeHttpClient(const TlsFiles& tls)
{
    if (!tls.caFile.empty() || !tls.certFile.empty() || !tls.keyFile.empty())
        throw std::invalid_argument(
            "on Windows, TLS to etcd trusts the Windows certificate store: import the CA into Local Computer\\Trusted "
            "Root Certification Authorities and leave cacert, cert and key unset (client certificates are not supported "
            "here yet)");
    return std::make_unique<WinHttpClient>();
}

} // namespace vesk_fleet
