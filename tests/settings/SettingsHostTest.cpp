// The settings object as a host sees it: the library loaded at run time,
// every call through the virtual table, the registry checked from below.
#include "common/FreshProcess.h"
#include "common/HostInstance.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <vector>

namespace {

std::string Narrow(const wchar_t* text)
{
    std::string narrow;
    for (; text && *text; ++text)
        narrow += *text < 0x80 ? static_cast<char>(*text) : '?';
    return narrow;
}

using Settings = HostInstance;

// The first call of a process, made by many threads released together: each
// of them must get the one object. A lost creation lock shows as two objects
// here now and then, and under ThreadSanitizer as a race every time.
TEST(InAFreshProcess, ManyThreadsMakeTheFirstCall)
{
    if (!FreshProcess::Argument())
        GTEST_SKIP() << FreshProcess::OnlyThere;
    // Loads the library and calls nothing yet.
    const GetVeskSettingsPtrFn getSettings = HostLibrary::GetSettings();
    constexpr int threads = 16;
    std::atomic<int> waiting{0};
    std::atomic<bool> go{false};
    std::vector<VeskSettings*> got(threads, nullptr);
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t)
        workers.emplace_back([&, t] {
            ++waiting;
            while (!go)
                std::this_thread::yield();
            got[t] = getSettings();
        });
    while (waiting < threads)
        std::this_thread::yield();
    go = true;
    for (std::thread& worker : workers)
        worker.join();
    ASSERT_NE(got[0], nullptr);
    for (int t = 1; t < threads; ++t)
        EXPECT_EQ(got[t], got[0]) << "thread " << t;
    EXPECT_EQ(getSettings(), got[0]);
}

TEST(Exports, ManyThreadsMakingTheFirstCallGetOneObject)
{
    for (int run = 0; run < 8; ++run)
        ASSERT_EQ(FreshProcess::Run("InAFreshProcess.ManyThreadsMakeTheFirstCall", "threads"), 0) << "run " << run;
}

TEST_F(Settings, ValuesLandWhereTheLayoutSays)
{
    EXPECT_EQ(HostLibrary::GetFullKey()(), ServerKey);
    ASSERT_TRUE(settings.SetIntValue(L"Net", L"port", 8080));
    ASSERT_TRUE(settings.SetStringValue(L"Net\\Deep", L"host", L"example"));
    ASSERT_TRUE(settings.SetBoolValue(L"", L"enabled", true));
    ASSERT_TRUE(settings.SetBoolValue(L"", L"disabled", false));
    const struct {
        const wchar_t* subKey;
        const wchar_t* name;
        DWORD type;
        std::vector<unsigned char> data;
    } rows[] = {{L"Net", L"port", REG_DWORD, RawRegistry::Dword(8080)},
        {L"Net\\Deep", L"host", REG_SZ, RawRegistry::Text(L"example")},
        {L"", L"enabled", REG_SZ, RawRegistry::Text(L"True")}, {L"", L"disabled", REG_SZ, RawRegistry::Text(L"False")}};
    Kestlib500::RawValue value;
    for (const auto& row : rows) {
        ASSERT_TRUE(RawRegistry::Get(Key(row.subKey), row.name, value)) << Narrow(row.name);
        EXPECT_EQ(value.type, row.type) << Narrow(row.name);
        EXPECT_EQ(value.data, row.data) << Narrow(row.name);
    }

    // An empty instance name addresses the server key itself.
    const std::wstring subKey = RawRegistry::UniqueName(L"shared");
    settings.SetInstanceName(L"");
    ASSERT_TRUE(settings.SetIntValue(subKey.c_str(), L"n", 1));
    EXPECT_TRUE(RawRegistry::Get(ServerKey + L"\\" + subKey, L"n", value));
    EXPECT_TRUE(RawRegistry::DeleteTree(ServerKey + L"\\" + subKey));
}

TEST_F(Settings, MissingValuesAndKeysGiveTheDefault)
{
    ASSERT_TRUE(settings.SetIntValue(L"Defaults", L"present", 1));
    for (const wchar_t* subKey : {L"Defaults", L"Defaults\\Missing"}) {
        EXPECT_EQ(settings.GetIntValue(subKey, L"absent", -7), -7) << Narrow(subKey);
        EXPECT_STREQ(settings.GetStringValue(subKey, L"absent", L"fallback").c_str(), L"fallback");
        EXPECT_TRUE(settings.GetBoolValue(subKey, L"absent", true));
        EXPECT_FALSE(settings.GetBoolValue(subKey, L"absent2", false));
    }
    EXPECT_FALSE(RawRegistry::KeyExists(Key(L"Defaults\\Missing"))) << "reads create nothing";
}

