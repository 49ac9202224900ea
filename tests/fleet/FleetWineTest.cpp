// The real vesk.exe under Wine, on the prefix's registry, through WinHTTP
// against the cluster the test harness started natively (fixture
// "fleet_cluster"), whose client URLs are in FLEET_ENDPOINTS_FILE.
#include "tools/vesk/core/Journal.h"
#include "support/registry/KeyPath.h"
#include "tools/vesk/fleet/EtcdClient.h"
#include "tools/vesk/fleet/WindowsService.h"
#include "FakeHosts.h"
#include "VeskTool.h"

#include <windows.h>

#include <tlhelp32.h>

#include <atomic>
#include <chrono>
#include <thread>

using namespace vesk_fleet_test;
using vesk_tool_test::readBytes;
using vesk_tool_test::ToolRun;
namespace fs = std::filesystem;

namespace {

std::wstring clusterEndpoints()
{
    std::ifstream in(FLEET_ENDPOINTS_FILE);
    std::string line;
    std::getline(in, line);
    return vesk_tool::fromUtf8(line);
}

// vesk.exe ARGS, waited for.
ToolRun vesk(const std::vector<std::wstring>& args)
{
    const fs::path out = fs::temp_directory_path() / L"vesk-fleet.out";
    const fs::path err = fs::temp_directory_path() / L"vesk-fleet.err";
    const int status = tool_test::ToolChild(args, out, err).wait();
    return {status, readBytes(out), readBytes(err)};
}

ToolRun fleet(const std::wstring& action, const std::wstring& instance, std::vector<std::wstring> more = {})
{
    std::vector<std::wstring> args{L"--instance", instance, L"fleet", action, L"--endpoints", clusterEndpoints()};
    args.insert(args.end(), more.begin(), more.end());
    return vesk(args);
}

fs::path sampleFile(const std::wstring& instance, int count)
{
    const fs::path file = fs::temp_directory_path() / (instance + L".reg");
    std::ofstream(file, std::ios::binary) << sampleDocument(instance, count);
    return file;
}

bool atRevision(const std::wstring& instance, const std::string& revision)
{
    return fleet(L"status", instance).out.find("at revision " + revision + ",") != std::string::npos;
}

} // namespace

TEST(FleetWine, PushThenPullPutsTheTreeBackAndAStalePushIsRefused)
{
    ASSERT_FALSE(clusterEndpoints().empty()) << "no endpoints in " << FLEET_ENDPOINTS_FILE;
    ASSERT_EQ(vesk({L"--instance", L"wine", L"import", sampleFile(L"wine", 30000).wstring()}).status, 0);
    const std::string exported = vesk({L"--instance", L"wine", L"export"}).out;
    const ToolRun first = fleet(L"push", L"wine");
    ASSERT_EQ(first.status, 0) << first.err;
    const std::wstring seen = vesk_tool::fromUtf8(std::to_string(std::stoll(first.out)));
    const ToolRun pushed = fleet(L"push", L"wine", {L"--if-revision", seen});
    ASSERT_EQ(pushed.status, 0) << pushed.err;
    const ToolRun stale = fleet(L"push", L"wine", {L"--if-revision", seen});
    EXPECT_EQ(stale.status, 2) << stale.err;

    ASSERT_EQ(vesk({L"--instance", L"wine", L"set", L"Fleet", L"Extra", L"x", L"--type", L"string"}).status, 0);
    ASSERT_EQ(vesk({L"--instance", L"wine", L"delete", L"Fleet", L"Setting7"}).status, 0);
    const ToolRun pulled = fleet(L"pull", L"wine", {L"--force"});
    ASSERT_EQ(pulled.status, 0) << pulled.err;
    EXPECT_NE(pulled.out.find("saved to C:\\ProgramData\\halvorn\\vesk\\saved\\wine-"), std::string::npos) << pulled.out;
    EXPECT_EQ(vesk({L"--instance", L"wine", L"export"}).out, exported);
    EXPECT_TRUE(atRevision(L"wine", std::to_string(std::stoll(pushed.out))));
}

TEST(FleetWine, AnUnreachableFleetChangesNothingAndARefusedMemberIsPassed)
{
    const ToolRun unreachable = vesk({L"--instance", L"wine-gone", L"fleet", L"pull", L"--endpoints", L"http://127.0.0.1:9"});
    EXPECT_EQ(unreachable.status, 4);
    EXPECT_EQ(vesk({L"--instance", L"wine-gone", L"exists", L"Fleet"}).status, 1) << "never pulled, still absent";

    // WinHTTP tells a refused connection (nothing sent) from a lost answer.
    vesk_fleet::EtcdSettings settings;
    const std::string endpoints = vesk_tool::toUtf8(clusterEndpoints());
    settings.endpoints = {"http://127.0.0.1:9", endpoints.substr(0, endpoints.find(','))};
    EXPECT_GT(vesk_fleet::EtcdClient(settings, vesk_fleet::makeHttpClient({})).put("vesk-test/wine", "x"), 0)
        << "a write whose connection was refused goes to the next member";
}

