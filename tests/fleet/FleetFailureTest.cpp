// Fleet commands against clusters of their own, which the tests break or
// lock down: etcd leaving in the middle of a pull, TLS, logins and roles.
#include "ClusterHarness.h"
#include "FakeHosts.h"
#include "FleetRun.h"

#include <gtest/gtest.h>

using namespace vesk_fleet_test;
using vesk_fleet::FleetOptions;

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
    const Outcome pulled =
        runIn(target, command("pull", "half", cluster.endpoints()), {}, hooked({"", 2, {}, [&] { cluster.stop(); }, Hook::Fate::Answered}));
    EXPECT_EQ(pulled.status, 4);
    EXPECT_NE(pulled.err.find("local registry is unchanged"), std::string::npos) << pulled.err;
    EXPECT_EQ(target.exportInstance(L"half"), before);
    EXPECT_EQ(target.appliedRevision(L"half"), applied);
    EXPECT_EQ(target.replacements, 1);
}

TEST(FleetFailure, TlsWithClientCertificatesLoginsAndARoleOfOneInstance)
{
    EtcdCluster cluster(1, true);
    cluster.addInstanceUser("vesk-locked", "locked-pw", "locked");
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

    // A user whose role grants one instance's keys works that instance, and
    // is told which range to grant for another.
    const std::map<std::string, std::string> instanceUser{{"VESK_FLEET_USER", "vesk-locked"},
                                                          {"VESK_FLEET_PASSWORD", "locked-pw"}};
    push.access.user.clear();
    pull.access.user.clear();
    host.set(L"other", sampleDocument(L"other", 1));
    push.message = "by role";
    ASSERT_EQ(runIn(host, push, instanceUser).status, 0);
    ASSERT_EQ(runIn(target, pull, instanceUser).status, 0);
    FleetOptions history = push;
    history.action = "history";
    EXPECT_NE(runIn(host, history, instanceUser).out.find("vesk-locked: by role"), std::string::npos)
        << "the etcd user is the pusher";
    for (const char* action : {"push", "pull"}) {
        FleetOptions other = push;
        other.action = action;
        other.instance = "other";
        const Outcome denied = runIn(host, other, instanceUser);
        EXPECT_EQ(denied.status, 4) << action;
        EXPECT_NE(denied.err.find("may not read 'vesk/fleet/state/other'"), std::string::npos) << denied.err;
        EXPECT_NE(denied.err.find("grant-permission ROLE read vesk/fleet/state/other"), std::string::npos) << denied.err;
    }
}