TEST_F(Settings, AWrongStoredTypeThrowsBadKeyTypeError)
{
    ASSERT_TRUE(RawRegistry::Set(Key(L"Types"), L"textNumber", REG_SZ, RawRegistry::Text(L"12")));
    ASSERT_TRUE(RawRegistry::Set(Key(L"Types"), L"number", REG_DWORD, RawRegistry::Dword(1)));
    ASSERT_TRUE(RawRegistry::Set(Key(L"Types"), L"expand", REG_EXPAND_SZ, RawRegistry::Text(L"%TEMP%")));

    EXPECT_THROW(settings.GetIntValue(L"Types", L"textNumber", 0), VeskSettings::BadKeyTypeError);
    EXPECT_THROW(settings.GetStringValue(L"Types", L"number", L""), VeskSettings::BadKeyTypeError);
    EXPECT_THROW(settings.GetStringValue(L"Types", L"expand", L""), VeskSettings::BadKeyTypeError);
    EXPECT_THROW(settings.GetBoolValue(L"Types", L"number", false), VeskSettings::BadKeyTypeError);
    // Writes make no type check.
    EXPECT_TRUE(settings.SetIntValue(L"Types", L"expand", 3));
}

TEST_F(Settings, BooleansReadTrueOnlyForTrueInAnyCase)
{
    struct Row {
        const wchar_t* stored;
        bool expected;
    };
    const Row rows[] = {{L"True", true}, {L"TRUE", true}, {L"true", true}, {L"False", false},
        {L"1", false}, {L"yes", false}, {L"", false}, {L"True ", false}};
    int row = 0;
    for (const Row& entry : rows) {
        const std::wstring name = L"b" + std::to_wstring(row++);
        ASSERT_TRUE(RawRegistry::Set(Key(L"Bools"), name.c_str(), REG_SZ, RawRegistry::Text(entry.stored)));
        for (bool defaultValue : {false, true})
            EXPECT_EQ(settings.GetBoolValue(L"Bools", name.c_str(), defaultValue), entry.expected)
                << "stored \"" << Narrow(entry.stored) << "\", default " << defaultValue;
    }
    ASSERT_TRUE(settings.SetBoolValue(L"Bools2", L"flag", true));
    EXPECT_STREQ(settings.GetStringValue(L"Bools2", L"flag", L"").c_str(), L"True");
}

TEST_F(Settings, EnumerationIsByPosition)
{
    ASSERT_TRUE(settings.SetIntValue(L"Enum", L"alpha", 1));
    ASSERT_TRUE(settings.SetStringValue(L"Enum", L"beta", L"two"));
    ASSERT_TRUE(settings.SetBoolValue(L"Enum", L"gamma", true));
    ASSERT_TRUE(settings.SetIntValue(L"Enum\\Empty\\Below", L"x", 1));

    std::vector<std::wstring> seen;
    WString name, value;
    for (int index = -1; index < 3; ++index) {
        ASSERT_TRUE(settings.EnumerateValues(L"Enum", index, name, value)) << index;
        seen.push_back(std::wstring(name.c_str()) + L"=" + value.c_str());
    }
    EXPECT_EQ(seen[0], seen[1]) << "a negative index reads position 0";
    std::sort(seen.begin() + 1, seen.end());
    EXPECT_EQ(std::vector<std::wstring>(seen.begin() + 1, seen.end()),
        (std::vector<std::wstring>{L"alpha=1", L"beta=two", L"gamma=True"}));

    EXPECT_FALSE(settings.EnumerateValues(L"Enum", 3, name, value));
    EXPECT_FALSE(settings.EnumerateSubKeys(L"Enum", 1, name));
    EXPECT_EQ(std::wstring(name.c_str()) + L"=" + value.c_str(), seen.back()) << "past the end nothing is written";

    // Position 0 of a key without values still answers, with empty texts.
    ASSERT_TRUE(settings.EnumerateValues(L"Enum\\Empty", 0, name, value));
    EXPECT_STREQ(name.c_str(), L"");
    EXPECT_STREQ(value.c_str(), L"");
    ASSERT_TRUE(settings.EnumerateSubKeys(L"", 0, name));
    EXPECT_STREQ(name.c_str(), L"Enum");
}