TEST(FleetWine, AValueEveryRevisionKeepsIsNeverMissingDuringPulls)
{
    // The kept value comes after many values that change, so a pull that
    // wrote the instance again would leave it missing for a while.
    auto revisionFile = [](const std::wstring& prefix) {
        const fs::path file = fs::temp_directory_path() / (L"wine-kept-" + prefix + L".reg");
        std::ofstream(file, std::ios::binary)
            << sampleDocument(L"wine-kept", 3000, prefix)
            << vesk_tool::toUtf16le(L"[HKEY_LOCAL_MACHINE\\Software\\Halvorn\\Tessaly\\Orvane\\wine-kept\\Net]\r\n"
                                    L"\"Host\"=\"db.example\"\r\n\r\n");
        return file.wstring();
    };
    const std::wstring revisions[] = {revisionFile(L"a"), revisionFile(L"b")};
    ASSERT_EQ(fleet(L"push", L"wine-kept", {L"--file", revisions[0]}).status, 0);
    ASSERT_EQ(fleet(L"pull", L"wine-kept").status, 0);

    std::atomic<bool> pulling{true};
    long reads = 0, misses = 0;
    std::thread reader([&] {
        wchar_t host[64];
        for (; pulling && reads < 50'000'000; ++reads) {
            DWORD size = sizeof host;
            if (RegGetValueW(HKEY_LOCAL_MACHINE, L"Software\\Halvorn\\Tessaly\\Orvane\\wine-kept\\Net", L"Host",
                             RRF_RT_REG_SZ, nullptr, host, &size) != ERROR_SUCCESS)
                ++misses;
        }
    });
    for (int pull = 1; pull <= 6; ++pull) {
        EXPECT_EQ(fleet(L"push", L"wine-kept", {L"--file", revisions[pull % 2]}).status, 0);
        const ToolRun pulled = fleet(L"pull", L"wine-kept");
        EXPECT_NE(pulled.out.find(": 3000 values set, 0 deleted, 0 keys removed"), std::string::npos) << pulled.out << pulled.err;
    }
    pulling = false;
    reader.join();
    EXPECT_GT(reads, 0);
    EXPECT_EQ(misses, 0) << "of " << reads << " reads";
    EXPECT_EQ(vesk({L"--instance", L"wine-kept", L"get", L"Fleet", L"Setting7"}).out, "a7\n");
}

// Killed while it writes, a pull leaves the instance as it was or as the
// revision has it: the journal it left is restored by the next run, whoever
// runs it; here one without LOCALAPPDATA, as a service may run.
TEST(FleetWine, APullKilledWhileItWritesIsPutBackByTheNextRun)
{
    const std::wstring instance = L"wine-kill";
    const fs::path before = sampleFile(instance, 10000);
    const fs::path revision = fs::temp_directory_path() / L"wine-kill-revision.reg";
    std::ofstream(revision, std::ios::binary) << sampleDocument(instance, 10000, L"w");
    ASSERT_EQ(fleet(L"push", instance, {L"--file", revision.wstring()}).status, 0);
    ASSERT_EQ(vesk({L"--instance", instance, L"import", before.wstring()}).status, 0);
    const std::string exported = vesk({L"--instance", instance, L"export"}).out;
    const auto started = std::chrono::steady_clock::now();
    ASSERT_EQ(fleet(L"pull", instance, {L"--force"}).status, 0); // a prefix kept from an earlier run has it applied
    const auto took = std::chrono::steady_clock::now() - started;
    const std::string pulled = vesk({L"--instance", instance, L"export"}).out;
    ASSERT_NE(pulled, exported);

    wchar_t localAppData[MAX_PATH] = {};
    GetEnvironmentVariableW(L"LOCALAPPDATA", localAppData, MAX_PATH);
    const std::wstring journalKey = vesk_tool::Journal::path().substr(Kestlib500::HiveName.size() + 1);
    int restored = 0;
    // Counted from the journal's appearance: the writes after it take about a third of a pull.
    // Forced: each round's reset is a local change, which a plain pull refuses before writing.
    vesk_tool_test::killAtRandomMoments(
        {L"--instance", instance, L"fleet", L"pull", L"--force", L"--endpoints", clusterEndpoints()}, took / 5, 4,
        fs::temp_directory_path(), [&] { EXPECT_EQ(vesk({L"--instance", instance, L"import", before.wstring()}).status, 0); },
        [&](const std::string& where) {
            SetEnvironmentVariableW(L"LOCALAPPDATA", nullptr);
            const ToolRun next = vesk({L"--instance", instance, L"export"});
            SetEnvironmentVariableW(L"LOCALAPPDATA", localAppData);
            EXPECT_EQ(next.status, 0) << where << ": " << next.err;
            restored += next.err.find("restored to their state before it") != std::string::npos;
            EXPECT_TRUE(next.out == exported || next.out == pulled) << where << ": " << next.err;
        },
        [&] {
            Kestlib500::RawValue journal;
            return Kestlib500::RegistryKey::QueryAt(journalKey, L"import", journal);
        });
    EXPECT_GT(restored, 0) << "no kill met a pull writing";
}

