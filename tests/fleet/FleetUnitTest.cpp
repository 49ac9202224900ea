// The fleet's parts that need no etcd: encodings, the manifest, where access
// settings come from, and how the client reads the gateway's answers.
#include "Digest.h"
#include "EtcdClient.h"
#include "Failure.h"
#include "Fleet.h"
#include "FleetCommands.h"
#include "FleetConfig.h"
#include "FakeHosts.h"
#include "FleetState.h"
#include "Text.h"

#include <CLI/CLI.hpp>
#include <gtest/gtest.h>

#include <deque>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>

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
        EXPECT_THROW(fromBase64(bad), std::invalid_argument) << bad;
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
    const Manifest back = manifestFromJson(manifestToJson(manifest));
    EXPECT_EQ(back.bytes, manifest.bytes);
    EXPECT_EQ(back.chunks, manifest.chunks);
    EXPECT_EQ(back.note, manifest.note);
    for (const char* bad : {"", "[]", R"({"format":3,"bytes":1,"sha256":"","chunks":[]})", R"({"format":1,"bytes":"x"})",
                            R"({"format":2,"bytes":1,"sha256":"","chunks":[]})"})
        EXPECT_THROW(manifestFromJson(bad), std::invalid_argument) << bad;
}

// One etcd key per registry name: the registry's fold, not the C library's.
TEST(FleetManifest, InstanceKeysFoldAsTheRegistryDoes)
{
    EXPECT_EQ(instanceKey(L"\u00c4rzte"), instanceKey(L"\u00e4RZTE"));
    EXPECT_NE(instanceKey(L"\u212a"), instanceKey(L"k")) << "the Kelvin sign is no K to the registry";
    EXPECT_EQ(instanceKey(L"a/b%"), "a%2Fb%25") << "no instance's keys under another's";
}

namespace {

class ConfigFile {
public:
    explicit ConfigFile(const std::string& text)
        : path(std::filesystem::temp_directory_path() / ("fleet-config-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".conf"))
    {
        std::ofstream(path) << text;
    }
    ~ConfigFile() { std::filesystem::remove(path); }
    std::filesystem::path path;
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

namespace {

// Answers from a script, and remembers what was asked.
class ScriptedHttp : public HttpClient {
public:
    struct Answer {
        bool unreachable = false;
        HttpResponse response;
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
            throw HttpError("connection refused");
        return answer.response;
    }
    long postStream(const HttpRequest&, const std::function<bool(std::string_view)>&,
                    const std::function<bool()>&) override
    {
        throw HttpError("no streams here");
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
TEST(FleetEtcdClient, AnswersMapToWhatTheOperatorMustDo)
{
    const struct {
        const char* row;
        std::vector<ScriptedHttp::Answer> answers;
        EtcdError::Kind kind;
        const char* user;
    } rows[] = {
        {"every member unreachable", {{true, {}}, {true, {}}}, EtcdError::Kind::Unavailable, ""},
        {"no leader on either", {error(503, 14, "etcdserver: no leader"), error(503, 14, "etcdserver: no leader")}, EtcdError::Kind::Unavailable, ""},
        {"compacted", {error(400, 11, "etcdserver: mvcc: required revision has been compacted")}, EtcdError::Kind::Compacted, ""},
        {"not a gateway", {{false, {404, "404 page not found"}}}, EtcdError::Kind::Refused, ""},
        {"permission", {error(403, 7, "etcdserver: permission denied")}, EtcdError::Kind::PermissionDenied, ""},
        {"login refused", {error(400, 3, "etcdserver: authentication failed, invalid user ID or password")}, EtcdError::Kind::LoginRefused, "root"},
    };
    for (const auto& row : rows) {
        auto http = std::make_unique<ScriptedHttp>();
        http->answers.assign(row.answers.begin(), row.answers.end());
        EtcdClient client(settingsFor({"127.0.0.1:1", "127.0.0.1:2"}, row.user, *row.user ? "wrong" : ""), std::move(http));
        try {
            client.get("k", 3);
            ADD_FAILURE() << row.row;
        } catch (const EtcdError& failure) {
            EXPECT_EQ(static_cast<int>(failure.kind), static_cast<int>(row.kind)) << row.row << ": " << failure.what();
            EXPECT_EQ(explain(failure).find("wrong"), std::string::npos) << row.row;
            if (failure.kind == EtcdError::Kind::PermissionDenied) {
                EXPECT_NE(explain(failure).find("may not read 'k'; grant"), std::string::npos) << explain(failure);
            }
        }
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
    const KeyValue kv = client.get("k");
    EXPECT_TRUE(kv.found);
    EXPECT_EQ(kv.value, "v");
    EXPECT_EQ(kv.modRevision, 7);
    EXPECT_EQ(kv.revision, 9);
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

TEST(FleetCommandLine, OptionsReachTheCommand)
{
    vesk_fleet::FleetOptions options;
    bool chosen = false;
    CLI::App app;
    addFleetCommands(app, options, [&] { chosen = true; });
    const char* argv[] = {"vesk", "fleet", "push", "--endpoints", "http://127.0.0.1:9,127.0.0.1:1", "--if-revision", "7",
                          "-m", "why", "--force"};
    app.parse(static_cast<int>(std::size(argv)), argv);
    EXPECT_TRUE(chosen);
    EXPECT_EQ(options.action, "push");
    EXPECT_EQ(options.ifRevision, 7);
    EXPECT_EQ(options.message, "why");
    EXPECT_TRUE(options.force);
    EXPECT_EQ(options.access.endpoints.size(), 2u);

    CLI::App strict;
    addFleetCommands(strict, options, [] {});
    const char* password[] = {"vesk", "fleet", "pull", "--password", "x"};
    EXPECT_THROW(strict.parse(static_cast<int>(std::size(password)), password), CLI::ParseError)
        << "a password is never taken from the command line";
}

// Cuts follow the content: a value of another length changes the chunk that
// holds it and no other; every cut is at a line end and within the bounds.
TEST(FleetChunker, AValueOfAnotherLengthChangesOneChunk)
{
    const std::string before = vesk_fleet_test::sampleDocument(L"cut", 20000);
    std::string after = before;
    const std::string value = vesk_tool::toUtf16le(L"=\"v12345\"");
    after.replace(after.find(value), value.size(), vesk_tool::toUtf16le(L"=\"a longer value\""));
    const std::string oneLine = "x=" + std::string(3 * HardMaxChunkBytes, 'y');
    const std::string lineEnd("\r\0\n\0", 4);
    std::map<std::string, int> seen; // of the two versions
    for (const std::string* document : std::vector<const std::string*>{&before, &after, &oneLine}) {
        const auto pieces = cutDocument(*document);
        std::string joined;
        for (std::size_t i = 0; i < pieces.size(); ++i) {
            joined += pieces[i];
            EXPECT_LE(pieces[i].size(), HardMaxChunkBytes);
            if (document == &oneLine)
                continue;
            if (i + 1 < pieces.size()) {
                EXPECT_EQ(pieces[i].substr(pieces[i].size() - 4), lineEnd);
            }
            ++seen[std::string(pieces[i])];
        }
        EXPECT_EQ(joined, *document);
        EXPECT_GT(pieces.size(), 2u);
    }
    int changed = 0;
    for (const auto& piece : seen)
        changed += piece.second == 1 ? 1 : 0;
    EXPECT_EQ(changed, 2) << "one chunk of each version differs";
}
