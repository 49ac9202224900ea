// The native store as a file: where it lives, what it refuses, and several
// processes sharing it.
#include "support/registry/RegistryKey.h"
#include "support/registry/SResManager.h"
#include "support/sqlite/RegistryStore.h"
#include "support/sqlite/StoreError.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using Kestlib500::RawValue;
using Kestlib500::RegistryKey;
using Kestlib500::SResManager;
using Kestlib500::StoreError;

namespace {

namespace fs = std::filesystem;

// Starts `work` in a child process; the child exits 0 when it returns true.
pid_t Spawn(const std::function<bool()>& work)
{
    const pid_t child = fork();
    if (child == 0)
        _exit(work() ? 0 : 1);
    return child;
}

// Whether the child exited 0.
bool Succeeded(pid_t child)
{
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

RawValue Dword(unsigned char low) { return RawValue{REG_DWORD, {low, 0, 0, 0}}; }

std::string ReadFile(const fs::path& file)
{
    std::ifstream in(file, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// Points the store at another file for one test; the process's own store
// comes back afterwards.
class StoreFile : public testing::Test {
protected:
    void SetUp() override
    {
        saved = std::getenv("KESTLIB_REGISTRY");
        directory = fs::path(saved).parent_path() / testing::UnitTest::GetInstance()->current_test_info()->name();
        fs::create_directories(directory);
        SResManager::Terminate();
    }
    void TearDown() override
    {
        SResManager::Terminate();
        setenv("KESTLIB_REGISTRY", saved.c_str(), 1);
        std::error_code ignored;
        fs::remove_all(directory, ignored);
    }
    void UseFile(const fs::path& file)
    {
        SResManager::Terminate();
        setenv("KESTLIB_REGISTRY", file.c_str(), 1);
    }
    // Opening the store must fail naming `file`, and leave it as it was.
    void ExpectRefused(const fs::path& file, const std::string& before)
    {
        UseFile(file);
        try {
            RegistryKey::Create(L"Software\\x");
            ADD_FAILURE() << "no error for " << file;
        } catch (const StoreError& error) {
            EXPECT_NE(std::string(error.what()).find(file.string()), std::string::npos) << error.what();
        }
        EXPECT_TRUE(ReadFile(file) == before) << "the file must not be replaced or truncated";
    }

    std::string saved;
    fs::path directory;
};

TEST_F(StoreFile, WithoutItsVariableTheStoreIsMadeUnderTheDataHome)
{
    unsetenv("KESTLIB_REGISTRY");
    const fs::path data = directory / "not" / "yet";
    setenv("XDG_DATA_HOME", data.c_str(), 1);
    SResManager::Terminate();
    const bool written = RegistryKey::Create(L"Software\\x").Set(L"v", Dword(1));
    unsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(written);
    EXPECT_TRUE(fs::exists(data / "halvorn" / "registry.db")) << "missing directories and the file are made";
}

TEST_F(StoreFile, WhatIsNoStoreIsRefusedNamingItAndKept)
{
    const fs::path text = directory / "notes.txt";
    std::ofstream(text, std::ios::binary) << std::string(8192, 'n');
    // An empty file is no new store: a store is made whole beside it and
    // linked in, so an empty one was emptied by something else.
    const fs::path empty = directory / "emptied.db";
    std::ofstream(empty).close();
    // A real SQLite database of something else is not written into either.
    const fs::path other = directory / "other.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    // Below a plain file no store can be made.
    for (const fs::path& file : {text, empty, other, text / "registry.db"})
        ExpectRefused(file, ReadFile(file));
}

TEST_F(StoreFile, TwoProcessesWritingAtOnceLoseNothing)
{
    UseFile(directory / "shared.db");
    RegistryKey::Create(L"Software\\shared");
    SResManager::Terminate(); // each child opens its own connection

    const int writes = 3000;
    const auto path = [](int child, int i) {
        return L"Software\\shared\\writer" + std::to_wstring(child) + L"\\" + std::to_wstring(i % 7);
    };
    pid_t children[2];
    for (int child = 0; child < 2; ++child)
        children[child] = Spawn([&] {
            bool written = true;
            for (int i = 0; i < writes; ++i)
                written = RegistryKey::Create(path(child, i)).Set(std::to_wstring(i).c_str(), Dword(static_cast<unsigned char>(i))) && written;
            return written;
        });
    for (pid_t child : children)
        EXPECT_TRUE(Succeeded(child));
    int found = 0;
    for (int child = 0; child < 2; ++child)
        for (int i = 0; i < writes; ++i) {
            RawValue value;
            if (RegistryKey::Open(path(child, i)).Query(std::to_wstring(i).c_str(), value) && value.data[0] == static_cast<unsigned char>(i))
                ++found;
        }
    EXPECT_EQ(found, 2 * writes);
}

TEST_F(StoreFile, AWriteIntoAKeyDeletedMeanwhileFailsAndReachesNoOtherKey)
{
    UseFile(directory / "ids.db");
    // The newest key: with ids used again, the next key made would get its id.
    RegistryKey opened = RegistryKey::Create(L"Software\\ids\\doomed");
    ASSERT_TRUE(opened.IsOpen());
    SResManager::Terminate(); // the child opens a connection of its own
    ASSERT_TRUE(Succeeded(Spawn([] {
        return RegistryKey::DeleteTree(L"Software\\ids\\doomed") && RegistryKey::Create(L"Software\\ids\\newcomer").IsOpen();
    })));

    bool written = true;
    EXPECT_NO_THROW(written = opened.Set(L"v", Dword(1))) << "a deleted key is no store fault";
    EXPECT_FALSE(written);
    RawValue value;
    EXPECT_FALSE(RegistryKey::Open(L"Software\\ids\\newcomer").Query(L"v", value)) << "an id names one key only";
}

// A store made by the first schema (plain rowids as key ids) keeps its keys,
// values and ids, and from then on never gives an id twice.
TEST_F(StoreFile, AStoreOfTheFirstSchemaIsUpgradedInPlace)
{
    const fs::path file = directory / "first.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(file.c_str(), &db), SQLITE_OK);
    const char* first = R"(
        CREATE TABLE registry_keys(id INTEGER PRIMARY KEY,
            parent INTEGER REFERENCES registry_keys(id) ON DELETE CASCADE,
            name TEXT NOT NULL, fold BLOB NOT NULL, path BLOB NOT NULL UNIQUE);
        CREATE INDEX registry_keys_children ON registry_keys(parent, fold);
        CREATE TABLE registry_values(seq INTEGER PRIMARY KEY,
            key INTEGER NOT NULL REFERENCES registry_keys(id) ON DELETE CASCADE,
            name TEXT NOT NULL, fold BLOB NOT NULL, type INTEGER NOT NULL, data BLOB NOT NULL, UNIQUE(key, fold));
        CREATE INDEX registry_values_order ON registry_values(key, seq);
        INSERT INTO registry_keys VALUES(1, NULL, '', x'', x'');
        INSERT INTO registry_keys VALUES(2, 1, 'Old', x'006f006c0064', x'006f006c0064');
        INSERT INTO registry_values VALUES(1, 2, 'v', x'0076', 4, x'2a000000');
        PRAGMA application_id = 1263682887;)";
    ASSERT_EQ(sqlite3_exec(db, first, nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);

    UseFile(file);
    RegistryKey old = RegistryKey::Open(L"old");
    RawValue value;
    ASSERT_TRUE(old.Query(L"V", value));
    EXPECT_EQ(value.data, (std::vector<unsigned char>{42, 0, 0, 0}));
    EXPECT_TRUE(RegistryKey::DeleteTree(L"Old"));
    EXPECT_TRUE(RegistryKey::Create(L"New").IsOpen());
    EXPECT_FALSE(old.Set(L"v", Dword(1))) << "id 2, the largest, is not given again";
}

// A user who may read the store but not write it, or its directory, reads
// it; a write is refused naming the permission and the file; and nothing is
// left that would stop the owner writing afterwards. Runs this program again
// as nobody, with the reader's part below selected.
const char* const ReaderRole = "VESK_STORE_TEST_READER";

TEST(SharedStoreReader, ReadsAndIsRefusedWrites)
{
    if (!std::getenv(ReaderRole))
        GTEST_SKIP() << "the reader's half of StoreFile.AUserWhoMayOnlyReadTheStoreReadsIt";
    const std::string file = std::getenv("KESTLIB_REGISTRY");
    RawValue value;
    EXPECT_TRUE(RegistryKey::Open(L"Software\\shared").Query(L"last", value)) << "the owner's latest write";
    std::wstring name;
    EXPECT_TRUE(RegistryKey::Open(L"Software\\shared").ValueAt(0, name, value));
    for (const char* write : {"set", "create"}) {
        try {
            if (std::string(write) == "set")
                RegistryKey::Open(L"Software\\shared").Set(L"mine", Dword(1));
            else
                RegistryKey::Create(L"Software\\shared\\mine");
            ADD_FAILURE() << write << ": no error";
        } catch (const StoreError& error) {
            const std::string message = error.what();
            EXPECT_NE(message.find("permission"), std::string::npos) << write << ": " << message;
            EXPECT_NE(message.find(file), std::string::npos) << write << ": " << message;
        }
    }
}

TEST_F(StoreFile, AUserWhoMayOnlyReadTheStoreReadsIt)
{
    if (geteuid() != 0 || access("/usr/bin/setpriv", X_OK) != 0)
        GTEST_SKIP() << "needs root and setpriv to run a reader as another user";
    // The directory shared (anyone may create files there) or closed to the
    // reader; the owner's connection closed, or open with its writes still
    // in the -wal file.
    const struct {
        const char* row;
        mode_t directoryMode;
        bool ownerOpen;
    } rows[] = {{"closed directory", 0755, false}, {"shared directory", 01777, false}, {"owner writing", 01777, true}};
    for (const auto& row : rows) {
        std::string shared = (fs::temp_directory_path() / "vesk-shared-XXXXXX").string();
        ASSERT_TRUE(mkdtemp(shared.data()));
        chmod(shared.c_str(), row.directoryMode);
        const fs::path file = fs::path(shared) / "registry.db";
        UseFile(file);
        ASSERT_TRUE(RegistryKey::Create(L"Software\\shared").Set(L"first", Dword(1)));
        chmod(file.c_str(), 0644);
        ASSERT_TRUE(RegistryKey::Open(L"Software\\shared").Set(L"last", Dword(2)));
        if (!row.ownerOpen)
            SResManager::Terminate();

        const std::string program = fs::read_symlink("/proc/self/exe").string();
        EXPECT_TRUE(Succeeded(Spawn([&] {
            setenv(ReaderRole, "1", 1);
            execl("/usr/bin/setpriv", "setpriv", "--reuid=nobody", "--regid=nogroup", "--clear-groups", "--", program.c_str(),
                "--gtest_filter=SharedStoreReader.*", static_cast<char*>(nullptr));
            return false;
        }))) << row.row << ": the reader failed, see above";
        for (const fs::directory_entry& entry : fs::directory_iterator(shared)) {
            struct stat info {};
            stat(entry.path().c_str(), &info);
            EXPECT_EQ(info.st_uid, 0u) << row.row << ": the reader left " << entry.path();
        }
        SResManager::Terminate();
        EXPECT_TRUE(RegistryKey::Open(L"Software\\shared").Set(L"after", Dword(3))) << row.row;
        SResManager::Terminate();
        fs::remove_all(shared);
    }
}

} // namespace
