#pragma once

#include "tools/vesk/fleet/HttpClient.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

// What the native fleet tests need around them: a real etcd cluster on
// loopback ports (started and stopped by etcd-cluster.sh, stopped on
// destruction whatever happened), and bounded waits.
namespace vesk_fleet_test {

class EtcdCluster {
public:
    // `flags`: more etcd flags for every member.
    explicit EtcdCluster(int members, bool tls = false, const std::string& flags = "");
    ~EtcdCluster();
    EtcdCluster(const EtcdCluster&) = delete;
    EtcdCluster& operator=(const EtcdCluster&) = delete;

    std::vector<std::string> endpoints() const;
    std::string endpointList() const;
    std::string certificate(const std::string& name) const; // ca, client, client-key

    // Runs etcd-cluster.sh VERB on this cluster with `arguments` (kill N,
    // restart N|all, fill, leader, compact, auth PASSWORD, role USER PASSWORD
    // PREFIX INSTANCE); what it printed, or throws when it fails.
    std::string control(const std::string& verb, const std::string& arguments = "") const;
    void stop();

private:
    std::string script(const std::string& arguments, const std::string& flags = "") const;
    std::string directory;
    bool running = false;
};

// What HookedHttp does around the `nth` request whose path ends in `path`
// (every request when empty): `before` runs before it is sent, `after` once
// it is answered, and its answer may be lost, with or without the request
// having reached etcd (then it is kept in `held`, to be sent late).
struct Hook {
    enum class Fate { Answered, AnswerLost, NeverSent };
    std::string path;
    int nth = 1;
    std::function<void()> before;
    std::function<void()> after;
    Fate fate = Fate::Answered;
    std::shared_ptr<vesk_fleet::HttpRequest> held = std::make_shared<vesk_fleet::HttpRequest>();
};

// Forwards to the real client, and does what the hook says.
class HookedHttp : public vesk_fleet::HttpClient {
public:
    HookedHttp(std::unique_ptr<vesk_fleet::HttpClient> real, Hook hook) : real(std::move(real)), hook(std::move(hook)) {}
    vesk_fleet::HttpResponse post(const vesk_fleet::HttpRequest& request) override;
    long postStream(const vesk_fleet::HttpRequest& request, const std::function<bool(std::string_view)>& onData,
                    const std::function<bool()>& keepGoing) override
    {
        return real->postStream(request, onData, keepGoing);
    }

private:
    std::unique_ptr<vesk_fleet::HttpClient> real;
    Hook hook;
};

// A FleetContext::connect that hooks the command's one client.
inline std::function<std::unique_ptr<vesk_fleet::HttpClient>(const vesk_fleet::TlsFiles&)> hooked(Hook hook)
{
    return [hook](const vesk_fleet::TlsFiles& tls) {
        return std::make_unique<HookedHttp>(vesk_fleet::makeHttpClient(tls), hook);
    };
}

// Polls `condition` every 100 ms for at most `seconds`.
bool eventually(const std::function<bool()>& condition, int seconds = 60);

std::string readText(const std::string& path);
std::string scratchDirectory(const std::string& name);

} // namespace vesk_fleet_test
