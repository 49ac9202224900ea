// The fleet commands against a real 3-member etcd cluster on loopback ports.
#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/StopSignal.h"
#include "ClusterHarness.h"
#include "FakeHosts.h"
#include "FleetRun.h"
#include "ToolChild.h"

#include <gtest/gtest.h>
#include <sqlite3.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <algorithm>
#include <atomic>
#include <memory>
#include <sstream>
#include <thread>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace vesk_fleet_test;
using Words = std::vector<std::string>;

namespace {

class FleetCluster : public ::testing::Test {
protected:
    static void SetUpTestSuite() { cluster = std::make_unique<EtcdCluster>(3); }
    static void TearDownTestSuite() { cluster.reset(); }

    Words on(const std::string& action, const std::string& instance, const Words& more = {})
    {
        return command(action, instance, cluster->endpoints(), more);
    }
    std::int64_t push(MemoryHost& host, const std::string& instance)
    {
        const Outcome outcome = runIn(host, on("push", instance));
        EXPECT_EQ(outcome.status, 0) << outcome.err;
        return revisionOf(outcome);
    }

    // The real tool on a store of its own (a KESTLIB_REGISTRY file), keeping
    // chunks, which the runs in process do not.
    static Outcome vesk(const std::string& store, const std::string& arguments, const std::string& environment = "")
    {
        const std::string command = "KESTLIB_REGISTRY=" + store + " VESK_FLEET_CACHE= VESK_FLEET_ENDPOINTS=" + cluster->endpointList() +
                                    " " + environment + " " VESK_TOOL " " + arguments + " >" + store + ".out 2>" + store +
                                    ".err";
        const int raw = std::system(command.c_str());
        return Outcome{WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, readText(store + ".out"), readText(store + ".err")};
    }
    // `vesk fleet watch ARGUMENTS` on `store` (a KESTLIB_REGISTRY file), its output in `log`.out and `log`.log.
    static std::unique_ptr<tool_test::ToolChild> startWatch(const std::string& store, const std::string& log,
                                                            std::vector<std::wstring> arguments)
    {
        setenv("VESK_FLEET_ENDPOINTS", cluster->endpointList().c_str(), 1);
        setenv("KESTLIB_REGISTRY", store.c_str(), 1);
        arguments.insert(arguments.begin(), {L"fleet", L"watch"});
        return std::make_unique<tool_test::ToolChild>(VESK_TOOL, arguments, log + ".out", log + ".log");
    }
    static bool atRevision(const std::string& store, const std::string& instance, std::int64_t revision)
    {
        const Outcome status = vesk(store, "--instance " + instance + " fleet status");
        return status.out.find("at revision " + std::to_string(revision) + ",") != std::string::npos;
    }

    static std::unique_ptr<vesk_fleet::EtcdClient> client()
    {
        vesk_fleet::EtcdSettings settings;
        settings.endpoints = cluster->endpoints();
        return std::make_unique<vesk_fleet::EtcdClient>(settings, vesk_fleet::makeHttpClient({}));
    }

    static std::unique_ptr<EtcdCluster> cluster;
};

std::unique_ptr<EtcdCluster> FleetCluster::cluster;

} // namespace

TEST_F(FleetCluster, IfRevisionRefusesAStalePush)
{
    MemoryHost first;
    MemoryHost second;
    first.set(L"race", sampleDocument(L"race", 5));
    second.set(L"race", sampleDocument(L"race", 6));
    const std::int64_t base = push(first, "race");

    const Words guarded = on("push", "race", {"--if-revision", std::to_string(base)});
    const Outcome winner = runIn(first, guarded);
    ASSERT_EQ(winner.status, 0) << winner.err;
    const Outcome loser = runIn(second, guarded);
    EXPECT_EQ(loser.status, vesk_fleet::StaleRevision);
    EXPECT_NE(loser.err.find("it is at " + winner.out.substr(0, winner.out.size() - 1)), std::string::npos) << loser.err;

    MemoryHost reader;
    runIn(reader, on("pull", "race"));
    EXPECT_EQ(reader.exportInstance(L"race"), first.exportInstance(L"race"));
}

TEST_F(FleetCluster, HistoryAndRollbackOutliveCompaction)
{
    MemoryHost host;
    std::vector<std::int64_t> revisions;
    for (int i = 1; i <= 3; ++i) {
        host.set(L"hist", sampleDocument(L"hist", 3, L"s" + std::to_wstring(i)));
        revisions.push_back(revisionOf(runIn(host, on("push", "hist", {"-m", "step " + std::to_string(i)}))));
    }
    cluster->control("compact");
    const Outcome history = runIn(host, on("history", "hist"));
    EXPECT_EQ(history.status, 0);
    EXPECT_LT(history.out.find(std::to_string(revisions[2])), history.out.find(std::to_string(revisions[0])))
        << "newest first:\n" << history.out;
    EXPECT_NE(history.out.find(": step 1\n"), std::string::npos) << history.out;

    const Outcome rolled = runIn(host, on("rollback", "hist", {"--to", std::to_string(revisions[0])}));
    ASSERT_EQ(rolled.status, 0) << rolled.err;
    MemoryHost reader;
    runIn(reader, on("pull", "hist"));
    EXPECT_EQ(reader.exportInstance(L"hist"), sampleDocument(L"hist", 3, L"s1"));
    EXPECT_EQ(reader.appliedRevision(L"hist"), revisionOf(rolled));

    EXPECT_EQ(runIn(host, on("rollback", "hist", {"--to", std::to_string(revisions[0] + 1)})).status, 1) << "a revision that wrote some other key";
}

