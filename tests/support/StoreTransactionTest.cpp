// The native store's transactions, snapshots and cursors, checked against a
// second connection to the same file (as another process would see it).
#include "support/registry/RegistryKey.h"
#include "support/registry/RegistryTransaction.h"
#include "support/registry/ServerRegistry.h"
#include "support/sqlite/RegistryStore.h"
#include "support/sqlite/StoreError.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>
#include <type_traits>

using namespace Kestlib500;

namespace {

static_assert(std::is_base_of<std::runtime_error, StoreError>::value, "hosts catch store faults as runtime_error");

const std::wstring Root = L"Software\\Halvorn\\Tessaly\\StoreTests";

// A second connection to the process's store file.
class OtherConnection {
public:
    OtherConnection()
    {
        RegistryKey::Open(L""); // the store comes into being through the layer, never empty
        if (sqlite3_open_v2(RegistryStore::FilePath().c_str(), &db, SQLITE_OPEN_READWRITE, nullptr) != SQLITE_OK)
            throw std::runtime_error("cannot open the store a second time");
    }
    ~OtherConnection() { sqlite3_close(db); }
    int Exec(const std::string& sql) { return sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr); }
    // Every key and value, and the id sequence, as text: equal dumps are equal stores.
    std::string Dump()
    {
        std::string dump;
        const char* sql = "SELECT 'k', id, parent, quote(name), quote(path) FROM registry_keys "
                          "UNION ALL SELECT 'v', seq, key, quote(name), quote(type) || quote(data) FROM registry_values "
                          "UNION ALL SELECT 's', seq, 0, name, '' FROM sqlite_sequence ORDER BY 1, 2";
        sqlite3_exec(db, sql, [](void* out, int columns, char** texts, char**) {
            for (int i = 0; i < columns; ++i)
                *static_cast<std::string*>(out) += std::string(texts[i] ? texts[i] : "NULL") + "|";
            *static_cast<std::string*>(out) += "\n";
            return 0;
        }, &dump, nullptr);
        return dump;
    }
    long long Count(const std::string& sql)
    {
        sqlite3_stmt* statement = nullptr;
        sqlite3_prepare_v2(db, sql.c_str(), -1, &statement, nullptr);
        const long long count = sqlite3_step(statement) == SQLITE_ROW ? sqlite3_column_int64(statement, 0) : -1;
        sqlite3_finalize(statement);
        return count;
    }
    // Whether this connection could take the write lock at once.
    bool CanWriteNow()
    {
        sqlite3_busy_timeout(db, 0);
        const bool free = Exec("BEGIN IMMEDIATE") == SQLITE_OK;
        Exec("ROLLBACK");
        return free;
    }

private:
    sqlite3* db = nullptr;
};

RawValue Dword(unsigned char low) { return RawValue{REG_DWORD, {low, 0, 0, 0}}; }

bool Write(const std::wstring& path, const wchar_t* name, unsigned char low)
{
    return RegistryKey::Create(path).Set(name, Dword(low));
}

int Read(const std::wstring& path, const wchar_t* name)
{
    RawValue value;
    return RegistryKey::Open(path).Query(name, value) ? value.data.at(0) : -1;
}

class StoreTransaction : public testing::Test {
protected:
    void SetUp() override { RegistryKey::Create(Root); }
    void TearDown() override { RegistryKey::DeleteTree(Root); }
    OtherConnection other;
};

TEST_F(StoreTransaction, ATransactionNotCommittedLeavesTheStoreAsItWasAndNestedScopesAreSavepoints)
{
    ASSERT_TRUE(Write(Root + L"\\kept", L"v", 1));
    ASSERT_TRUE(Write(Root + L"\\kept\\below", L"w", 2));
    const std::string before = other.Dump();
    {
        RegistryTransaction transaction;
        EXPECT_TRUE(Write(Root + L"\\kept", L"v", 9));
        EXPECT_TRUE(Write(Root + L"\\new\\deeper", L"x", 3));
        EXPECT_TRUE(RegistryKey::Open(Root + L"\\kept\\below").DeleteValue(L"w"));
        EXPECT_TRUE(RegistryKey::DeleteTree(Root + L"\\kept\\below"));
        EXPECT_EQ(Read(Root + L"\\new\\deeper", L"x"), 3) << "the transaction reads its own writes";
        for (const bool commit : {false, true}) { // nested scopes are savepoints
            RegistryTransaction inner;
            ASSERT_TRUE(Write(Root + (commit ? L"\\committed" : L"\\inner"), L"v", 1));
            if (commit)
                inner.Commit();
        }
        EXPECT_EQ(Read(Root + L"\\inner", L"v"), -1) << "the inner scope not committed is undone";
        EXPECT_EQ(Read(Root + L"\\committed", L"v"), 1);
        EXPECT_EQ(other.Count("SELECT count(*) FROM registry_keys WHERE name = 'deeper'"), 0)
            << "nothing is visible outside before the commit";
    }
    EXPECT_EQ(other.Dump(), before) << "keys, values and the id sequence as they were";
    EXPECT_TRUE(other.CanWriteNow());
}

