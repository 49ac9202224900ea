#pragma once

#include <cstdint>
#include <functional>
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

    void kill(int member);
    void restart(int member);
    void restartAll();  // every member down at once, then up
    void fillUp();      // writes until etcd raises its NOSPACE alarm (a small quota wanted)
    int leader();
    std::int64_t compact();
    void enableAuth(const std::string& password);
    void stop();

private:
    std::string script(const std::string& arguments, const std::string& flags = "") const;
    std::string directory;
    bool running = false;
};

// Polls `condition` every 100 ms for at most `seconds`.
bool eventually(const std::function<bool()>& condition, int seconds = 60);

std::string readText(const std::string& path);
std::string scratchDirectory(const std::string& name);

} // namespace vesk_fleet_test