// Pushes that would empty or halve the instance need --force; a document that
// does not read is refused whatever; neither publishes anything.
TEST_F(FleetCluster, PushesThatEmptyOrHalveTheInstanceNeedForceAndBadDocumentsAreRefused)
{
    MemoryHost host;
    const struct {
        int values;
        bool force;
        int status;
        const char* says;
    } rows[] = {{10, false, 0, ""},
                {4, false, 2, "delete 6 of the 10 values"},
                {0, false, 2, "holds no values (it would delete 10 of the 10"},
                {5, false, 0, ""}, // half is not more than half
                {0, true, 0, ""},
                {0, false, 2, "holds no values"}};
    for (const auto& row : rows) {
        host.set(L"guard", sampleDocument(L"guard", row.values));
        const Outcome outcome = runIn(host, on("push", "guard", row.force ? Words{"--force"} : Words{}));
        EXPECT_EQ(outcome.status, row.status) << row.values << ": " << outcome.err;
        EXPECT_NE(outcome.err.find(row.says), std::string::npos) << outcome.err;
    }
    const std::string file = scratchDirectory("fleet-bad") + "/bad.reg";
    std::ofstream(file) << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\X]\n\"a\"=dword:zz\n";
    const Outcome refused = runIn(host, on("push", "guard", {"--file", file}));
    EXPECT_EQ(refused.status, 2);
    EXPECT_NE(refused.err.find("fleet document:4:"), std::string::npos) << refused.err;
    MemoryHost reader;
    EXPECT_EQ(runIn(reader, on("pull", "guard")).status, 0);
    EXPECT_EQ(reader.exportInstance(L"guard"), sampleDocument(L"guard", 0));
    std::filesystem::remove_all(std::filesystem::path(file).parent_path());
}

// gc and a push, each run in the middle of the other's transaction.
TEST_F(FleetCluster, GcBesideAPushLeavesEveryKeptRevisionWhole)
{
    for (const bool gcInsidePush : {true, false}) {
        const std::string instance = gcInsidePush ? "gc1" : "gc2";
        MemoryHost host;
        const Words gc = on("gc", instance, {"--keep", "1"});
        // Two states of several chunks each; the push sends the older one again.
        host.set(vesk_tool::fromUtf8(instance), sampleDocument(vesk_tool::fromUtf8(instance), 30000, L"b"));
        push(host, instance);
        MemoryHost newer;
        newer.set(vesk_tool::fromUtf8(instance), sampleDocument(vesk_tool::fromUtf8(instance), 30000, L"a"));
        push(newer, instance);

        Outcome pushed;
        Outcome collected;
        auto runPush = [&] { pushed = runIn(host, on("push", instance)); };
        auto runGc = [&] { collected = runIn(host, gc); };
        if (gcInsidePush)
            pushed = runIn(host, on("push", instance), {}, hooked({"/kv/txn", 1, runGc, {}, Hook::Fate::Answered}));
        else
            collected = runIn(host, gc, {}, hooked({"/kv/txn", 1, runPush, {}, Hook::Fate::Answered}));
        EXPECT_EQ(pushed.status, 0) << pushed.err;
        EXPECT_EQ(collected.status, 0) << collected.err;

        MemoryHost reader;
        ASSERT_EQ(runIn(reader, on("pull", instance)).status, 0);
        EXPECT_EQ(reader.exportInstance(vesk_tool::fromUtf8(instance)), host.exportInstance(vesk_tool::fromUtf8(instance)));
        auto etcd = client();
        vesk_fleet::FleetStore store(*etcd, "vesk/fleet");
        for (const vesk_fleet::Published& kept : store.history(instance, 10))
            EXPECT_NO_THROW(store.content(kept.manifest)) << kept.revision;
    }
}

// The answer to the manifest's transaction lost after etcd applied it, and
// the request lost before it got there: what the push says is what is so.
TEST_F(FleetCluster, APushWhoseAnswerIsLostSaysWhetherItLanded)
{
    MemoryHost host;
    host.set(L"lost", sampleDocument(L"lost", 3));
    push(host, "lost");
    const std::vector<std::string> one{cluster->endpoints()[0]};
    for (const Hook::Fate fate : {Hook::Fate::AnswerLost, Hook::Fate::NeverSent}) {
        host.set(L"lost", sampleDocument(L"lost", 3, fate == Hook::Fate::AnswerLost ? L"x" : L"y"));
        const Hook hook{"/kv/txn", 1, {}, {}, fate};
        const Outcome outcome = runIn(host, command("push", "lost", one), {}, hooked(hook));
        if (fate == Hook::Fate::NeverSent) {
            EXPECT_EQ(outcome.status, 4);
            EXPECT_NE(outcome.err.find("did not land; nothing was changed"), std::string::npos) << outcome.err;
            vesk_fleet::makeHttpClient({})->post(*hook.held); // arriving late, it must change nothing
        }
        MemoryHost reader;
        runIn(reader, on("pull", "lost"));
        if (fate == Hook::Fate::AnswerLost) {
            EXPECT_EQ(outcome.status, 0) << outcome.err;
            EXPECT_EQ(reader.appliedRevision(L"lost"), revisionOf(outcome));
        }
        EXPECT_EQ(reader.exportInstance(L"lost"), sampleDocument(L"lost", 3, L"x"));
    }
    push(host, "lost"); // the fence stops only the push that lost its answer
}

TEST_F(FleetCluster, UnreachableEtcdLeavesTheHostAlone)
{
    MemoryHost host;
    host.set(L"lonely", sampleDocument(L"lonely", 2));
    for (const char* action : {"push", "pull", "status", "history"}) {
        const Outcome outcome = runIn(host, command(action, "lonely", {"http://127.0.0.1:9", "127.0.0.1:1"}));
        EXPECT_EQ(outcome.status, 4) << action;
        EXPECT_NE(outcome.err.find("cannot be reached"), std::string::npos) << action << ": " << outcome.err;
    }

    // A member that accepts connections and never answers: the timeout.
    const int silent = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&address), size), 0);
    ASSERT_EQ(listen(silent, 4), 0);
    getsockname(silent, reinterpret_cast<sockaddr*>(&address), &size);
    const std::string endpoint = "127.0.0.1:" + std::to_string(ntohs(address.sin_port));
    const Outcome timedOut = runIn(host, command("pull", "lonely", {endpoint}), {{"VESK_FLEET_TIMEOUT_MS", "300"}});
    EXPECT_EQ(timedOut.status, 4);
    EXPECT_NE(timedOut.err.find("imeout"), std::string::npos) << timedOut.err;
    // A write the silent member may have taken is not sent on; one refused
    // before it was sent is.
    vesk_fleet::EtcdSettings settings;
    settings.endpoints = {endpoint, cluster->endpoints().front()};
    settings.timeoutMs = 300;
    vesk_fleet::EtcdClient etcd(settings, vesk_fleet::makeHttpClient({}));
    try {
        etcd.put("vesk-test/lost", "x");
        ADD_FAILURE() << "a write sent on after its answer was lost";
    } catch (const vesk_fleet::EtcdError& error) {
        EXPECT_EQ(static_cast<int>(error.kind), static_cast<int>(vesk_fleet::EtcdError::Kind::AnswerLost)) << error.what();
    }
    settings.endpoints = {"127.0.0.1:9", cluster->endpoints().front()};
    EXPECT_GT(vesk_fleet::EtcdClient(settings, vesk_fleet::makeHttpClient({})).put("vesk-test/lost", "x"), 0);
    close(silent);
    EXPECT_EQ(host.replacements, 0);
}