// What deletion itself does is the registry layer's; here, what the sub-key
// names: a path below the instance, or the instance's key when empty.
TEST_F(Settings, DeletionAndExistenceAddressTheInstancesKeys)
{
    ASSERT_TRUE(settings.SetIntValue(L"Tree\\A\\B", L"x", 1));
    EXPECT_TRUE(settings.KeyExists(L"Tree\\A"));
    EXPECT_TRUE(settings.DeleteKey(L"Tree\\A"));
    EXPECT_FALSE(RawRegistry::KeyExists(Key(L"Tree\\A")));
    EXPECT_TRUE(RawRegistry::KeyExists(Key(L"Tree")));
    EXPECT_TRUE(settings.DeleteKey(L""));
    EXPECT_FALSE(settings.KeyExists(L""));
    EXPECT_FALSE(RawRegistry::KeyExists(Key()));
}

const std::wstring LoggingKey = L"Software\\Halvorn\\Tessaly\\Logging";

// Changes the logging path behind the library's back, as an operator would.
bool PlantLoggingPath(const wchar_t* path)
{
    return RawRegistry::Set(LoggingKey, L"loggingPath", REG_SZ, RawRegistry::Text(path));
}

TEST(LoggingPath, IsReadUntilFoundThenKept)
{
    Kestlib500::RawValue saved;
    const bool hadOne = RawRegistry::Get(LoggingKey, L"loggingPath", saved);
    ASSERT_TRUE(PlantLoggingPath(L""));
    // A fresh process, so that no earlier test has found a path yet.
    EXPECT_EQ(FreshProcess::Run("InAFreshProcess.LooksForTheLoggingPath", "logging"), 0);
    if (hadOne)
        RawRegistry::Set(LoggingKey, L"loggingPath", saved.type, saved.data);
}

TEST(InAFreshProcess, LooksForTheLoggingPath)
{
    if (!FreshProcess::Argument())
        GTEST_SKIP() << FreshProcess::OnlyThere;
    VeskSettings& fresh = HostLibrary::Settings();
    EXPECT_STREQ(fresh.GetLoggingPath().c_str(), L"");
    ASSERT_TRUE(PlantLoggingPath(L"/var/log/orvane"));
    fresh.SetInstanceName(L"other");
    EXPECT_STREQ(fresh.GetLoggingPath().c_str(), L"/var/log/orvane");
    ASSERT_TRUE(PlantLoggingPath(L"/elsewhere"));
    EXPECT_STREQ(fresh.GetLoggingPath().c_str(), L"/var/log/orvane") << "a path found is kept";
}

#if !defined(_WIN32)
#include <sqlite3.h>

// Closing the store's last connection moves what the -wal file holds into
// the store file itself; read alone (immutable=1 ignores the -wal file), the
// store file shows a write only when the unload closed the connection.
TEST(Unload, ClosesTheStore)
{
    const char* parentStore = std::getenv("KESTLIB_REGISTRY");
    ASSERT_NE(parentStore, nullptr) << "TestMain names a store for every test program";
    const std::string store = std::string(parentStore) + ".unload.db";
    ASSERT_EQ(FreshProcess::Run("InAFreshProcess.WritesToAStoreOfItsOwn", store), 0);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open_v2(("file:" + store + "?immutable=1").c_str(), &db, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI, nullptr), SQLITE_OK);
    sqlite3_stmt* count = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, "SELECT count(*) FROM registry_values", -1, &count, nullptr), SQLITE_OK);
    ASSERT_EQ(sqlite3_step(count), SQLITE_ROW);
    EXPECT_EQ(sqlite3_column_int(count, 0), 1) << "the write is still only in the -wal file";
    sqlite3_finalize(count);
    sqlite3_close(db);
    for (const char* file : {"", "-wal", "-shm"})
        std::filesystem::remove(store + file);
}

TEST(InAFreshProcess, WritesToAStoreOfItsOwn)
{
    const char* store = FreshProcess::Argument();
    if (!store)
        GTEST_SKIP() << FreshProcess::OnlyThere;
    // Before the library's first use, which opens the store.
    setenv("KESTLIB_REGISTRY", store, 1);
    ASSERT_TRUE(HostLibrary::Settings().SetIntValue(L"Unload", L"n", 1));
}
#endif

} // namespace
