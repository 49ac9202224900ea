#pragma once

#include "support/registry/ValueText.h"
#include "support/sqlite/Statement.h"
#include "support/sqlite/StoreSchema.h"
#include "support/sqlite/TransactionStack.h"

#include <memory>
#include <string>
#include <vector>

namespace Kestlib500 {

// The registry where there is none: one SQLite file holding the
// HKEY_LOCAL_MACHINE tree, shared by every process that names it (WAL
// journal, busy timeout). Keys are rows named by their folded path, with ids
// never used twice; values keep their type, their raw bytes and their order
// of creation.
//
// One connection per process, opened on first use and closed by Close();
// its statements are prepared once and reused. A thread holds it for one
// operation, or for the life of a transaction, snapshot or live cursor
// (re-entrantly; other threads wait). A user who may not write the file or
// its directory gets it read-only, and every write then throws. Missing keys
// and values are ordinary results; a failure of the file itself throws
// StoreError, exhausted memory std::bad_alloc.
class RegistryStore {
public:
    // The process's store for one operation: holds it for its life and
    // opens the file first when it is not open.
    class Session {
    public:
        Session() : store(&Acquire()) {}
        ~Session() { Release(); }
        Session(const Session&) = delete;
        Session& operator=(const Session&) = delete;
        RegistryStore* operator->() const { return store; }
        RegistryStore& operator*() const { return *store; }

    private:
        RegistryStore* store;
    };

    // The file: $KESTLIB_REGISTRY, else $XDG_DATA_HOME/halvorn/registry.db,
    // else $HOME/.local/share/halvorn/registry.db.
    static std::string FilePath();
    // Closes the process's connection (once no transaction, snapshot or
    // cursor lives); the next Session opens it again.
    static void Close();

    ~RegistryStore();

    long long FindKey(const std::wstring& path);
    long long CreateKey(const std::wstring& path);
    bool DeleteTree(const std::wstring& path);

    bool QueryType(long long key, const wchar_t* name, DWORD& type);
    bool Query(long long key, const wchar_t* name, RawValue& value);
    // Query() of the key at `path` (one CheckKeyPath passes) without opening
    // it: one statement finds the value by the key's path and its name.
    bool QueryAt(const std::wstring& path, const wchar_t* name, RawValue& value);
    bool Set(long long key, const wchar_t* name, const RawValue& value);
    bool DeleteValue(long long key, const wchar_t* name);

    TransactionStack& Transactions() { return *transactions; }
    // Opens a write scope (see TransactionStack); refused on a read-only store.
    void EnterWrite();
    // Statements for cursors (StoreCursor), prepared once and reused.
    std::unique_ptr<Statement> TakeCursorStatement(bool values);
    void GiveBackCursorStatement(bool values, std::unique_ptr<Statement> statement);

private:
    class WriteScope;

    // Holds the store for the calling thread (re-entrantly), opening it when
    // needed; only a Session pairs them.
    static RegistryStore& Acquire();
    static void Release();

    explicit RegistryStore(const std::string& file);
    void RefuseIfReadOnly() const;
    void BeforeWrite();

    std::string file;
    bool readOnly = false;
    StoreConnection db;
    std::unique_ptr<Statement> findKey, insertKey, deleteKey;
    std::unique_ptr<Statement> queryType, queryValue, queryValueAt, setValue, deleteValue;
    std::vector<std::unique_ptr<Statement>> idleValueCursors, idleKeyCursors;
    // The folded path and name of the operation in progress, bound in place;
    // their room is reused from one operation to the next.
    std::string pathKey, nameKey;
    std::unique_ptr<TransactionStack> transactions;
};

} // namespace Kestlib500