TEST_F(FleetCluster, WatchersConvergeAndOutliveALostLeaderAndARestartedMember)
{
    const std::string work = scratchDirectory("fleet-watch");
    std::vector<std::unique_ptr<tool_test::ToolChild>> watchers;
    for (const std::string store : {"/b", "/c"})
        watchers.push_back(startWatch(work + store + ".db", work + store, {L"--instance", L"conv"}));
    MemoryHost source;
    auto converged = [&](std::int64_t revision) {
        return eventually([&] { return atRevision(work + "/b.db", "conv", revision) && atRevision(work + "/c.db", "conv", revision); });
    };
    // Pushes while members fail may meet an election: the operator retries.
    auto pushAgain = [&](int count) {
        source.set(L"conv", sampleDocument(L"conv", count));
        std::int64_t revision = -1;
        eventually([&] { return (revision = revisionOf(runIn(source, on("push", "conv")))) > 0; }, 30);
        return revision;
    };

    std::vector<std::int64_t> revisions{pushAgain(1)};
    ASSERT_TRUE(converged(revisions.back()));

    const int leader = std::stoi(cluster->control("leader"));
    cluster->control("kill", std::to_string(leader));
    revisions.push_back(pushAgain(2));
    ASSERT_TRUE(converged(revisions.back())) << readText(work + "/b.log");

    cluster->control("restart", std::to_string(leader));
    cluster->control("kill", std::to_string((leader + 1) % 3));
    revisions.push_back(pushAgain(3));
    ASSERT_TRUE(converged(revisions.back())) << readText(work + "/b.log");
    cluster->control("restart", std::to_string((leader + 1) % 3));
    EXPECT_EQ(vesk(work + "/b.db", "--instance conv export").out, vesk(work + "/c.db", "--instance conv export").out);

    for (std::size_t i = 0; i < watchers.size(); ++i) {
        EXPECT_EQ(watchers[i]->terminate(), 0) << "watcher " << i;
        const std::string log = readText(work + (i == 0 ? "/b.log" : "/c.log"));
        for (std::int64_t revision : revisions) {
            const std::string line = "applied revision " + std::to_string(revision) + " ";
            EXPECT_NE(log.find(line), std::string::npos) << log;
            EXPECT_EQ(log.find(line), log.rfind(line)) << "one line per revision:\n" << log;
        }
        EXPECT_NE(log.find("stopped"), std::string::npos) << log;
    }
    std::filesystem::remove_all(work);
}

// Over 1 MiB the document goes as many chunks, and is pulled under another
// spelling of the instance's name. A host keeps the chunks it fetched: after a
// one-value push it fetches the one chunk that changed, and a damaged cached
// chunk is fetched again.
TEST_F(FleetCluster, APullReproducesTheTreeAndFetchesOnlyTheChunksItLacksOrHoldsDamaged)
{
    const std::string work = scratchDirectory("fleet-cache");
    std::filesystem::create_directories(work + "/a");
    std::filesystem::create_directories(work + "/b");
    const std::string a = work + "/a/a.db", b = work + "/b/b.db", pushed = work + "/pushed.reg";
    std::string document = sampleDocument(L"Ärzte", 30000);
    std::ofstream(pushed, std::ios::binary) << document << std::flush;
    ASSERT_EQ(vesk(a, "--instance Ärzte import " + pushed).status, 0);
    const Outcome first = vesk(a, "--instance Ärzte fleet push --file " + pushed); // as the second push, below
    ASSERT_EQ(first.status, 0) << first.err;

    ASSERT_EQ(vesk(b, "--instance ärzte set Stale Gone x --type string").status, 0);
    const Outcome preview = vesk(b, "--instance ärzte fleet pull --dry-run", "VESK_FLEET_CACHE=off");
    EXPECT_NE(preview.out.find("\"Gone\"=\"x\""), std::string::npos) << preview.out;
    EXPECT_NE(preview.out.find("\"Setting29999\"=\"v29999\""), std::string::npos);
    auto fetched = [&](const std::string& environment) {
        const Outcome pulled = vesk(b, "fleet pull --instance ärzte", environment);
        EXPECT_EQ(pulled.status, 0) << pulled.err;
        const std::size_t at = pulled.out.find("(fetched ");
        if (at == std::string::npos)
            return std::string("none");
        return pulled.out.substr(at + 9, pulled.out.find(" chunks", at) - at - 9);
    };
    const std::string all = fetched("");
    const std::string chunks = all.substr(all.find(" of ") + 4);
    ASSERT_GT(std::stoi(chunks), 4) << all;
    EXPECT_EQ(all, chunks + " of " + chunks);
    EXPECT_EQ(vesk(b, "--instance ärzte export").out, vesk(a, "--instance ärzte export").out) << "values the fleet lacks go";
    EXPECT_TRUE(atRevision(b, "ÄRZTE", revisionOf(first)));
    EXPECT_NE(vesk(b, "--instance ärzte fleet status").out.find("(up to date)"), std::string::npos);
    EXPECT_EQ(fetched(""), "0 of " + chunks);

    // Value 15000 becomes longer: the chunks after it keep their bytes.
    const std::string value = vesk_tool::toUtf16le(L"=\"v15000\"");
    document.replace(document.find(value), value.size(), vesk_tool::toUtf16le(L"=\"longer 15000\""));
    std::ofstream(pushed, std::ios::binary | std::ios::trunc) << document;
    ASSERT_EQ(vesk(a, "--instance Ärzte fleet push --file " + pushed).status, 0);
    EXPECT_EQ(fetched(""), "1 of " + chunks);

    for (const auto& entry : std::filesystem::directory_iterator(work + "/b/vesk/chunks"))
        std::fstream(entry.path(), std::ios::in | std::ios::out | std::ios::binary).write("X", 1);
    EXPECT_EQ(fetched(""), chunks + " of " + chunks) << "every damaged chunk is fetched again";
    EXPECT_NE(vesk(b, "--instance ärzte export").out.find(vesk_tool::toUtf16le(L"\"longer 15000\"")), std::string::npos);
    EXPECT_EQ(fetched("VESK_FLEET_CACHE=off"), chunks + " of " + chunks);
    std::filesystem::remove_all(work);
}

