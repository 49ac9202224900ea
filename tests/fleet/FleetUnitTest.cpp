// The fleet's parts that need no etcd: encodings, the manifest, where access
// settings come from, and how the client reads the gateway's answers.
#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/EtcdClient.h"
#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/FleetCommands.h"
#include "tools/vesk/fleet/FleetConfig.h"
#include "tools/vesk/fleet/FleetStore.h"
#include "tools/vesk/fleet/HostReport.h"
#include "tools/vesk/fleet/InstanceDiff.h"
#include "tools/vesk/fleet/StopSignal.h"
#include "FakeHosts.h"
#include "FleetRun.h"
#include "vesk/VeskSettings.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#if defined(_WIN32)
#include <windows.h>
#include <aclapi.h>
#include <sddl.h>
#endif

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

using namespace vesk_fleet;

TEST(FleetDigest, Base64RoundTripsAndRefusesJunk)
{
    const struct {
        std::string bytes, text;
    } rows[] = {{"", ""}, {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {std::string("\0\xff\x10", 3), "AP8Q"}};
    for (const auto& row : rows) {
        EXPECT_EQ(toBase64(row.bytes), row.text) << row.text;
        EXPECT_EQ(fromBase64(row.text), row.bytes) << row.text;
    }
    for (const char* bad : {"Zg=", "Z!==", "Zm9v\n"})
        EXPECT_THROW(fromBase64(bad), DamagedState) << bad;
    EXPECT_EQ(sha256Hex("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
}

TEST(FleetManifest, RoundTripsAndRefusesOtherFormats)
{
    Manifest manifest;
    manifest.bytes = 1048577;
    manifest.sha256 = "ab";
    manifest.chunks = {"c1", "c2", "c3"};
    manifest.pushedAt = "2026-01-01T00:00:00Z";
    manifest.note = "rollback to 7";
    EXPECT_EQ(manifestToJson(manifestFromJson(manifestToJson(manifest))), manifestToJson(manifest));
    for (const char* bad : {"", "[]", R"({"format":3,"bytes":1,"sha256":"","chunks":[]})", R"({"format":1,"bytes":"x"})",
                            R"({"format":2,"bytes":1,"sha256":"","chunks":[]})"})
        EXPECT_THROW(manifestFromJson(bad), DamagedState) << bad;
}

// One etcd key per registry name, of an instance or a host: the registry's
// fold, not the C library's.
TEST(FleetManifest, InstanceKeysFoldAsTheRegistryDoes)
{
    EXPECT_EQ(instanceKey(L"\u00c4rzte"), instanceKey(L"\u00e4RZTE"));
    EXPECT_NE(instanceKey(L"\u212a"), instanceKey(L"k")) << "the Kelvin sign is no K to the registry";
    EXPECT_EQ(instanceKey(L"a/b%"), "a%2Fb%25") << "no instance's keys under another's";
    EXPECT_EQ(hostKey("\xc3\x84rzte/1"), instanceKey(L"\u00e4RZTE/1")) << "a host's name, for its report and overlay";
}

namespace {

#if defined(_WIN32)
// Whether the file's DACL lets everyone read it.
bool everyoneReads(const std::filesystem::path& path)
{
    PACL dacl = nullptr;
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl,
                              nullptr, &descriptor) != ERROR_SUCCESS)
        return true;
    bool found = !dacl;
    for (DWORD i = 0; dacl && i < dacl->AceCount; ++i) {
        ACCESS_ALLOWED_ACE* ace = nullptr;
        if (GetAce(dacl, i, reinterpret_cast<void**>(&ace)) && ace->Header.AceType == ACCESS_ALLOWED_ACE_TYPE)
            found = found || IsWellKnownSid(&ace->SidStart, WinWorldSid);
    }
    LocalFree(descriptor);
    return found;
}

// Lets the file's owner, SYSTEM and `others` (an SDDL account, e.g. "WD" for
// everyone; none when empty) read the file, and no one else. False when the
// file system keeps no such ACL (Wine maps ACLs onto the file's mode).
bool setReaders(const std::filesystem::path& path, const std::wstring& others)
{
    PSID owner = nullptr;
    PSECURITY_DESCRIPTOR current = nullptr;
    if (GetNamedSecurityInfoW(path.c_str(), SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr,
                              nullptr, &current) != ERROR_SUCCESS)
        return false;
    LPWSTR ownerText = nullptr;
    ConvertSidToStringSidW(owner, &ownerText);
    std::wstring sddl = L"D:P(A;;FA;;;" + std::wstring(ownerText) + L")(A;;FA;;;SY)";
    if (!others.empty())
        sddl += L"(A;;FR;;;" + others + L")";
    LocalFree(ownerText);
    LocalFree(current);
    PSECURITY_DESCRIPTOR wanted = nullptr;
    BOOL present = FALSE;
    BOOL defaulted = FALSE;
    PACL dacl = nullptr;
    if (!ConvertStringSecurityDescriptorToSecurityDescriptorW(sddl.c_str(), SDDL_REVISION_1, &wanted, nullptr))
        return false;
    GetSecurityDescriptorDacl(wanted, &present, &dacl, &defaulted);
    const DWORD result = SetNamedSecurityInfoW(const_cast<wchar_t*>(path.c_str()), SE_FILE_OBJECT,
                                               DACL_SECURITY_INFORMATION | PROTECTED_DACL_SECURITY_INFORMATION,
                                               nullptr, nullptr, dacl, nullptr);
    LocalFree(wanted);
    return result == ERROR_SUCCESS && everyoneReads(path) == (others == L"WD");
}
#endif

class ConfigFile {
public:
    explicit ConfigFile(const std::string& text)
        : path(std::filesystem::temp_directory_path() / ("fleet-config-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                                                      std::to_string(++made) + ".conf"))
    {
        std::ofstream(path) << text;
        // A password is only taken from a file no one else may read.
#if defined(_WIN32)
        isPrivate = setReaders(path, L"");
#else
        std::filesystem::permissions(path, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
#endif
    }
    ~ConfigFile() { std::filesystem::remove(path); }
    static inline int made = 0;
    std::filesystem::path path;
    bool isPrivate = true; // no one else may read it
};

} // namespace

TEST(FleetConfig, CommandLineThenEnvironmentThenFile)
{
    ConfigFile file("# fleet\nendpoints = http://f1:1, http://f2:2\nuser = fileuser\npassword = filepw\n"
                    "cacert = /f/ca.pem\nprefix = p/file\ntimeout-ms = 900\n");
    std::map<std::string, std::string> environment;
    GetEnv getenv = [&](const char* name) -> const char* {
        auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    };
    if (!file.isPrivate)
        GTEST_SKIP() << "this file system keeps no ACL that hides the password";
    AccessOptions options;
    options.configFile = file.path.string();

    FleetAccess access = resolveAccess(options, getenv);
    EXPECT_EQ(access.etcd.endpoints, (std::vector<std::string>{"http://f1:1", "http://f2:2"}));
    EXPECT_EQ(access.etcd.user, "fileuser");
    EXPECT_EQ(access.etcd.password, "filepw");
    EXPECT_EQ(access.etcd.tls.caFile, "/f/ca.pem");
    EXPECT_EQ(access.prefix, "p/file");
    EXPECT_EQ(access.etcd.timeoutMs, 900);

    environment = {{"VESK_FLEET_ENDPOINTS", "http://e:1"}, {"VESK_FLEET_USER", "envuser"}, {"VESK_FLEET_PASSWORD", "envpw"}};
    access = resolveAccess(options, getenv);
    EXPECT_EQ(access.etcd.endpoints, std::vector<std::string>{"http://e:1"});
    EXPECT_EQ(access.etcd.user, "envuser");
    EXPECT_EQ(access.etcd.password, "envpw");

    options.endpoints = {"http://c:1"};
    options.user = "cliuser";
    access = resolveAccess(options, getenv);
    EXPECT_EQ(access.etcd.endpoints, std::vector<std::string>{"http://c:1"});
    EXPECT_EQ(access.etcd.user, "cliuser");
    EXPECT_EQ(access.etcd.password, "envpw");
}

TEST(FleetConfig, BadFilesSayWhereAndWhat)
{
    GetEnv none = [](const char*) -> const char* { return nullptr; };
    const struct {
        const char* text;
        const char* expected;
    } rows[] = {{"endpoints = http://a:1\npasword = x\n", ":2: expected 'name = value'"},
                {"no equals sign\n", ":1: expected"},
                {"user = u\n", "no etcd endpoints"},
                {"endpoints = http://a:1\ntimeout-ms = soon\n", "timeout-ms is no number"}};
    for (const auto& row : rows) {
        ConfigFile file(row.text);
        AccessOptions options;
        options.configFile = file.path.string();
        try {
            resolveAccess(options, none);
            ADD_FAILURE() << row.text;
        } catch (const vesk_tool::Failure& failure) {
            EXPECT_EQ(failure.code(), vesk_tool::BadInput) << row.text;
            EXPECT_NE(std::string(failure.what()).find(row.expected), std::string::npos) << row.text << failure.what();
        }
    }
    AccessOptions missing;
    missing.configFile = "/nonexistent/fleet.conf";
    EXPECT_THROW(resolveAccess(missing, none), vesk_tool::Failure);
}

TEST(FleetConfig, APasswordOthersMayReadIsRefused)
{
    ConfigFile file("endpoints = http://a:1\nuser = u\npassword = pw\n");
    AccessOptions options;
    options.configFile = file.path.string();
    GetEnv none = [](const char*) -> const char* { return nullptr; };
    auto expectRefused = [&](const std::string& remedy) {
        try {
            resolveAccess(options, none);
            ADD_FAILURE() << "a password others may read was taken";
        } catch (const vesk_tool::Failure& failure) {
            EXPECT_EQ(failure.code(), vesk_tool::BadInput);
            EXPECT_NE(std::string(failure.what()).find(remedy), std::string::npos) << failure.what();
            EXPECT_EQ(std::string(failure.what()).find("pw\n"), std::string::npos);
        }
    };
#if defined(_WIN32)
    if (!file.isPrivate || !setReaders(file.path, L"WD"))
        GTEST_SKIP() << "this file system keeps no ACL that hides the password";
    expectRefused("icacls \"" + file.path.string() + "\" /inheritance:d /remove:g *S-1-1-0");
    ASSERT_TRUE(setReaders(file.path, L""));
#else
    for (const auto readable : {std::filesystem::perms::group_read, std::filesystem::perms::others_read}) {
        std::filesystem::permissions(file.path, readable, std::filesystem::perm_options::add);
        expectRefused("chmod 600 " + file.path.string());
        std::filesystem::permissions(file.path, readable, std::filesystem::perm_options::remove);
    }
    ConfigFile noPassword("endpoints = http://a:1\n");
    std::filesystem::permissions(noPassword.path, std::filesystem::perms::others_read, std::filesystem::perm_options::add);
    AccessOptions open;
    open.configFile = noPassword.path.string();
    EXPECT_NO_THROW(resolveAccess(open, none)) << "nothing secret in it";
#endif
    EXPECT_EQ(resolveAccess(options, none).etcd.password, "pw");
}

namespace {

// Answers from a script, and remembers what was asked.
class ScriptedHttp : public HttpClient {
public:
    struct Answer {
        bool unreachable = false;
        HttpResponse response;
        HttpError::Stage stage = HttpError::Stage::Answering; // when unreachable
        bool emptyReply = false;
    };
    std::deque<Answer> answers;
    std::vector<HttpRequest> asked;

    HttpResponse post(const HttpRequest& request) override
    {
        asked.push_back(request);
        if (answers.empty())
            throw HttpError("script ran out");
        const Answer answer = answers.front();
        answers.pop_front();
        if (answer.unreachable)
            throw HttpError(answer.emptyReply ? "empty reply" : "no answer", answer.stage, answer.emptyReply);
        return answer.response;
    }
    std::deque<std::string> streams; // watch answers, each sent whole and closed

    long postStream(const HttpRequest& request, const std::function<bool(std::string_view)>& onData,
                    const std::function<bool()>&) override
    {
        asked.push_back(request);
        if (streams.empty())
            throw HttpError("no streams here");
        const std::string stream = streams.front();
        streams.pop_front();
        onData(stream);
        return 200;
    }
};

ScriptedHttp::Answer ok(const std::string& body)
{
    return {false, {200, body}};
}

ScriptedHttp::Answer error(long status, int code, const std::string& message)
{
    return {false, {status, R"({"error":")" + message + R"(","code":)" + std::to_string(code) + R"(,"message":")" + message + R"("})"}};
}

const ScriptedHttp::Answer refused{true, {}, HttpError::Stage::Connecting};
const ScriptedHttp::Answer timedOut{true, {}, HttpError::Stage::Answering};
const ScriptedHttp::Answer emptyReply{true, {}, HttpError::Stage::Answering, true};

const std::string Header = R"("header":{"revision":"9"})";

EtcdSettings settingsFor(std::vector<std::string> endpoints, std::string user = "", std::string password = "")
{
    EtcdSettings settings;
    settings.endpoints = std::move(endpoints);
    settings.user = std::move(user);
    settings.password = std::move(password);
    return settings;
}

} // namespace

// A refused login is final: trying the next member would run the script out.
// A write goes to the next member only when etcd surely did not carry it out.
// A token etcd no longer takes, or a gateway that hangs up, costs one fresh
// login on the same member; a write is sent again only when etcd's answer
// proves it was not carried out.
TEST(FleetEtcdClient, AnswersMapToWhatTheOperatorMustDo)
{
    const ScriptedHttp::Answer login = ok(R"({"token":"t"})");
    const ScriptedHttp::Answer stale = error(401, 16, "etcdserver: invalid auth token");
    const ScriptedHttp::Answer done = ok("{" + Header + "}");
    const auto none = static_cast<EtcdError::Kind>(-1);
    const struct {
        const char* row;
        std::vector<ScriptedHttp::Answer> answers;
        EtcdError::Kind kind;
        const char* user;
        bool write;
        std::size_t requests;
    } rows[] = {
        {"every member unreachable", {timedOut, timedOut}, EtcdError::Kind::Unavailable, "", false, 2},
        {"no leader on either", {error(503, 14, "etcdserver: no leader"), error(503, 14, "etcdserver: no leader")}, EtcdError::Kind::Unavailable, "", true, 2},
        {"compacted", {error(400, 11, "etcdserver: mvcc: required revision has been compacted")}, EtcdError::Kind::Compacted, "", false, 1},
        {"not a gateway", {{false, {404, "404 page not found"}}}, EtcdError::Kind::Refused, "", false, 1},
        {"permission", {error(403, 7, "etcdserver: permission denied")}, EtcdError::Kind::PermissionDenied, "", false, 1},
        {"login refused", {error(400, 3, "etcdserver: authentication failed, invalid user ID or password")}, EtcdError::Kind::LoginRefused, "root", false, 1},
        {"out of space", {error(429, 8, "etcdserver: mvcc: database space exceeded")}, EtcdError::Kind::NoSpace, "", true, 1},
        {"busy, then refused", {error(429, 8, "etcdserver: too many requests"), refused}, EtcdError::Kind::Unavailable, "", true, 2},
        {"write timed out in etcd", {error(503, 14, "etcdserver: request timed out")}, EtcdError::Kind::AnswerLost, "", true, 1},
        {"write answer lost", {timedOut}, EtcdError::Kind::AnswerLost, "", true, 1},
        {"write hung up on", {emptyReply}, EtcdError::Kind::AnswerLost, "", true, 1},
        {"read, token expired", {login, stale, login, done}, none, "root", false, 4},
        {"read, hung up on", {login, emptyReply, login, done}, none, "root", false, 4},
        {"write, token expired", {login, stale, login, done}, none, "root", true, 4},
        {"write, hung up on after a login", {login, emptyReply}, EtcdError::Kind::AnswerLost, "root", true, 2},
        {"token refused after a fresh login", {login, stale, login, stale}, EtcdError::Kind::Unavailable, "root", false, 4},
        {"restarted cluster not ready for logins", {error(400, 9, "etcdserver: not capable")}, EtcdError::Kind::Unavailable, "root", false, 1},
    };
    for (const auto& row : rows) {
        auto owned = std::make_unique<ScriptedHttp>();
        ScriptedHttp& http = *owned;
        http.answers.assign(row.answers.begin(), row.answers.end());
        // One member with a login, as the script has no answers for a second.
        const std::vector<std::string> members = *row.user ? std::vector<std::string>{"127.0.0.1:1"}
                                                            : std::vector<std::string>{"127.0.0.1:1", "127.0.0.1:2"};
        EtcdClient client(settingsFor(members, row.user, *row.user ? "wrong" : ""), std::move(owned));
        EtcdError::Kind kind = none;
        try {
            row.write ? client.put("k", "v") : client.get("k", 3).revision;
        } catch (const EtcdError& failure) {
            kind = failure.kind;
            EXPECT_EQ(explain(failure).find("wrong"), std::string::npos) << row.row;
            if (failure.kind == EtcdError::Kind::PermissionDenied) {
                EXPECT_NE(explain(failure).find("may not read 'k'; grant"), std::string::npos) << explain(failure);
            }
        }
        EXPECT_EQ(static_cast<int>(kind), static_cast<int>(row.kind)) << row.row;
        EXPECT_EQ(http.asked.size(), row.requests) << row.row;
    }
}

TEST(FleetEtcdClient, TriesTheNextMemberAndLogsInAgainWhenTheTokenExpires)
{
    auto owned = std::make_unique<ScriptedHttp>();
    ScriptedHttp& http = *owned;
    http.answers = {{true, {}},
                    ok(R"({"token":"t1"})"),
                    error(401, 16, "etcdserver: invalid auth token"),
                    ok(R"({"token":"t2"})"),
                    ok("{" + Header + R"(,"kvs":[{"key":"aw==","mod_revision":"7","value":"dg=="}]})")};
    EtcdClient client(settingsFor({"127.0.0.1:1", "https://127.0.0.1:2/"}, "root", "secret"), std::move(owned));
    EXPECT_EQ(client.get("k").value, "v");
    ASSERT_EQ(http.asked.size(), 5u);
    EXPECT_EQ(http.asked[0].url, "http://127.0.0.1:1/v3/auth/authenticate");
    EXPECT_EQ(http.asked[1].url, "https://127.0.0.1:2/v3/auth/authenticate");
    EXPECT_EQ(http.asked[2].headers, std::vector<std::string>{"Authorization: t1"});
    EXPECT_EQ(http.asked[4].headers, std::vector<std::string>{"Authorization: t2"});
    for (const HttpRequest& request : http.asked) {
        const bool login = request.url.find("authenticate") != std::string::npos;
        EXPECT_EQ(!login && request.body.find("secret") != std::string::npos, false) << "the password goes to the login only";
    }
}

// The tool and the fleet share one mapping of what was thrown to the exit
// status and the line stderr shows.
TEST(FleetExitStatus, EachFailureExitsWithItsStatusAndAdvice)
{
    const struct {
        std::exception_ptr thrown;
        int status;
        const char* says;
    } rows[] = {
        {std::make_exception_ptr(EtcdError(EtcdError::Kind::NoSpace, "full")), 4, "etcdctl alarm disarm"},
        {std::make_exception_ptr(DamagedState("cut")), 4, "cut; the local registry is unchanged"},
        {std::make_exception_ptr(vesk_tool::Failure(vesk_tool::NotFound, "gone")), 1, "vesk: gone"},
        {std::make_exception_ptr(vesk_tool::DecodeError(0, "bad")), 2, "not UTF-8"},
        {std::make_exception_ptr(VeskSettings::BadKeyTypeError()), 3, "another type"},
        {std::make_exception_ptr(std::bad_alloc()), 4, "out of memory"},
    };
    for (const auto& row : rows) {
        std::string said;
        EXPECT_EQ(vesk_tool::exitStatusOf(row.thrown, [&said](const std::string& line) { said += line; }), row.status);
        EXPECT_NE(said.find(row.says), std::string::npos) << said;
    }
}

// What the options cannot mean together is refused before etcd is asked anything.
TEST(FleetCommandLine, RefusesWhatTheOptionsCannotMeanTogether)
{
    const struct {
        std::vector<std::string> words;
        const char* says;
    } rows[] = {{{"push", "--rings", "canary,main,canary", "--max-failures", "2"}, "ring 'canary' twice"},
                {{"push", "--max-failures", "1"}, "give the rings with --rings"},
                {{"push", "--rings", "canary", "--host", "web-1", "--file", "o.reg"}, "an overlay (--host) is one host's"},
                {{"push", "--remove-overlay"}, "requires --host"},
                {{"pull", "--password", "x"}, "not expected"}, // a password never goes on a command line
                {{"gc", "--keep", "1", "--all", "--instance", "a"}, "or every one with --all"},
                {{"promote"}, "name the instance with --instance"}};
    vesk_fleet_test::MemoryHost host;
    for (const auto& row : rows) {
        const vesk_fleet_test::Outcome outcome = vesk_fleet_test::runIn(host, row.words);
        EXPECT_EQ(outcome.status, vesk_tool::BadInput) << row.says;
        EXPECT_NE(outcome.err.find(row.says), std::string::npos) << outcome.err;
    }
}

TEST(FleetInstanceDiff, ComparesAsTheRegistryDoesAndWritesOnlyWhatDiffers)
{
    using vesk_tool::ImportStep;
    const std::wstring root = L"S\\I";
    auto set = [](const std::wstring& key, const std::wstring& name, DWORD type, std::vector<unsigned char> data) {
        return ImportStep{ImportStep::Action::SetValue, 0, key, name, {type, std::move(data)}};
    };
    const std::vector<ImportStep> local{set(root, L"\u00c9t\u00e9", REG_SZ, {1}), set(root, L"Kept", REG_SZ, {2}),
                                        set(L"S\\I\\Old\\Deep", L"x", REG_SZ, {3}), set(root, L"Gone", REG_SZ, {'g', 0, 0, 0}),
                                        set(root, L"Type", REG_SZ, {5, 0, 0, 0})};
    // Other order, other case, the same type and bytes: no difference.
    const std::vector<ImportStep> same{set(root, L"kept", REG_SZ, {2}), set(root, L"\u00e9T\u00c9", REG_SZ, {1}),
                                       set(L"s\\i\\OLD\\deep", L"X", REG_SZ, {3}), set(root, L"gone", REG_SZ, {'g', 0, 0, 0}),
                                       set(root, L"type", REG_SZ, {5, 0, 0, 0})};
    EXPECT_TRUE(difference(InstanceTree(local, root), InstanceTree(same, root)).empty());

    const std::vector<ImportStep> next{set(root, L"Kept", REG_SZ, {2}), set(root, L"\u00c9t\u00e9", REG_SZ, {9}),
                                       set(root, L"Type", REG_DWORD, {5, 0, 0, 0}), set(L"S\\I\\New", L"n", REG_SZ, {6}),
                                       {ImportStep::Action::DeleteKey, 0, root, L"", {}}, set(root, L"Kept", REG_SZ, {2})};
    const Difference diff = difference(InstanceTree(local, root), InstanceTree(next, root));
    EXPECT_EQ(diff.summary(), "0 values set, 4 deleted, 1 key removed") << "a document that deletes the instance empties it";
    ASSERT_EQ(diff.steps.size(), 4u);
    EXPECT_EQ(diff.steps[0].action, ImportStep::Action::DeleteKey);
    EXPECT_EQ(diff.steps[0].key, L"S\\I\\Old") << "the highest key of a removed subtree only";
    for (std::size_t i = 1; i < 4; ++i)
        EXPECT_EQ(diff.steps[i].action, ImportStep::Action::DeleteValue) << i;

    const Difference changed = difference(InstanceTree(local, root), InstanceTree({next.begin(), next.begin() + 4}, root));
    EXPECT_EQ(changed.summary(), "3 values set, 2 deleted, 1 key removed, 1 key created");
    for (const ImportStep& step : changed.steps)
        EXPECT_NE(step.action == ImportStep::Action::DeleteValue ? step.name : L"", L"Type") << "a kept value is written over, never deleted first";
    EXPECT_NE(changed.lines().find("-[HKEY_LOCAL_MACHINE\\S\\I] \"Gone\"=\"g\"\n"), std::string::npos);
    EXPECT_NE(changed.lines().find("+[HKEY_LOCAL_MACHINE\\S\\I] \"Type\"=dword:00000005\n"), std::string::npos)
        << changed.lines();

    // A name written again keeps its first place and takes its last data; deleted, it starts over.
    const std::vector<ImportStep> repeated{set(root, L"A", REG_SZ, {1}), set(root, L"B", REG_SZ, {2}),
                                           {ImportStep::Action::DeleteValue, 0, root, L"a", {}},
                                           set(root, L"b", REG_SZ, {3}), set(root, L"a", REG_SZ, {4})};
    EXPECT_TRUE(difference(InstanceTree(repeated, root), InstanceTree({repeated[3], repeated[4]}, root)).empty());
    const Difference written = difference(InstanceTree({}, root), InstanceTree(repeated, root));
    ASSERT_EQ(written.steps.size(), 2u) << written.lines();
    EXPECT_EQ(written.steps[0].name + written.steps[1].name, L"ba");
    EXPECT_EQ(InstanceTree(local, root).stateDigest(), InstanceTree(same, root).stateDigest()) << "order and case aside";
    EXPECT_NE(InstanceTree(local, root).stateDigest(), InstanceTree({next.begin(), next.begin() + 4}, root).stateDigest());
}

namespace {

std::string event(const std::string& type, std::int64_t revision, const std::string& value = "")
{
    const std::string at = "\"" + std::to_string(revision) + "\"";
    return R"({"result":{"header":{"revision":)" + at + R"(},"events":[{)" + type + R"("kv":{"key":"aw==","mod_revision":)" +
           at + R"(,"value":")" + toBase64(value) + "\"}}]}}\n";
}

Manifest manifestOf(const std::string& document)
{
    Manifest manifest;
    manifest.bytes = document.size();
    manifest.sha256 = sha256Hex(document);
    manifest.chunks = {manifest.sha256};
    return manifest;
}

std::string keyValue(std::int64_t revision, const std::string& value)
{
    const std::string at = "\"" + std::to_string(revision) + "\"";
    return R"({"header":{"revision":)" + at + "}" +
           (value.empty() ? "" : R"(,"kvs":[{"key":"aw==","mod_revision":)" + at + R"(,"value":")" + toBase64(value) + "\"}]") + "}";
}

// Lends the command a client whose script and record outlive it, and asks
// the command to stop, as Ctrl+C does, once it sent `last` requests.
class Lent : public HttpClient {
public:
    Lent(ScriptedHttp& to, std::size_t last) : to(to), last(last) {}
    HttpResponse post(const HttpRequest& request) override { return stopAt(to.asked.size() + 1), to.post(request); }
    long postStream(const HttpRequest& request, const std::function<bool(std::string_view)>& onData,
                    const std::function<bool()>& keepGoing) override
    {
        return stopAt(to.asked.size() + 1), to.postStream(request, onData, keepGoing);
    }

private:
    void stopAt(std::size_t request) { request >= last ? requestStop() : void(); }
    ScriptedHttp& to;
    std::size_t last;
};

} // namespace

// One session's turns: a deleted state is logged; of a burst of pushes the
// state read after the event is applied, never the one the event named; a
// stream closed at once is a failure to pause on, not a quiet session.
TEST(FleetWatcher, LogsADeleteAppliesTheNewestOfABurstAndPausesOnAClosedStream)
{
    const std::string superseded = manifestToJson(manifestOf(vesk_fleet_test::sampleDocument(L"w", 1)));
    const std::string document = vesk_fleet_test::sampleDocument(L"w", 2);
    ScriptedHttp http;
    const auto none = [](int revision) { return ok(keyValue(revision, "")); }; // no overlay, no rollout record
    http.answers = {none(4), none(4), none(5), none(5), ok(keyValue(7, manifestToJson(manifestOf(document)))),
                    none(7), none(7), ok(keyValue(7, document)), none(7)};
    http.streams = {event(R"("type":"DELETE",)", 5), event("", 6, superseded), ""};

    vesk_fleet_test::MemoryHost host;
    std::ostringstream out, log;
    FleetContext context(host, out, log);
    bool first = true; // the watch's connection; its host report's goes nowhere
    context.connect = [&](const TlsFiles& tls) -> std::unique_ptr<HttpClient> {
        return std::exchange(first, false) ? std::make_unique<Lent>(http, 13) : makeHttpClient(tls); // the next session's first read ends it
    };
    const auto [watch, instance] = vesk_fleet_test::parsed(vesk_fleet_test::command("watch", "w", {"127.0.0.1:1"}, {"--host-name", "unit"}));
    EXPECT_EQ(watch(instance, context), 0) << log.str();

    EXPECT_EQ(host.appliedRevision(L"w"), 7);
    EXPECT_EQ(host.replacements, 1);
    const std::string text = log.str();
    for (const char* line : {"state was deleted at revision 5", "applied revision 7 ", "closed the watch after", "trying again in 500 ms"})
        EXPECT_NE(text.find(line), std::string::npos) << line << "\n" << text;
    ASSERT_EQ(http.asked.size(), 13u) << text;
    for (const auto& [index, from] : std::vector<std::pair<int, const char*>>{{2, "\"5\""}, {5, "\"6\""}, {11, "\"8\""}}) {
        EXPECT_NE(http.asked[index].body.find("\"start_revision\":" + std::string(from)), std::string::npos) << http.asked[index].body;
        EXPECT_NE(http.asked[index].body.find("\"progress_notify\":true"), std::string::npos);
    }
}

// Every cut is at a line end and within the bounds, and a line longer than
// the bound is cut anyway. (That a changed value changes one chunk shows in
// the cluster test's fetch counts.)
TEST(FleetChunker, CutsAtLineEndsWithinTheBounds)
{
    const std::string lineEnd("\r\0\n\0", 4);
    const std::pair<std::string, bool> documents[] = {{vesk_fleet_test::sampleDocument(L"cut", 20000), true},
                                                       {"x=" + std::string(3 * HardMaxChunkBytes, 'y'), false}};
    for (const auto& [document, lines] : documents) {
        const auto pieces = cutDocument(document);
        std::string joined;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            joined += pieces[i];
            EXPECT_LE(pieces[i].size(), HardMaxChunkBytes);
            if (lines && i + 1 < pieces.size()) {
                EXPECT_EQ(pieces[i].substr(pieces[i].size() - 4), lineEnd) << i;
            }
        }
        EXPECT_EQ(joined, document);
        EXPECT_GT(pieces.size(), 2u);
    }
}
