// The fleet commands through WinHTTP under Wine, against the cluster the
// test harness started natively (fixture "fleet_cluster"), whose client URLs
// are in FLEET_ENDPOINTS_FILE.
#include "FakeHosts.h"
#include "FleetRun.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <sstream>
#include <thread>

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

TEST(FleetWinHttp, AWatcherAppliesEachPushAndStopsWhenAsked)
{
    const auto endpoints = clusterEndpoints();
    MemoryHost source;
    MemoryHost watched;
    std::atomic<bool> going{true};
    std::ostringstream out;
    std::ostringstream log;
    vesk_fleet::FleetContext context(watched, out, log);
    context.getenv = [](const char*) -> const char* { return nullptr; };
    context.keepGoing = [&] { return going.load(); };
    int status = -1;
    std::thread watcher([&] { status = vesk_fleet::runFleet(command("watch", "wine-watch", endpoints), context); });

    std::vector<std::int64_t> revisions;
    for (int count = 1; count <= 2; ++count) {
        source.set(L"wine-watch", sampleDocument(L"wine-watch", count));
        revisions.push_back(revisionOf(runIn(source, command("push", "wine-watch", endpoints))));
        for (int i = 0; i < 300 && watched.appliedRevision(L"wine-watch") != revisions.back(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        EXPECT_EQ(watched.appliedRevision(L"wine-watch"), revisions.back());
    }
    going = false;
    watcher.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(watched.exportInstance(L"wine-watch"), source.exportInstance(L"wine-watch"));
}
