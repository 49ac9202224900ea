#pragma once

#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

// The one thing the etcd client needs from HTTP: POST a JSON body and read
// the answer, whole or as a stream. libcurl natively, WinHTTP on Windows.
namespace vesk_fleet {

struct TlsFiles {
    std::string caFile;   // trust this CA instead of the system's
    std::string certFile; // client certificate (PEM)
    std::string keyFile;  // its private key (PEM)
};

struct HttpRequest {
    std::string url;
    std::string body;
    std::vector<std::string> headers; // "Name: value"
    long timeoutMs = 5000;            // connect, and the whole exchange
};

struct HttpResponse {
    long status = 0;
    std::string body;
};

// No answer at all: refused, unreachable, timed out, TLS refused.
class HttpError : public std::runtime_error {
public:
    enum class Stage {
        Connecting, // nothing was sent: the server never saw the request
        Answering,  // the request may have arrived, and no whole answer came back
    };
    explicit HttpError(const std::string& message, Stage stage = Stage::Answering, bool emptyReply = false)
        : std::runtime_error(message), stage(stage), emptyReply(emptyReply)
    {
    }
    Stage stage;     // whether a write may have been carried out
    bool emptyReply; // the server closed the connection without a byte of answer
};

class HttpClient {
public:
    virtual ~HttpClient() = default;

    virtual HttpResponse post(const HttpRequest& request) = 0;

    // Feeds the answer's bytes to `onData` as they arrive, until the server
    // ends it, `onData` returns false, `keepGoing` returns false (checked at
    // least once a second) or `request.timeoutMs` passes; returns the status.
    // Throws HttpError when the exchange fails for any other reason.
    virtual long postStream(const HttpRequest& request, const std::function<bool(std::string_view)>& onData,
                            const std::function<bool()>& keepGoing) = 0;
};

std::unique_ptr<HttpClient> makeHttpClient(const TlsFiles& tls);

} // namespace vesk_fleet