TEST_F(FleetCluster, ADamagedChunkIsRefusedBeforeTheHostIsTouched)
{
    MemoryHost source;
    source.set(L"damaged", sampleDocument(L"damaged", 30000));
    push(source, "damaged");
    auto etcd = client();
    vesk_fleet::FleetStore store(*etcd, "vesk/fleet");
    const auto state = store.read("damaged");
    ASSERT_TRUE(state);
    ASSERT_GT(state->manifest.chunks.size(), 1u);
    const std::string chunk = store.chunkKey(state->manifest, state->manifest.chunks[1]);
    etcd->put(chunk, "not the bytes named");

    MemoryHost target;
    const Outcome pulled = runIn(target, on("pull", "damaged"));
    EXPECT_EQ(pulled.status, 4);
    EXPECT_NE(pulled.err.find("etcdctl del " + chunk), std::string::npos) << pulled.err;
    EXPECT_EQ(target.replacements, 0);

    etcd->commit({}, {{chunk, std::nullopt, ""}});
    ASSERT_EQ(runIn(source, on("push", "damaged", {"--force"})).status, 0); // what it replaces cannot be read to count
    EXPECT_EQ(runIn(target, on("pull", "damaged")).status, 0) << "removing the chunk and pushing again mends it";
    EXPECT_EQ(target.exportInstance(L"damaged"), source.exportInstance(L"damaged"));
}

// A state pushed by a vesk of the first format, whose chunks every
// instance shared, is still pulled and rolled back to.
TEST_F(FleetCluster, AStateOfTheFirstFormatIsStillRead)
{
    const std::string document = sampleDocument(L"old", 2);
    const std::string digest = vesk_fleet::sha256Hex(document);
    auto etcd = client();
    etcd->put("vesk/fleet/chunks/" + digest, document);
    const std::int64_t first = etcd->put("vesk/fleet/state/old", R"({"format":1,"bytes":)" + std::to_string(document.size()) +
                                                                    R"(,"sha256":")" + digest + R"(","chunks":[")" + digest + R"("]})");
    MemoryHost host;
    ASSERT_EQ(runIn(host, on("pull", "old")).status, 0);
    EXPECT_EQ(host.exportInstance(L"old"), document);
    host.set(L"old", sampleDocument(L"old", 3));
    push(host, "old");
    const Outcome rolled = runIn(host, on("rollback", "old", {"--to", std::to_string(first)}));
    ASSERT_EQ(rolled.status, 0) << rolled.err;
    MemoryHost reader;
    runIn(reader, on("pull", "old"));
    EXPECT_EQ(reader.exportInstance(L"old"), document);
}

TEST_F(FleetCluster, LocalChangesAreSeenRefusedAndSavedAndAPullWritesOnlyWhatDiffers)
{
    const std::string work = scratchDirectory("fleet-drift");
    const std::string a = work + "/a.db", b = work + "/b.db";
    std::ofstream(work + "/d.reg", std::ios::binary) << sampleDocument(L"drift", 5);
    ASSERT_EQ(vesk(a, "--instance drift import " + work + "/d.reg").status, 0);
    ASSERT_EQ(vesk(a, "--instance drift fleet push").status, 0);
    ASSERT_EQ(vesk(b, "--instance drift fleet pull").status, 0);
    const std::string store = readText(b) + readText(b + "-wal");
    const Outcome same = vesk(b, "--instance drift fleet pull");
    EXPECT_NE(same.out.find(": 0 values set, 0 deleted, 0 keys removed"), std::string::npos) << same.out;
    EXPECT_TRUE(readText(b) + readText(b + "-wal") == store) << "a pull of the revision applied writes nothing";

    ASSERT_EQ(vesk(b, "--instance drift set Fleet Setting1 local --type string").status, 0);
    EXPECT_NE(vesk(b, "--instance drift fleet status").out.find("drifted: 1 value changed"), std::string::npos);
    EXPECT_NE(vesk(b, "--instance drift fleet status --diff").out.find("+[HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly"
                                                                       "\\Orvane\\drift\\Fleet] \"Setting1\"=\"local\""),
              std::string::npos);
    ASSERT_EQ(vesk(a, "--instance drift set Fleet Setting2 fleet --type string").status, 0);
    const Outcome warned = vesk(a, "--instance drift fleet push --dry-run");
    EXPECT_EQ(warned.out, "-[HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\drift\\Fleet] \"Setting2\"=\"v2\"\n"
                          "+[HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\drift\\Fleet] \"Setting2\"=\"fleet\"\n");
    ASSERT_EQ(vesk(a, "--instance drift fleet push").status, 0);

    const Outcome refused = vesk(b, "--instance drift fleet pull");
    EXPECT_EQ(refused.status, 3);
    EXPECT_NE(refused.err.find("\"Setting1\"=\"local\""), std::string::npos) << refused.err;
    EXPECT_EQ(vesk(b, "--instance drift get Fleet Setting1").out, "local\n");
    EXPECT_NE(vesk(b, "--instance drift fleet push --dry-run").err.find("warning: 1 value changed"), std::string::npos);

    // Each overwrite of local changes, by pull --force or by a watcher, saves them first and names the file.
    auto savedHoldsLocal = [](const std::string& text) {
        const std::size_t at = text.find("saved to ");
        const std::string file = at == std::string::npos ? "" : text.substr(at + 9, text.find('\n', at) - at - 9);
        return readText(file).find(vesk_tool::toUtf16le(L"\"Setting1\"=\"local\"")) != std::string::npos;
    };
    const Outcome forced = vesk(b, "--instance drift fleet pull --force");
    EXPECT_EQ(forced.status, 0) << forced.err;
    EXPECT_TRUE(savedHoldsLocal(forced.out)) << forced.out;
    EXPECT_NE(forced.out.find(": 2 values set, 0 deleted, 0 keys removed"), std::string::npos) << forced.out;
    EXPECT_EQ(vesk(b, "--instance drift get Fleet Setting2").out, "fleet\n");

    ASSERT_EQ(vesk(b, "--instance drift set Fleet Setting1 local --type string").status, 0);
    const auto watcher = startWatch(b, work + "/w", {L"--instance", L"drift"});
    ASSERT_EQ(vesk(a, "--instance drift set Fleet Setting3 watched --type string").status, 0);
    const std::int64_t revision = revisionOf(vesk(a, "--instance drift fleet push"));
    EXPECT_TRUE(eventually([&] { return atRevision(b, "drift", revision); }));
    EXPECT_EQ(watcher->terminate(), 0);
    EXPECT_TRUE(savedHoldsLocal(readText(work + "/w.log"))) << readText(work + "/w.log");
    std::filesystem::remove_all(work);
}

