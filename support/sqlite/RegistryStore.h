#pragma once

#include "support/registry/ValueText.h"
#include "support/sqlite/Statement.h"

#include <memory>
#include <mutex>
#include <string>

namespace Kestlib500 {

// The registry where there is none: one SQLite file holding the
// HKEY_LOCAL_MACHINE tree, shared by every process that names it (WAL
// journal, busy timeout). Keys are rows named by their folded path; values
// keep their type, their raw bytes and their order of creation.
//
// One connection per process, opened on first use and closed by Close();
// its statements are prepared once and reused. Missing keys and values are
// ordinary results; a failure of the file itself throws StoreError.
class RegistryStore {
public:
    // The key id of the hive itself; 0 means no key.
    static constexpr long long HiveKey = 1;

    // The process's store for one caller at a time: holds the store's lock
    // for its life and opens the file first when it is not open.
    class Session {
    public:
        Session();
        RegistryStore* operator->() const { return store; }

    private:
        std::unique_lock<std::mutex> lock;
        RegistryStore* store;
    };

    // The file: $KESTLIB_REGISTRY, else $XDG_DATA_HOME/halvorn/registry.db,
    // else $HOME/.local/share/halvorn/registry.db.
    static std::string FilePath();
    // Closes the process's connection; the next Session opens it again.
    static void Close();

    ~RegistryStore();

    long long FindKey(const std::wstring& path);
    long long CreateKey(const std::wstring& path);
    bool DeleteTree(const std::wstring& path);

    bool QueryType(long long key, const wchar_t* name, DWORD& type);
    bool Query(long long key, const wchar_t* name, RawValue& value);
    bool Set(long long key, const wchar_t* name, const RawValue& value);
    bool DeleteValue(long long key, const wchar_t* name);
    bool ValueAt(long long key, DWORD index, std::wstring& name, RawValue& value);
    bool SubKeyAt(long long key, DWORD index, std::wstring& name);

private:
    struct Closer {
        void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
    };
    class Transaction;

    explicit RegistryStore(const std::string& file);
    void Execute(const char* sql, const char* doing);
    void EnsureSchema(const std::string& file);

    std::unique_ptr<sqlite3, Closer> db;
    std::unique_ptr<Statement> findKey, insertKey, deleteKey;
    std::unique_ptr<Statement> queryType, queryValue, setValue, deleteValue, valueAt, subKeyAt;
    std::unique_ptr<Statement> begin, commit, rollback;
};

} // namespace Kestlib500
