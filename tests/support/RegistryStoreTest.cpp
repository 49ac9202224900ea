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
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>

using Kestlib500::RawValue;
using Kestlib500::RegistryKey;
using Kestlib500::SResManager;
using Kestlib500::StoreError;

namespace {

namespace fs = std::filesystem;

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
    const bool written = RegistryKey::Create(L"Software\\x").Set(L"v", RawValue{REG_DWORD, {1, 0, 0, 0}});
    unsetenv("XDG_DATA_HOME");
    EXPECT_TRUE(written);
    EXPECT_TRUE(fs::exists(data / "halvorn" / "registry.db")) << "missing directories and the file are made";
}

TEST_F(StoreFile, APathThatCannotBeCreatedIsAnErrorNamingIt)
{
    const fs::path blocker = directory / "plain-file";
    std::ofstream(blocker) << "x";
    UseFile(blocker / "registry.db");
    try {
        RegistryKey::Open(L"Software");
        FAIL() << "no error";
    } catch (const StoreError& error) {
        EXPECT_NE(std::string(error.what()).find((blocker / "registry.db").string()), std::string::npos) << error.what();
    }
}

TEST_F(StoreFile, AFileThatIsNoStoreIsRefusedAndKept)
{
    const fs::path text = directory / "notes.txt";
    std::ofstream(text, std::ios::binary) << std::string(8192, 'n');
    ExpectRefused(text, ReadFile(text));

    // A real SQLite database of something else is not written into either.
    const fs::path other = directory / "other.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(other.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db, "CREATE TABLE t(x); INSERT INTO t VALUES(1);", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
    ExpectRefused(other, ReadFile(other));
}

TEST_F(StoreFile, TwoProcessesWritingAtOnceLoseNothing)
{
    UseFile(directory / "shared.db");
    RegistryKey::Create(L"Software\\shared");
    SResManager::Terminate(); // each child opens its own connection

    const int writes = 3000;
    pid_t children[2];
    for (int child = 0; child < 2; ++child) {
        children[child] = fork();
        ASSERT_GE(children[child], 0);
        if (children[child] == 0) {
            int failures = 0;
            for (int i = 0; i < writes; ++i) {
                const std::wstring path = L"Software\\shared\\writer" + std::to_wstring(child) + L"\\" + std::to_wstring(i % 7);
                const auto byte = static_cast<unsigned char>(i);
                if (!RegistryKey::Create(path).Set(std::to_wstring(i).c_str(), RawValue{REG_DWORD, {byte, 0, 0, 0}}))
                    ++failures;
            }
            _exit(failures == 0 ? 0 : 1);
        }
    }
    for (pid_t child : children) {
        int status = 0;
        ASSERT_EQ(waitpid(child, &status, 0), child);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }

    int found = 0;
    for (int child = 0; child < 2; ++child)
        for (int i = 0; i < writes; ++i) {
            const std::wstring path = L"Software\\shared\\writer" + std::to_wstring(child) + L"\\" + std::to_wstring(i % 7);
            RawValue value;
            if (RegistryKey::Open(path).Query(std::to_wstring(i).c_str(), value) && value.data[0] == static_cast<unsigned char>(i))
                ++found;
        }
    EXPECT_EQ(found, 2 * writes);
}

} // namespace