// A pull that finds the instance as applied reads only the lines a revision
// changed when it can: each revision below, pulled onto the one before,
// must leave what the whole document says, record a state a local change
// is still told from, and take the whole document when a few lines cannot
// tell (a name set twice, a key line among the values).
TEST_F(FleetCluster, APullOfAFewChangedLinesLeavesWhatTheWholeDocumentSays)
{
    const std::string work = scratchDirectory("fleet-lines");
    const std::string a = work + "/a.db", b = work + "/b.db";
    const std::wstring key = L"[HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\lines\\";
    const std::wstring other = L"\r\n" + key + L"Other]\r\n\"o\"=\"1\"\r\n";
    const std::wstring hex = L"\"c\"=hex:01,02,\\\r\n  03\r\n";
    const std::vector<std::pair<std::string, std::wstring>> revisions{
        {"first", L"\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n" + hex + L"\"d\"=\"4\"\r\n" + other},
        {"a value changed", L"\"a\"=\"1\"\r\n\"b\"=\"X\"\r\n" + hex + L"\"d\"=\"4\"\r\n" + other},
        {"a value deleted", L"\"a\"=\"1\"\r\n" + hex + L"\"d\"=\"4\"\r\n" + other},
        {"a continued line changed", L"\"a\"=\"1\"\r\n\"c\"=hex:01,02,\\\r\n  04\r\n\"d\"=\"4\"\r\n" + other},
        {"a new line of a name set further down", L"\"a\"=\"1\"\r\n\"D\"=\"5\"\r\n" + hex + L"\"d\"=\"4\"\r\n" + other},
        {"a line of a document setting a name twice", L"\"a\"=\"1\"\r\n\"D\"=\"6\"\r\n" + hex + L"\"d\"=\"4\"\r\n" + other},
        {"plain again", L"\"a\"=\"1\"\r\n" + hex + L"\"d\"=\"4\"\r\n" + other},
        {"a key line among the values", L"\"a\"=\"1\"\r\n" + key + L"Added]\r\n" + hex + L"\"d\"=\"4\"\r\n" + other},
    };
    for (const auto& [what, body] : revisions) {
        const std::string file = work + "/r.reg";
        std::ofstream(file, std::ios::binary)
            << "\xFF\xFE" + vesk_tool::toUtf16le(L"Windows Registry Editor Version 5.00\r\n\r\n" + key + L"Fleet]\r\n" + body);
        ASSERT_EQ(vesk(a, "--instance lines fleet push --force --file " + file).status, 0) << what;
        const Outcome pulled = vesk(b, "--instance lines fleet pull");
        ASSERT_EQ(pulled.status, 0) << what << ": " << pulled.err;
        EXPECT_EQ(vesk(b, "--instance lines fleet pull --dry-run").out, "") << what;
        EXPECT_NE(vesk(b, "--instance lines fleet status").out.find("(up to date)"), std::string::npos) << what;
    }
    ASSERT_EQ(vesk(b, "--instance lines set Added d 5 --type string").status, 0);
    EXPECT_NE(vesk(b, "--instance lines fleet status").out.find("drifted: 1 value changed"), std::string::npos);
    std::filesystem::remove_all(work);
}

