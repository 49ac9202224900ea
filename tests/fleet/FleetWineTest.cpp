// The fleet commands through WinHTTP under Wine, against the cluster the
// test harness started natively (fixture "fleet_cluster"), whose client URLs
// are in FLEET_ENDPOINTS_FILE.
#include "FakeHosts.h"
#include "FleetRun.h"

#include <gtest/gtest.h>

#include <fstream>
#include <sstream>

using namespace vesk_fleet_test;

namespace {

std::vector<std::string> clusterEndpoints()
{
    std::ifstream in(FLEET_ENDPOINTS_FILE);
    std::string line;
    std::getline(in, line);
    std::vector<std::string> endpoints;
    std::stringstream list(line);
    for (std::string item; std::getline(list, item, ',');)
        endpoints.push_back(item);
    return endpoints;
}

} // namespace

TEST(FleetWinHttp, PushThenPullReproducesTheTree)
{
    const auto endpoints = clusterEndpoints();
    ASSERT_FALSE(endpoints.empty()) << "no endpoints in " << FLEET_ENDPOINTS_FILE;
    MemoryHost source;
    MemoryHost target;
    source.set(L"wine", sampleDocument(L"wine", 30000));
    const Outcome pushed = runIn(source, command("push", "wine", endpoints));
    ASSERT_EQ(pushed.status, 0) << pushed.err;
    const Outcome pulled = runIn(target, command("pull", "wine", endpoints));
    ASSERT_EQ(pulled.status, 0) << pulled.err;
    EXPECT_EQ(target.exportInstance(L"wine"), source.exportInstance(L"wine"));
    EXPECT_EQ(target.appliedRevision(L"wine"), revisionOf(pushed));
}

TEST(FleetWinHttp, StalePushIsRefusedAndADeadEndpointIsSkipped)
{
    auto endpoints = clusterEndpoints();
    endpoints.insert(endpoints.begin(), "http://127.0.0.1:9");
    MemoryHost host;
    host.set(L"wine-race", sampleDocument(L"wine-race", 3));
    const Outcome first = runIn(host, command("push", "wine-race", endpoints));
    ASSERT_EQ(first.status, 0) << first.err;
    vesk_fleet::FleetOptions guarded = command("push", "wine-race", endpoints);
    guarded.ifRevision = revisionOf(first);
    EXPECT_EQ(runIn(host, guarded).status, 0);
    EXPECT_EQ(runIn(host, guarded).status, vesk_fleet::StaleRevision);

    const Outcome unreachable = runIn(host, command("pull", "wine-race", {"http://127.0.0.1:9"}));
    EXPECT_EQ(unreachable.status, 4);
    EXPECT_EQ(host.replacements, 0);
}
