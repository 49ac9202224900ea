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

using Settings = HostInstance;

// The first call of a process, made by many threads released together: each
// of them must get the one object. A lost creation lock shows as two objects
// here now and then, and under ThreadSanitizer as a race every time.
TEST(Exports, ManyThreadsMakingTheFirstCallGetOneObject)
{
    for (int run = 0; run < 8; ++run)
        InAFreshProcess([] {
            const GetVeskSettingsPtrFn getSettings = HostLibrary::GetSettings(); // loads, calls nothing yet
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
            for (VeskSettings* one : got)
                EXPECT_EQ(one, getSettings());
        });
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
        ASSERT_TRUE(RawRegistry::Get(Key(row.subKey), row.name, value)) << row.name;
        EXPECT_EQ(value.type, row.type) << row.name;
        EXPECT_EQ(value.data, row.data) << row.name;
    }

    // An empty instance name addresses the server key itself.
    const std::wstring subKey = RawRegistry::UniqueName(L"shared");
    settings.SetInstanceName(L"");
    ASSERT_TRUE(settings.SetIntValue(subKey.c_str(), L"n", 1));
    EXPECT_TRUE(RawRegistry::Get(ServerKey + L"\\" + subKey, L"n", value));
    EXPECT_TRUE(RawRegistry::DeleteTree(ServerKey + L"\\" + subKey));
}

// Each typed read of a value planted behind the library's back, in a key of
// its own and in a missing key below it: the value as text, the caller's
// default (nullptr here) when it is missing, or the type error.
TEST_F(Settings, TypedReadsGiveTheValueTheDefaultOrATypeError)
{
    struct Row {
        char read; // 'i'nt, 's'tring or 'b'ool
        DWORD type; // REG_NONE: nothing planted
        std::vector<unsigned char> data;
        const wchar_t* expected;
    };
    using RawRegistry::Dword;
    using RawRegistry::Text;
    const wchar_t* const typeError = L"BadKeyTypeError";
    const Row rows[] = {{'i', REG_DWORD, Dword(0xFFFFFFFF), L"-1"}, {'i', REG_NONE, {}, nullptr},
        {'s', REG_NONE, {}, nullptr}, {'b', REG_NONE, {}, nullptr}, {'i', REG_SZ, Text(L"12"), typeError},
        {'s', REG_DWORD, Dword(1), typeError}, {'s', REG_EXPAND_SZ, Text(L"%TEMP%"), typeError},
        {'b', REG_DWORD, Dword(1), typeError}, {'b', REG_SZ, Text(L"True"), L"true"}, {'b', REG_SZ, Text(L"TRUE"), L"true"},
        {'b', REG_SZ, Text(L"true"), L"true"}, {'b', REG_SZ, Text(L"False"), L"false"}, {'b', REG_SZ, Text(L"1"), L"false"},
        {'b', REG_SZ, Text(L"yes"), L"false"}, {'b', REG_SZ, Text(L""), L"false"}, {'b', REG_SZ, Text(L"True "), L"false"}};
    const std::wstring key = SubKey(L"Reads");
    const std::wstring missingKey = key + L"\\Missing";
    used.push_back(missingKey);
    std::wstring name;
    for (const Row& row : rows)
        for (bool flag : {false, true}) { // a bool's default; a name is read once, as the cache keeps the first answer
            name = L"v" + std::to_wstring(&row - rows) + (flag ? L"-true" : L"-false");
            if (row.type != REG_NONE)
                Plant(key, name.c_str(), row.type, row.data);
            for (const std::wstring& subKey : {key, missingKey}) {
                std::wstring seen;
                try {
                    if (row.read == 'i')
                        seen = std::to_wstring(settings.GetIntValue(subKey.c_str(), name.c_str(), -7));
                    else if (row.read == 'b')
                        seen = settings.GetBoolValue(subKey.c_str(), name.c_str(), flag) ? L"true" : L"false";
                    else
                        seen = settings.GetStringValue(subKey.c_str(), name.c_str(), L"fallback").c_str();
                } catch (const VeskSettings::BadKeyTypeError&) {
                    seen = typeError;
                }
                const wchar_t* fallback = row.read == 'i' ? L"-7" : row.read == 's' ? L"fallback" : flag ? L"true" : L"false";
                EXPECT_EQ(seen, !row.expected || subKey == missingKey ? fallback : row.expected) << name << " in " << subKey;
            }
        }
    EXPECT_FALSE(RawRegistry::KeyExists(Key(missingKey))) << "reads create nothing";
    EXPECT_TRUE(settings.SetIntValue(key.c_str(), name.c_str(), 3)) << "writes make no type check";
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

// Changes the logging path behind the library's back, as an operator would.
bool PlantLoggingPath(const wchar_t* path)
{
    return RawRegistry::Set(L"Software\\Halvorn\\Tessaly\\Logging", L"loggingPath", REG_SZ, RawRegistry::Text(path));
}

// A fresh process, so that no earlier test has found a path yet.
TEST(LoggingPath, IsReadUntilFoundThenKept)
{
    ASSERT_TRUE(PlantLoggingPath(L""));
    InAFreshProcess([] {
        VeskSettings& fresh = HostLibrary::Settings();
        EXPECT_STREQ(fresh.GetLoggingPath().c_str(), L"");
        ASSERT_TRUE(PlantLoggingPath(L"/var/log/orvane"));
        fresh.SetInstanceName(L"other");
        EXPECT_STREQ(fresh.GetLoggingPath().c_str(), L"/var/log/orvane");
        ASSERT_TRUE(PlantLoggingPath(L"/elsewhere"));
        EXPECT_STREQ(fresh.GetLoggingPath().c_str(), L"/var/log/orvane") << "a path found is kept";
    });
}

#if !defined(_WIN32)
#include <sqlite3.h>

// Closing the store's last connection moves what the -wal file holds into
// the store file itself; read alone (immutable=1 ignores the -wal file), the
// store file shows a write only when the unload closed the connection.
TEST(Unload, ClosesTheStore)
{
    const std::string store = std::string(std::getenv("KESTLIB_REGISTRY")) + ".unload.db";
    InAFreshProcess([&] {
        setenv("KESTLIB_REGISTRY", store.c_str(), 1); // before the library's first use, which opens the store
        ASSERT_TRUE(HostLibrary::Settings().SetIntValue(L"Unload", L"n", 1));
    });

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
#endif

} // namespace