// A trigger on the second connection makes one key's insertion fail half-way
// through a chain of new keys.
class FailingKey {
public:
    explicit FailingKey(OtherConnection& other) : other(other)
    {
        other.Exec("CREATE TRIGGER refuse BEFORE INSERT ON registry_keys WHEN NEW.name = 'refused' "
                   "BEGIN SELECT RAISE(ABORT, 'refused by the test'); END");
    }
    ~FailingKey() { other.Exec("DROP TRIGGER refuse"); }

private:
    OtherConnection& other;
};

TEST_F(StoreTransaction, AFailedKeyCreationRollsBackAndKeepsNoLock)
{
    for (bool insideTransaction : {false, true}) {
        SCOPED_TRACE(insideTransaction ? "inside a transaction" : "on its own");
        FailingKey failing(other);
        std::optional<RegistryTransaction> transaction;
        if (insideTransaction) {
            transaction.emplace();
            ASSERT_TRUE(Write(Root + L"\\before", L"v", 1));
        }
        EXPECT_THROW(RegistryKey::Create(Root + L"\\chain\\of\\refused\\keys"), StoreError);
        EXPECT_FALSE(RegistryKey::Open(Root + L"\\chain").IsOpen()) << "the keys made before the failure are gone";
        if (transaction) {
            EXPECT_EQ(Read(Root + L"\\before", L"v"), 1) << "only the failed creation is undone";
            transaction->Commit();
            transaction.reset();
            EXPECT_EQ(other.Count("SELECT count(*) FROM registry_keys WHERE name = 'before'"), 1);
        }
        EXPECT_EQ(other.Count("SELECT count(*) FROM registry_keys WHERE name IN ('chain', 'of')"), 0);
        EXPECT_TRUE(other.CanWriteNow()) << "no write lock kept";
    }
}

TEST_F(StoreTransaction, ASnapshotDoesNotSeeCommitsMadeWhileItLives)
{
    ASSERT_TRUE(Write(Root + L"\\seen", L"v", 1));
    const std::string change = "UPDATE registry_values SET data = x'02000000' WHERE name = 'v'";
    {
        RegistrySnapshot snapshot;
        EXPECT_EQ(Read(Root + L"\\seen", L"v"), 1);
        ASSERT_EQ(other.Exec(change), SQLITE_OK) << "a reader never blocks a writer";
        EXPECT_EQ(Read(Root + L"\\seen", L"v"), 1) << "one state for the snapshot's life";
    }
    EXPECT_EQ(Read(Root + L"\\seen", L"v"), 2);
}

// A registry object reads one state from its first read, made by the key's
// path before the key is open, to the later ones through the key it opens.
TEST_F(StoreTransaction, ARegistryObjectReadsOneStateFromItsFirstRead)
{
    struct ObjectKey : ServerRegistry {
        ObjectKey() : ServerRegistry(SWCharString(L"StoreTests"), SWCharString(L"object")) {}
    } key;
    ASSERT_TRUE(Write(key.GetPath(), L"a", 1) && Write(key.GetPath(), L"b", 1));
    EXPECT_STREQ(key.ReadValue(SWCharString(L"a"), DWORD(0)).c_str(), L"1");
    ASSERT_EQ(other.Exec("UPDATE registry_values SET data = x'02000000' WHERE name = 'b'"), SQLITE_OK);
    EXPECT_STREQ(key.ReadValue(SWCharString(L"b"), DWORD(0)).c_str(), L"1");
}