// Each watcher reports its host under a lease, renewed while it waits:
// `hosts` lists both, newest first, and again after etcd lost their leases;
// a watcher stopped leaves the list at once, a killed one when its lease
// expires. status names this host's report.
TEST_F(FleetCluster, HostsListsEachWatcherUntilItStopsOrItsLeaseExpires)
{
    const std::string work = scratchDirectory("fleet-hosts");
    MemoryHost source;
    source.set(L"hosts", sampleDocument(L"hosts", 2));
    const std::int64_t revision = push(source, "hosts");
    auto listed = [&](const std::string& state = "up to date") {
        std::string names;
        const auto list = nlohmann::json::parse(vesk(work + "/x.db", "fleet hosts --instance hosts --json").out);
        for (const auto& host : list["hosts"])
            if (host["state"] == state && host["revision"] == revision && host["version"] != "")
                names += host["host"].get<std::string>() + " ";
        return names;
    };
    setenv("VESK_FLEET_LEASE_TTL", "3", 1);
    std::vector<std::unique_ptr<tool_test::ToolChild>> watchers;
    for (const std::string name : {"web-01", "web/02"}) {
        const std::string store = work + "/" + name.substr(4);
        watchers.push_back(startWatch(store + ".db", store, {L"--instance", L"hosts", L"--host-name", vesk_tool::fromUtf8(name)}));
        ASSERT_TRUE(eventually([&] { return listed().find(name) != std::string::npos; }, 30)) << listed();
        std::this_thread::sleep_for(std::chrono::milliseconds(1100)); // the next state is a second newer
    }
    unsetenv("VESK_FLEET_LEASE_TTL");
    std::this_thread::sleep_for(std::chrono::seconds(3)); // past the TTL: only renewals keep them
    EXPECT_EQ(listed(), "web/02 web-01 ") << "newest first";
    EXPECT_TRUE(client()->get("vesk/fleet/hosts/hosts/web%2F02").found) << "the agreed key, its '/' escaped";
    const std::string table = vesk(work + "/x.db", "fleet hosts --all").out;
    const std::size_t at = table.find("\nhosts ");
    const std::string row = table.substr(at + 1, table.find('\n', at + 1) - at - 1); // the newest: web/02
    for (const std::string& cell : {std::string("web/02 "), std::string(" default "), " " + std::to_string(revision) + " ", std::string(" up to date ")})
        EXPECT_NE(row.find(cell), std::string::npos) << cell << " in\n" << table;
    const Outcome status = vesk(work + "/01.db", "fleet status --instance hosts --host-name WEB-01");
    EXPECT_NE(status.out.find("host WEB-01 reports: up to date at revision " + std::to_string(revision)), std::string::npos) << status.out;
    const auto json = nlohmann::json::parse(vesk(work + "/01.db", "fleet status --instance hosts --host-name web-01 --json").out);
    EXPECT_EQ(json["state"], "up to date");
    EXPECT_EQ(json["applied"]["revision"], revision);
    EXPECT_EQ(json["report"]["host"], "web-01");

    const std::string etcdctl = "ETCDCTL_API=3 etcdctl --endpoints " + cluster->endpointList() + " lease ";
    ASSERT_EQ(std::system(("for id in $(" + etcdctl + "list | tail -n +2); do " + etcdctl + "revoke $id; done >/dev/null").c_str()), 0);
    EXPECT_TRUE(eventually([&] { return listed() == "web/02 web-01 "; }, 10)) << "written again under new leases: " << listed();
    EXPECT_EQ(watchers[1]->terminate(), 0);
    EXPECT_EQ(listed(), "web-01 ") << "a stopped watcher's host leaves at once";
    const std::string bad = "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\X]\n\"a\"=dword:zz\n";
    const std::string digest = vesk_fleet::sha256Hex(bad);
    client()->put("vesk/fleet/chunks/" + digest, bad);
    client()->put("vesk/fleet/state/hosts", R"({"format":1,"bytes":)" + std::to_string(bad.size()) + R"(,"sha256":")" +
                                                digest + R"(","chunks":[")" + digest + R"("]})");
    EXPECT_TRUE(eventually([&] { return listed("failing") == "web-01 "; }, 15)) << "a revision the registry refuses";
    // A store that takes no write: failing, with the store's own words.
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((work + "/01.db").c_str(), &db), SQLITE_OK);
    for (const char* write : {"INSERT", "UPDATE", "DELETE"})
        sqlite3_exec(db, (std::string("CREATE TRIGGER no_") + write + " BEFORE " + write + " ON registry_values BEGIN " +
                          "SELECT RAISE(ABORT, 'this store takes no writes'); END").c_str(), nullptr, nullptr, nullptr);
    sqlite3_close(db);
    source.set(L"hosts", sampleDocument(L"hosts", 2, L"new"));
    ASSERT_EQ(runIn(source, on("push", "hosts", {"--force"})).status, 0); // the state it replaces does not read
    EXPECT_TRUE(eventually([&] { return listed("failing") == "web-01 " &&
                                        vesk(work + "/x.db", "fleet hosts --all").out.find("takes no writes") != std::string::npos; }, 15))
        << vesk(work + "/x.db", "fleet hosts --all").out;
    watchers[0]->kill();
    EXPECT_TRUE(eventually([&] { return listed().empty(); }, 15)) << listed();
    std::filesystem::remove_all(work);
}

namespace {

// Watchers run in process, each on a host of its own; stop() ends them and
// returns what each logged, in start order.
struct InProcessWatchers {
    void start(vesk_fleet::FleetHost& host, Words words, const char* ring, const char* hostName = "")
    {
        for (const auto& [option, value] : {std::pair{"--ring", ring}, {"--host-name", hostName}})
            if (*value)
                words.insert(words.end(), {option, value});
        logs.push_back(std::make_unique<std::ostringstream>());
        threads.emplace_back([&host, watch = parsed(words), log = logs.back().get()] {
            std::ostringstream out;
            vesk_fleet::FleetContext context(host, out, *log);
            watch.first(watch.second, context);
        });
    }
    // As Ctrl+C stops a watch: every watcher of this process stops.
    std::vector<std::string> stop()
    {
        vesk_fleet::requestStop();
        std::vector<std::string> texts;
        for (std::size_t i = 0; i < threads.size(); ++i) {
            if (threads[i].joinable())
                threads[i].join();
            texts.push_back(logs[i]->str());
        }
        return texts;
    }
    ~InProcessWatchers() { stop(); }
    std::vector<std::unique_ptr<std::ostringstream>> logs;
    std::vector<std::thread> threads;
};

// A host whose store fails every apply of a document holding "bad".
class FailingHost : public MemoryHost {
public:
    vesk_fleet::Difference applyInstance(const std::wstring& instance, std::string_view regBytes,
                                         const vesk_fleet::AppliedRecord& record) override
    {
        if (regBytes.find(vesk_tool::toUtf16le(L"bad")) != std::string_view::npos)
            throw vesk_tool::Failure(vesk_tool::StoreFailure, "the store is full");
        return MemoryHost::applyInstance(instance, regBytes, record);
    }
};

} // namespace

