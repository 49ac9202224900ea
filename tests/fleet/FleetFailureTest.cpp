// Fleet commands against clusters of their own, which the tests break or
// lock down: etcd leaving in the middle of a pull, TLS and logins.
#include "ClusterHarness.h"
#include "FakeHosts.h"
#include "FleetRun.h"

#include <gtest/gtest.h>

using namespace vesk_fleet_test;
using vesk_fleet::FleetOptions;

namespace {

// Forwards to the real client, and runs `after` once the `count`th
// request has been answered.
class InterruptedHttp : public vesk_fleet::HttpClient {
public:
    InterruptedHttp(std::unique_ptr<vesk_fleet::HttpClient> real, int count, std::function<void()> after)
        : real(std::move(real)), count(count), after(std::move(after))
    {
    }
    vesk_fleet::HttpResponse post(const vesk_fleet::HttpRequest& request) override
    {
        vesk_fleet::HttpResponse response = real->post(request);
        if (--count == 0)
            after();
        return response;
    }
    long postStream(const vesk_fleet::HttpRequest& request, const std::function<bool(std::string_view)>& onData,
                    const std::function<bool()>& keepGoing) override
    {
        return real->postStream(request, onData, keepGoing);
    }

private:
    std::unique_ptr<vesk_fleet::HttpClient> real;
    int count;
    std::function<void()> after;
};

} // namespace

TEST(FleetFailure, APullIsRefusedWholeWhenEtcdGoesAwayPartWay)
{
    EtcdCluster cluster(3);
    MemoryHost source;
    MemoryHost target;
    source.set(L"half", sampleDocument(L"half", 2));
    ASSERT_EQ(runIn(source, command("push", "half", cluster.endpoints())).status, 0);
    ASSERT_EQ(runIn(target, command("pull", "half", cluster.endpoints())).status, 0);
    const std::string before = target.exportInstance(L"half");
    const auto applied = target.appliedRevision(L"half");

    source.set(L"half", sampleDocument(L"half", 30000));
    ASSERT_EQ(runIn(source, command("push", "half", cluster.endpoints())).status, 0);
    // The manifest and the first chunk arrive, then the whole cluster stops.
    auto makeHttp = [&](const vesk_fleet::TlsFiles& tls) -> std::unique_ptr<vesk_fleet::HttpClient> {
        return std::make_unique<InterruptedHttp>(vesk_fleet::makeHttpClient(tls), 2, [&] { cluster.stop(); });
    };
    const Outcome pulled = runIn(target, command("pull", "half", cluster.endpoints()), {}, makeHttp);
    EXPECT_EQ(pulled.status, 4);
    EXPECT_NE(pulled.err.find("local registry is unchanged"), std::string::npos) << pulled.err;
    EXPECT_EQ(target.exportInstance(L"half"), before);
    EXPECT_EQ(target.appliedRevision(L"half"), applied);
    EXPECT_EQ(target.replacements, 1);
}

TEST(FleetFailure, TlsWithClientCertificatesAndALogin)
{
    EtcdCluster cluster(1, true);
    cluster.enableAuth("s3cret-pw");
    MemoryHost host;
    host.set(L"locked", sampleDocument(L"locked", 4));
    FleetOptions push = command("push", "locked", cluster.endpoints());
    push.access.caFile = cluster.certificate("ca");
    push.access.user = "root";

    const std::map<std::string, std::string> rightPassword{{"VESK_FLEET_PASSWORD", "s3cret-pw"}};
    const std::map<std::string, std::string> wrongPassword{{"VESK_FLEET_PASSWORD", "wrong-pw"}};
    const Outcome noCertificate = runIn(host, push, rightPassword);
    EXPECT_EQ(noCertificate.status, 4) << "etcd wants a client certificate";

    push.access.certFile = cluster.certificate("client");
    push.access.keyFile = cluster.certificate("client-key");
    const Outcome refused = runIn(host, push, wrongPassword);
    EXPECT_EQ(refused.status, 4);
    EXPECT_NE(refused.err.find("refused the login"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("wrong-pw"), std::string::npos) << "a password never goes into a message";

    const Outcome pushed = runIn(host, push, rightPassword);
    ASSERT_EQ(pushed.status, 0) << pushed.err;
    FleetOptions pull = push;
    pull.action = "pull";
    MemoryHost target;
    const Outcome pulled = runIn(target, pull, rightPassword);
    ASSERT_EQ(pulled.status, 0) << pulled.err;
    EXPECT_EQ(target.exportInstance(L"locked"), host.exportInstance(L"locked"));
}