// Each call opens its own key: one left half-way through a walk keeps no
// state that hides a later write.
TEST_F(StoreTransaction, TwoCallsWithAWriteBetweenSeeTheNewState)
{
    const std::wstring path = Root + L"\\calls";
    for (int i = 0; i < 3; ++i)
        ASSERT_TRUE(Write(path, std::to_wstring(i).c_str(), 1));
    auto count = [&] {
        std::wstring name;
        RawValue value;
        const RegistryKey key = RegistryKey::Open(path);
        DWORD seen = 0;
        while (key.ValueAt(seen, name, value))
            ++seen;
        return seen;
    };
    {
        const RegistryKey halfWay = RegistryKey::Open(path);
        std::wstring name;
        RawValue value;
        EXPECT_TRUE(halfWay.ValueAt(1, name, value));
    }
    ASSERT_EQ(other.Exec("INSERT INTO registry_values(key, name, fold, type, data) SELECT key, 'x', x'0078', 4, "
                         "x'01000000' FROM registry_values WHERE name = '0' AND type = 4 LIMIT 1"),
        SQLITE_OK);
    EXPECT_EQ(count(), 4u);
    ASSERT_EQ(other.Exec("DELETE FROM registry_values WHERE name = 'x'"), SQLITE_OK);
    EXPECT_EQ(count(), 3u);
}

// Positions asked in turn step the cursor, others restart it; both must give
// what a fresh key gives for that position alone.
TEST_F(StoreTransaction, ACursorGivesWhatPositionalReadsGive)
{
    const std::wstring path = Root + L"\\walk";
    for (int i = 0; i < 12; ++i) {
        ASSERT_TRUE(Write(path, (L"v" + std::to_wstring(11 - i)).c_str(), static_cast<unsigned char>(i)));
        ASSERT_TRUE(RegistryKey::Create(path + L"\\k" + std::to_wstring((i * 5) % 12)).IsOpen());
    }
    auto alone = [&](DWORD index) {
        std::wstring name, key;
        RawValue value;
        const RegistryKey fresh = RegistryKey::Open(path);
        const bool hasValue = fresh.ValueAt(index, name, value);
        const bool hasKey = RegistryKey::Open(path).SubKeyAt(index, key);
        return (hasValue ? name + L"=" + std::to_wstring(value.data.at(0)) : L"-") + L"/" + (hasKey ? key : L"-");
    };
    ASSERT_TRUE(Write(Root + L"\\elsewhere", L"v", 0));
    const RegistryKey walked = RegistryKey::Open(path);
    const DWORD order[] = {0, 1, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 5, 5, 6, 6, 7, 9, 2, 3, 11, 12, 0};
    for (DWORD index : order) {
        // A write into a key that exists ends the walk's read: the cursor must start again where it was.
        EXPECT_TRUE(index != 4 || Write(Root + L"\\elsewhere", L"v", 1));
        std::wstring name = L"untouched", key = L"untouched";
        RawValue value{REG_NONE, {0xEE}};
        const bool hasValue = walked.ValueAt(index, name, value);
        const bool hasKey = walked.SubKeyAt(index, key);
        const std::wstring seen = (hasValue ? name + L"=" + std::to_wstring(value.data.at(0)) : L"-") + L"/" + (hasKey ? key : L"-");
        EXPECT_EQ(seen, alone(index)) << "position " << index;
        if (!hasValue) {
            EXPECT_EQ(name, L"untouched") << "position " << index;
        }
    }
}

// Memory running out inside SQLite must reach the caller as std::bad_alloc,
// never as a missing key or a failed write.
TEST_F(StoreTransaction, ExhaustedMemoryIsBadAllocNotAnAnswer)
{
    const std::wstring path = Root + L"\\memory";
    ASSERT_TRUE(Write(path, L"v", 1));
    RegistryKey key = RegistryKey::Open(path);
    // No room is left below: what SQLite allocates first fails, a copy it
    // binds or what running a statement takes (reads bind in place).
    const std::wstring newPath = path + L"\\new";
    RawValue value;
    DWORD type = 0;
    const struct {
        const char* row;
        std::function<void()> operation;
    } rows[] = {
        {"open", [&] { RegistryKey::Open(newPath); }},
        {"create", [&] { RegistryKey::Create(newPath); }},
        {"set", [&] { key.Set(L"n", Dword(1)); }},
        {"query", [&] { key.Query(L"v", value); }},
        {"query by path", [&] { RegistryKey::QueryAt(path, L"v", value); }},
        {"query type", [&] { key.QueryType(L"v", type); }},
        {"delete value", [&] { key.DeleteValue(L"v"); }},
    };
    for (const auto& row : rows) {
        sqlite3_hard_heap_limit64(sqlite3_memory_used());
        EXPECT_THROW(row.operation(), std::bad_alloc) << row.row;
        sqlite3_hard_heap_limit64(0);
    }
    EXPECT_EQ(Read(path, L"v"), 1);
    EXPECT_TRUE(other.CanWriteNow());
}

} // namespace
