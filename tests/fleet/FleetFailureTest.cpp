// Fleet commands against clusters of their own, which the tests break,
// fill or lock down: etcd leaving in the middle of a pull, a full
// database, TLS, logins and roles, members that forget the logins they gave.
#include "ClusterHarness.h"
#include "FakeHosts.h"
#include "FleetRun.h"
#include "ToolChild.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace vesk_fleet_test;

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
    cluster.control("role", "vesk-locked locked-pw vesk/fleet locked");
    cluster.control("auth", "s3cret-pw");
    MemoryHost host;
    host.set(L"locked", sampleDocument(L"locked", 4));
    // TLS with a client certificate; "root" unless the environment names the user.
    auto tls = [&](const char* action, const std::string& instance, bool root, std::vector<std::string> more = {}) {
        more.insert(more.end(), {"--cacert", cluster.certificate("ca"), "--cert", cluster.certificate("client"), "--key",
                                 cluster.certificate("client-key")});
        if (root)
            more.insert(more.end(), {"--user", "root"});
        return command(action, instance, cluster.endpoints(), more);
    };
    const std::map<std::string, std::string> rightPassword{{"VESK_FLEET_PASSWORD", "s3cret-pw"}};
    const std::map<std::string, std::string> wrongPassword{{"VESK_FLEET_PASSWORD", "wrong-pw"}};
    const Outcome refused = runIn(host, tls("push", "locked", true), wrongPassword);
    EXPECT_EQ(refused.status, 4);
    EXPECT_NE(refused.err.find("refused the login"), std::string::npos) << refused.err;
    EXPECT_EQ(refused.err.find("wrong-pw"), std::string::npos) << "a password never goes into a message";

    const Outcome pushed = runIn(host, tls("push", "locked", true), rightPassword);
    ASSERT_EQ(pushed.status, 0) << pushed.err;
    MemoryHost target;
    const Outcome pulled = runIn(target, tls("pull", "locked", true), rightPassword);
    ASSERT_EQ(pulled.status, 0) << pulled.err;
    EXPECT_EQ(target.exportInstance(L"locked"), host.exportInstance(L"locked"));

    // A user whose role grants one instance's keys works that instance, and
    // is told which range to grant for another.
    const std::map<std::string, std::string> instanceUser{{"VESK_FLEET_USER", "vesk-locked"},
                                                          {"VESK_FLEET_PASSWORD", "locked-pw"}};
    host.set(L"other", sampleDocument(L"other", 1));
    ASSERT_EQ(runIn(host, tls("push", "locked", false, {"-m", "by role"}), instanceUser).status, 0);
    ASSERT_EQ(runIn(target, tls("pull", "locked", false), instanceUser).status, 0);
    EXPECT_NE(runIn(host, tls("history", "locked", false), instanceUser).out.find("vesk-locked: by role"), std::string::npos)
        << "the etcd user is the pusher";
    for (const char* action : {"push", "pull"}) {
        const Outcome denied = runIn(host, tls(action, "other", false), instanceUser);
        EXPECT_EQ(denied.status, 4) << action;
        EXPECT_NE(denied.err.find("may not read 'vesk/fleet/state/other'"), std::string::npos) << denied.err;
        EXPECT_NE(denied.err.find("grant-permission ROLE read vesk/fleet/state/other"), std::string::npos) << denied.err;
    }
}

TEST(FleetFailure, AFullClusterRefusesThePushAndKeepsItsState)
{
    EtcdCluster cluster(3, false, "--quota-backend-bytes 4194304");
    MemoryHost host;
    host.set(L"full", sampleDocument(L"full", 2));
    const std::int64_t revision = revisionOf(runIn(host, command("push", "full", cluster.endpoints())));
    ASSERT_GT(revision, 0);
    cluster.control("fill");

    host.set(L"full", sampleDocument(L"full", 3));
    const Outcome refused = runIn(host, command("push", "full", cluster.endpoints()));
    EXPECT_EQ(refused.status, 4);
    EXPECT_NE(refused.err.find("out of space"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("etcdctl alarm disarm"), std::string::npos) << refused.err;
    MemoryHost reader;
    ASSERT_EQ(runIn(reader, command("pull", "full", cluster.endpoints())).status, 0);
    EXPECT_EQ(reader.appliedRevision(L"full"), revision);
    EXPECT_EQ(reader.exportInstance(L"full"), sampleDocument(L"full", 2));
}

TEST(FleetFailure, WatchersWithALoginOutliveARestartOfEveryMember)
{
    // Few entries between snapshots: restarted members forget the tokens they gave.
    EtcdCluster cluster(3, false, "--snapshot-count 5");
    cluster.control("auth", "w4tch-pw");
    const std::map<std::string, std::string> login{{"VESK_FLEET_USER", "root"}, {"VESK_FLEET_PASSWORD", "w4tch-pw"}};
    const std::string work = scratchDirectory("fleet-relogin");
    for (const auto& [name, value] : login)
        setenv(name.c_str(), value.c_str(), 1);
    std::vector<std::unique_ptr<tool_test::ToolChild>> watchers;
    for (const std::string& endpoints : {cluster.endpoints().front(), cluster.endpointList()}) {
        const std::string store = work + "/" + std::to_string(watchers.size());
        setenv("KESTLIB_REGISTRY", (store + ".db").c_str(), 1);
        watchers.push_back(std::make_unique<tool_test::ToolChild>(
            VESK_TOOL,
            std::vector<std::wstring>{L"fleet", L"watch", L"--instance", L"relog", L"--endpoints",
                                      std::wstring(endpoints.begin(), endpoints.end())},
            store + ".out", store + ".log"));
    }
    for (const char* name : {"VESK_FLEET_USER", "VESK_FLEET_PASSWORD", "KESTLIB_REGISTRY"})
        unsetenv(name);

    MemoryHost source;
    auto pushAndSeeApplied = [&](int count) {
        source.set(L"relog", sampleDocument(L"relog", count));
        std::int64_t revision = -1;
        eventually([&] { return (revision = revisionOf(runIn(source, command("push", "relog", cluster.endpoints()), login))) > 0; }, 30);
        const std::string line = "applied revision " + std::to_string(revision) + " ";
        for (std::size_t i = 0; i < watchers.size(); ++i)
            EXPECT_TRUE(eventually([&] { return readText(work + "/" + std::to_string(i) + ".log").find(line) != std::string::npos; }))
                << "watcher " << i << " at revision " << revision << ":\n" << readText(work + "/" + std::to_string(i) + ".log");
    };
    for (int count = 1; count <= 8; ++count) // past the snapshot count
        pushAndSeeApplied(count);

    cluster.control("restart", "all");
    pushAndSeeApplied(9);
    for (auto& watcher : watchers)
        EXPECT_EQ(watcher->terminate(), 0);
    std::filesystem::remove_all(work);
}