// Rings canary and main, and a host of the default ring, which comes last.
// Promote after pause only resumes; of two acts on one record only the
// first lands; the last promote ends the rollout; a plain push ends one too.
TEST_F(FleetCluster, ARolloutOpensRingByRingUnderGuardedPromotes)
{
    MemoryHost source, canary, main, last;
    InProcessWatchers watchers;
    watchers.start(canary, on("watch", "rings"), "canary");
    watchers.start(main, on("watch", "rings"), "main");
    watchers.start(last, on("watch", "rings"), "");
    // A watcher woken by the record's change takes well under a second.
    auto reach = [&](std::int64_t revision, std::vector<MemoryHost*> hosts) {
        return eventually([&] { return std::all_of(hosts.begin(), hosts.end(), [&](MemoryHost* h) { return h->appliedRevision(L"rings") == revision; }); }, 10);
    };
    auto pushed = [&](const wchar_t* values, const std::string& rings) {
        source.set(L"rings", sampleDocument(L"rings", 3, values));
        // A failing host of a ring not rolled out to is no failure.
        return revisionOf(runIn(source, on("push", "rings", rings.empty() ? Words{} : Words{"--rings", rings, "--max-failures", "1"})));
    };
    auto run = [&](const char* action) { return runIn(source, on(action, "rings")); };
    client()->put("vesk/fleet/hosts/rings/x", R"({"host": "x", "ring": "elsewhere", "state": "failing"})");
    const std::int64_t first = pushed(L"a", "");
    ASSERT_TRUE(reach(first, {&canary, &main, &last}));
    ASSERT_TRUE(reach(pushed(L"b", "canary,main"), {&canary}));
    // A new rollout over one under way keeps what its later rings run.
    const std::int64_t second = pushed(L"c", "canary,main");
    ASSERT_TRUE(reach(second, {&canary}));
    EXPECT_NE(run("status").out.find("rollout of revision " + std::to_string(second) + " (previous " +
                                     std::to_string(first) + "): ring canary open (1 of 2"),
              std::string::npos) << run("status").out;
    const Outcome all = runIn(source, on("hosts", "", {"--all"}));
    EXPECT_NE(all.out.find("instance rings: rollout of revision " + std::to_string(second)), std::string::npos)
        << all.out;
    EXPECT_EQ(nlohmann::json::parse(runIn(source, on("hosts", "", {"--all", "--json"})).out)["rollouts"]["rings"]["previous"],
              first);
    // gc keeps what the rings not open run, however few it is told to keep.
    ASSERT_EQ(runIn(source, on("gc", "rings", {"--keep", "1"})).status, 0);
    auto etcd = client();
    vesk_fleet::FleetStore store(*etcd, "vesk/fleet");
    const auto previous = store.atRevision("rings", first);
    ASSERT_TRUE(previous.has_value());
    EXPECT_NO_THROW(store.content(previous->manifest)) << "its chunks stay too";

    Outcome paused; // first, so the abort is refused
    EXPECT_EQ(runIn(source, on("abort", "rings"), {}, hooked({"/kv/txn", 1, [&] { paused = run("pause"); }, {}})).status,
              vesk_fleet::StaleRevision);
    EXPECT_NE(paused.out.find("paused with ring canary open"), std::string::npos);
    EXPECT_NE(run("promote").out.find("resumed; ring canary is still the last open"), std::string::npos);
    Outcome inner;
    const Outcome outer =
        runIn(source, on("promote", "rings"), {}, hooked({"/kv/txn", 1, [&] { inner = run("promote"); }, {}}));
    EXPECT_EQ(inner.out, "ring main opened to revision " + std::to_string(second) + " (2 of 2)\n") << inner.err;
    EXPECT_EQ(outer.status, vesk_fleet::StaleRevision) << outer.out;
    ASSERT_TRUE(reach(second, {&canary, &main}));
    EXPECT_EQ(last.appliedRevision(L"rings"), first);
    EXPECT_NE(run("promote").out.find("ended: every ring runs it"), std::string::npos);
    ASSERT_TRUE(reach(second, {&canary, &main, &last}));
    EXPECT_EQ(run("status").out.find("rollout"), std::string::npos);

    pushed(L"d", "canary");
    const std::int64_t plain = pushed(L"e", "");
    EXPECT_TRUE(reach(plain, {&canary, &main, &last})) << "a plain push ends the rollout";
    EXPECT_EQ(run("abort").status, 1);
    const std::vector<std::string> logs = watchers.stop();
    EXPECT_NE(logs[1].find("waiting for its ring: revision " + std::to_string(second)), std::string::npos) << logs[1];
    EXPECT_EQ(logs[0].find("waiting"), std::string::npos) << logs[0];
}

// A canary that reports failing, or whose own apply or --on-apply command
// fails, aborts the rollout by itself: every host ends on the previous
// state, republished.
TEST_F(FleetCluster, AFailingCanaryAbortsTheRolloutAndEveryHostGoesBack)
{
    for (const std::string instance : {"gate1", "gate2", "gate3"}) {
        const bool reported = instance == "gate1";
        const std::wstring name = vesk_tool::fromUtf8(instance);
        MemoryHost source, main;
        FailingHost canary;
        InProcessWatchers watchers;
        watchers.start(main, on("watch", instance), "main");
        // gate3's --on-apply fails after every apply but the first.
        watchers.start(canary, on("watch", instance, instance == "gate3" ? Words{"--on-apply", "test \"$VESK_FLEET_PREVIOUS\" = 0"} : Words{}),
                       "canary", "canary-1");
        source.set(name, sampleDocument(name, 3, L"good"));
        const std::int64_t previous = push(source, instance);
        ASSERT_TRUE(eventually([&] { return canary.appliedRevision(name) == previous; }, 30));
        if (reported)
            client()->put("vesk/fleet/hosts/" + instance + "/canary-2",
                          R"({"host": "canary-2", "ring": "canary", "state": "failing"})");
        source.set(name, sampleDocument(name, 3, instance == "gate2" ? L"bad" : L"fine"));
        const std::int64_t candidate = revisionOf(runIn(source, on("push", instance, {"--rings", "canary,main", "--max-failures", "1"})));

        ASSERT_TRUE(eventually([&] {
            const auto at = main.appliedRevision(name);
            return at > candidate && canary.appliedRevision(name) == at;
        }, 30)) << instance;
        for (MemoryHost* host : {static_cast<MemoryHost*>(&canary), &main})
            EXPECT_EQ(host->exportInstance(name), sampleDocument(name, 3, L"good")) << instance;
        EXPECT_NE(runIn(source, on("history", instance)).out.find("rollout of revision " + std::to_string(candidate) +
                                                                  " aborted: failing hosts of ring canary: 1"),
                  std::string::npos) << instance;
        EXPECT_EQ(runIn(source, on("promote", instance)).status, 1) << "the abort ended it";
    }
}