// Two watchers as services: the first applies each push, then runs a command
// that sees the revisions and restarts the second; sc shows them running,
// and uninstall stops them cleanly and removes them.
TEST(FleetWine, ServicesWatchRestartAServiceAndUninstallRemovesThem)
{
    // A made prefix booted again with wineboot --init runs two service managers, each with its own
    // list of services (cmake/wine-prefix.sh boots it without): with two, nothing can be shown.
    int managers = 0;
    const HANDLE processes = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
    PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32FirstW(processes, &entry); more; more = Process32NextW(processes, &entry))
        managers += _wcsicmp(entry.szExeFile, L"services.exe") == 0;
    CloseHandle(processes);
    if (managers > 1)
        GTEST_SKIP() << managers << " service managers run in this Wine prefix; run with one (wineserver -k, then the test)";
    auto sc = [](const std::wstring& name) {
        const fs::path out = fs::temp_directory_path() / L"vesk-sc.out";
        const int status = tool_test::ToolChild(L"sc.exe", {L"query", name}, out, out.wstring() + L".err").wait();
        return status == 0 ? readBytes(out) : std::string("absent");
    };
    auto within30s = [](const std::function<bool()>& condition) {
        for (int i = 0; i < 300 && !condition(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        return condition();
    };
    auto log = [](const char* instance) { return readBytes(vesk_fleet::serviceLogFile(instance)); };
    const fs::path seen = fs::temp_directory_path() / L"vesk-on-apply.txt";
    fs::remove(seen);
    for (const char* instance : {"wine-svc", "wine-svc-b"}) { // what an earlier run left
        vesk({L"--instance", vesk_tool::fromUtf8(instance), L"fleet", L"service", L"uninstall"});
        ASSERT_TRUE(within30s([&] { return sc(vesk_fleet::serviceName(instance)) == "absent"; })) << "gone before it is made again";
        fs::remove(vesk_fleet::serviceLogFile(instance));
    }
    const std::wstring endpoints = clusterEndpoints();
    const ToolRun second = vesk({L"--instance", L"wine-svc-b", L"fleet", L"service", L"install", L"--endpoints", endpoints});
    ASSERT_EQ(second.status, 0) << second.err;
    const ToolRun first = vesk({L"--instance", L"wine-svc", L"fleet", L"service", L"install", L"--endpoints", endpoints,
                                L"--restart-service", vesk_fleet::serviceName("wine-svc-b"), L"--on-apply",
                                L"echo %VESK_FLEET_REVISION% %VESK_FLEET_PREVIOUS% >>" + seen.wstring()});
    ASSERT_EQ(first.status, 0) << first.err;
    // Wine accepts the recovery actions without keeping them, so no restart after a failure is checked here.
    EXPECT_EQ(first.err, "") << "the recovery actions are set";
    EXPECT_NE(sc(vesk_fleet::serviceName("wine-svc")).find("RUNNING"), std::string::npos);

    ASSERT_TRUE(within30s([&] { return log("wine-svc-b").find("watching") != std::string::npos; }));
    const std::size_t started = log("wine-svc-b").size();
    const std::string status = fleet(L"status", L"wine-svc").out; // a prefix kept from an earlier run has one applied
    const std::size_t at = status.find("at revision ");
    std::string previous = at == std::string::npos ? "0" : std::to_string(std::stoll(status.substr(at + 12)));
    for (int count = 1; count <= 2; ++count) { // the second through the watch the service opened after the first
        const ToolRun pushed = fleet(L"push", L"wine-svc", {L"--file", sampleFile(L"wine-svc", count + 2).wstring()});
        ASSERT_EQ(pushed.status, 0) << pushed.err;
        const std::string line = std::to_string(std::stoll(pushed.out)) + " " + previous + " \r\n";
        EXPECT_TRUE(within30s([&] { return readBytes(seen).find(line) != std::string::npos; })) << readBytes(seen) << log("wine-svc");
        previous = std::to_string(std::stoll(pushed.out));
    }
    EXPECT_TRUE(atRevision(L"wine-svc", previous));
    EXPECT_TRUE(within30s([&] {
        const std::string restarted = log("wine-svc-b");
        const std::size_t stopped = restarted.find("stopped", started);
        return stopped != std::string::npos && restarted.find("watching", stopped) != std::string::npos;
    })) << log("wine-svc-b");
    EXPECT_EQ(log("wine-svc").find("the watcher goes on"), std::string::npos) << log("wine-svc");

    for (const char* instance : {"wine-svc", "wine-svc-b"}) {
        const std::wstring name = vesk_tool::fromUtf8(instance);
        const ToolRun removed = vesk({L"--instance", name, L"fleet", L"service", L"uninstall"});
        EXPECT_EQ(removed.status, 0) << removed.err;
        EXPECT_EQ(sc(vesk_fleet::serviceName(instance)), "absent");
        EXPECT_EQ(vesk({L"--instance", name, L"fleet", L"service", L"uninstall"}).status, 1);
        const std::string text = log(instance);
        EXPECT_TRUE(text.rfind(" stopped") != std::string::npos && text.rfind(" stopped") > text.rfind(" watching"))
            << "stopped cleanly:\n" << text;
    }
}