// Two hosts of one instance, one with an overlay that sets, adds and deletes
// values: each applies its own composition as one document and is up to date
// after it; a change of the overlay alone makes only its host behind, and a
// watcher wakes on it; a push of that host's instance is refused.
TEST_F(FleetCluster, AnOverlayAppliesOnItsHostOnlyAndItsChangeAloneMakesThatHostBehind)
{
    const std::string work = scratchDirectory("fleet-overlay");
    const std::string a = work + "/a.db", b = work + "/b.db", file = work + "/o.reg";
    const std::string key = "[HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\ovl\\Fleet]";
    auto pushOverlay = [&](const std::string& node) {
        std::ofstream(file, std::ios::trunc) << "Windows Registry Editor Version 5.00\n\n" << key << "\n\"Setting1\"=\""
                                             << node << "\"\n\"Setting2\"=-\n\"Node\"=\"" << node << "\"\n";
        return revisionOf(vesk(a, "--instance ovl fleet push --host WEB-A --file " + file));
    };
    auto value = [&](const std::string& store, const std::string& name) { return vesk(store, "--instance ovl get Fleet " + name).out; };
    auto statusOf = [&](const std::string& store, const std::string& name) {
        return vesk(store, "--instance ovl fleet status --host-name " + name).out;
    };
    MemoryHost source;
    source.set(L"ovl", sampleDocument(L"ovl", 4));
    const std::int64_t state = push(source, "ovl");
    std::int64_t overlay = pushOverlay("a1");
    ASSERT_GT(overlay, state);
    std::ofstream(work + "/bad.reg") << "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\X]\n\"a\"=\"b\"\n";
    EXPECT_EQ(vesk(a, "--instance ovl fleet push --host web-b --file " + work + "/bad.reg").status, 2) << "not the instance's";

    const std::string preview = vesk(a, "--instance ovl fleet pull --host-name web-a --dry-run").out;
    const std::size_t layer = preview.find("# from overlay " + std::to_string(overlay) + " of host WEB-A:\n");
    EXPECT_LT(preview.find(key + " \"Setting3\"=\"v3\""), layer) << preview;
    EXPECT_GT(preview.find(key + " \"Node\"=\"a1\""), layer) << preview;
    EXPECT_EQ(preview.find("Setting2"), std::string::npos) << preview;
    for (const std::string host : {"a", "b"})
        ASSERT_EQ(vesk(work + "/" + host + ".db", "--instance ovl fleet pull --host-name web-" + host).status, 0);
    EXPECT_EQ(value(a, "Setting1") + value(a, "Node") + value(a, "Setting2"), "a1\na1\n");
    EXPECT_EQ(value(b, "Setting1") + value(b, "Node") + value(b, "Setting2"), "v1\nv2\n");
    EXPECT_NE(statusOf(a, "web-a").find("with overlay " + std::to_string(overlay) + " (up to date)"), std::string::npos);
    EXPECT_NE(statusOf(b, "web-b").find("(up to date)"), std::string::npos);

    overlay = pushOverlay("a2");
    EXPECT_NE(statusOf(a, "web-a").find("(behind"), std::string::npos) << statusOf(a, "web-a");
    EXPECT_NE(statusOf(b, "web-b").find("(up to date)"), std::string::npos);
    EXPECT_NE(vesk(a, "--instance ovl fleet pull --host-name web-a").out.find("with overlay " + std::to_string(overlay) + ": 2 values set"), std::string::npos);
    EXPECT_NE(statusOf(a, "web-a").find("(up to date)"), std::string::npos);
    EXPECT_EQ(vesk(a, "--instance ovl fleet push").status, 3) << "it would publish the overlay to every host";
    ASSERT_EQ(vesk(a, "--instance ovl set Fleet Setting3 here --type string").status, 0);
    EXPECT_NE(statusOf(a, "web-a").find("drifted: 1 value"), std::string::npos) << "against the pair applied";

    const auto watcher = startWatch(a, work + "/w", {L"--instance", L"ovl", L"--host-name", L"web-a"});
    ASSERT_EQ(vesk(a, "--instance ovl fleet push --host web-a --remove-overlay").status, 0);
    // Within the watcher's 30 s session: only a wake on the overlay's key gets there.
    EXPECT_TRUE(eventually([&] { return value(a, "Setting1") == "v1\n"; }, 20)) << readText(work + "/w.log");
    EXPECT_EQ(watcher->terminate(), 0);
    EXPECT_EQ(value(a, "Setting1") + value(a, "Node") + value(a, "Setting2"), "v1\nv2\n");
    const std::string atState = std::to_string(state);
    EXPECT_NE(statusOf(a, "web-a").find(atState + ", fleet at " + atState + " (up to date)"), std::string::npos);
    std::filesystem::remove_all(work);
}

// --on-apply runs after each apply with the revision and the one before it;
// one that fails, or outlives its timeout (killed with what it started), is
// logged and the watcher applies the next push.
TEST_F(FleetCluster, OnApplyRunsAfterEachApplyAndItsFailuresAreLoggedNotFatal)
{
    const std::string work = scratchDirectory("fleet-on-apply");
    std::ofstream(work + "/hook.sh") << "echo \"$VESK_FLEET_INSTANCE $VESK_FLEET_REVISION $VESK_FLEET_PREVIOUS\" >>seen\n"
                                        "[ -e fail ] && exit 7\n"
                                        "if [ -e hang ]; then sleep 120 & echo $! >sleeper; wait; fi\n"
                                        "exit 0\n";
    const auto watcher = startWatch(work + "/h.db", work + "/w", {L"--instance", L"hook", L"--on-apply",
                                    vesk_tool::fromUtf8("cd " + work + " && sh hook.sh"), L"--on-apply-timeout", L"1"});
    const struct {
        const char* mode;
        const char* logged;
    } rows[] = {{"", ""}, {"fail", "exited with status 7"}, {"hang", "did not finish within 1 s and was killed"}, {"", ""}};
    MemoryHost source;
    std::int64_t previous = 0;
    int values = 0;
    for (const auto& row : rows) {
        const std::string mode = work + "/" + row.mode;
        if (*row.mode)
            std::ofstream{mode};
        source.set(L"hook", sampleDocument(L"hook", ++values));
        const std::int64_t revision = push(source, "hook");
        const std::string seen = "hook " + std::to_string(revision) + " " + std::to_string(previous) + "\n";
        EXPECT_TRUE(eventually([&] { return readText(work + "/seen").find(seen) != std::string::npos; }, 30))
            << seen << readText(work + "/w.log");
        const std::string failure = "revision " + std::to_string(revision) + " is applied, but the --on-apply command";
        EXPECT_TRUE(!*row.logged || eventually([&] {
            const std::string log = readText(work + "/w.log");
            return log.find(failure) != std::string::npos && log.find(row.logged) != std::string::npos;
        }, 30)) << readText(work + "/w.log");
        if (std::string(row.mode) == "hang") {
            const pid_t sleeper = std::stoi(readText(work + "/sleeper"));
            EXPECT_TRUE(eventually([&] { return kill(sleeper, 0) != 0; }, 10)) << "what the command started is killed too";
        }
        if (*row.mode)
            std::filesystem::remove(mode);
        previous = revision;
    }
    EXPECT_EQ(watcher->terminate(), 0);
    const std::string log = readText(work + "/w.log");
    std::size_t failures = 0;
    for (std::size_t at = 0; (at = log.find("the watcher goes on", at)) != std::string::npos; ++at)
        ++failures;
    EXPECT_EQ(failures, 2u) << "the failing runs alone are logged as failing:\n" << log;
    std::filesystem::remove_all(work);
}
