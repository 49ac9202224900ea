#include "support/sqlite/RegistryStore.h"

#include "support/registry/KeyPath.h"
#include "support/sqlite/SortKey.h"
#include "support/sqlite/StoreError.h"
#include "support/sqlite/StoreSchema.h"
#include "support/text/Unicode.h"

#include <cstdlib>
#include <mutex>

namespace Kestlib500 {
namespace {

// Re-entrant: a thread holding the store for a transaction, snapshot or
// cursor goes on using it operation by operation.
std::recursive_mutex storeLock;
// Owned here and released only by Close(). No static destructor: at process
// exit that would run besides the unload hook, and close the store twice.
RegistryStore* openStore = nullptr;
// How often the holding thread holds it; Close() while it is held (by a
// transaction, snapshot or cursor) leaves the closing to the last Release().
int holdDepth = 0;
bool closeWhenIdle = false;

// The elements of a key path; empty ones (doubled or outer backslashes) are
// skipped, as the registry skips them.
std::vector<std::wstring> PathElements(const std::wstring& path)
{
    std::vector<std::wstring> elements;
    std::size_t from = 0;
    while (from <= path.size()) {
        std::size_t end = path.find(L'\\', from);
        if (end == std::wstring::npos)
            end = path.size();
        if (end > from)
            elements.push_back(path.substr(from, end - from));
        from = end + 1;
    }
    return elements;
}

// The value (type, data) of the row `run` finds into `value`, which a
// failure leaves untouched; false when there is no row.
bool TakeValue(Statement::Run& run, RawValue& value)
{
    if (!run.Step())
        return false;
    RawValue found{static_cast<DWORD>(run.Number(0)), run.Bytes(1)};
    value = std::move(found);
    return true;
}

} // namespace

// One write scope of the store's own (a savepoint inside a transaction),
// rolled back unless committed.
class RegistryStore::WriteScope {
public:
    explicit WriteScope(RegistryStore& store) : transactions(store.Transactions()) { store.EnterWrite(); }
    ~WriteScope() { transactions.LeaveWrite(); }
    WriteScope(const WriteScope&) = delete;
    WriteScope& operator=(const WriteScope&) = delete;
    void Commit() { transactions.CommitWrite(); }

private:
    TransactionStack& transactions;
};

RegistryStore& RegistryStore::Acquire()
{
    storeLock.lock();
    try {
        if (!openStore)
            openStore = new RegistryStore(FilePath());
    } catch (...) {
        storeLock.unlock();
        throw;
    }
    ++holdDepth;
    return *openStore;
}

void RegistryStore::Release()
{
    if (--holdDepth == 0 && closeWhenIdle) {
        delete openStore;
        openStore = nullptr;
        closeWhenIdle = false;
    }
    storeLock.unlock();
}

std::string RegistryStore::FilePath()
{
    if (const char* file = std::getenv("KESTLIB_REGISTRY"); file && *file)
        return file;
    if (const char* data = std::getenv("XDG_DATA_HOME"); data && *data)
        return std::string(data) + "/halvorn/registry.db";
    const char* home = std::getenv("HOME");
    if (!home || !*home)
        throw StoreError("registry store: neither KESTLIB_REGISTRY, XDG_DATA_HOME nor HOME is set; set "
                         "KESTLIB_REGISTRY to the store's file",
            SQLITE_CANTOPEN);
    return std::string(home) + "/.local/share/halvorn/registry.db";
}

void RegistryStore::Close()
{
    std::lock_guard<std::recursive_mutex> lock(storeLock);
    if (holdDepth > 0) {
        closeWhenIdle = true;
        return;
    }
    delete openStore;
    openStore = nullptr;
}

RegistryStore::RegistryStore(const std::string& file) : file(file)
{
    db = OpenStoreFile(file, readOnly);
    sqlite3* handle = db.get();
    sqlite3_busy_timeout(handle, 10000);
    // A key deleted under an open handle is told from other refusals by
    // its extended code.
    sqlite3_extended_result_codes(handle, 1);
    EnsureSchema(handle, file, readOnly);
    const int code = sqlite3_exec(handle,
        readOnly ? "PRAGMA foreign_keys=ON;"
                 : "PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON; "
                   "PRAGMA journal_size_limit=1048576;",
        nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        ThrowStoreError(handle, code, "opening the store");
    // The -wal and -shm files stay when the connection closes: a user who
    // may only read the store needs them there, and may not create them.
    int persist = 1;
    if (!readOnly)
        sqlite3_file_control(handle, "main", SQLITE_FCNTL_PERSIST_WAL, &persist);

    findKey.reset(new Statement(handle, "SELECT id FROM registry_keys WHERE path = ?1"));
    insertKey.reset(new Statement(handle, "INSERT INTO registry_keys(parent, name, fold, path) VALUES(?1, ?2, ?3, ?4)"));
    deleteKey.reset(new Statement(
        handle, ("DELETE FROM registry_keys WHERE path = ?1 AND id <> " + std::to_string(HiveKey)).c_str()));
    queryType.reset(new Statement(handle, "SELECT type FROM registry_values WHERE key = ?1 AND fold = ?2"));
    queryValue.reset(new Statement(handle, "SELECT type, data FROM registry_values WHERE key = ?1 AND fold = ?2"));
    queryValueAt.reset(new Statement(handle,
        "SELECT v.type, v.data FROM registry_keys k JOIN registry_values v ON v.key = k.id "
        "WHERE k.path = ?1 AND v.fold = ?2"));
    setValue.reset(new Statement(handle,
        "INSERT INTO registry_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"));
    deleteValue.reset(new Statement(handle, "DELETE FROM registry_values WHERE key = ?1 AND fold = ?2"));
    transactions.reset(new TransactionStack(handle));
}

RegistryStore::~RegistryStore() = default;

std::unique_ptr<Statement> RegistryStore::TakeCursorStatement(bool values)
{
    auto& idle = values ? idleValueCursors : idleKeyCursors;
    if (idle.empty())
        return std::unique_ptr<Statement>(new Statement(db.get(),
            values ? "SELECT name, type, data FROM registry_values WHERE key = ?1 ORDER BY seq LIMIT -1 OFFSET ?2"
                   : "SELECT name FROM registry_keys WHERE parent = ?1 ORDER BY fold LIMIT -1 OFFSET ?2"));
    std::unique_ptr<Statement> statement = std::move(idle.back());
    idle.pop_back();
    return statement;
}

void RegistryStore::GiveBackCursorStatement(bool values, std::unique_ptr<Statement> statement)
{
    (values ? idleValueCursors : idleKeyCursors).push_back(std::move(statement));
}

// A user who may only read the store learns why a write cannot be done.
void RegistryStore::RefuseIfReadOnly() const
{
    if (readOnly)
        throw StoreError("registry store '" + file + "': permission denied: this user may read the store but not "
                + "write the file or its directory; run as a user who may, or ask the store's owner for write access",
            SQLITE_READONLY);
}

void RegistryStore::BeforeWrite()
{
    RefuseIfReadOnly();
    transactions->BeforeWrite();
}

void RegistryStore::EnterWrite()
{
    RefuseIfReadOnly();
    transactions->EnterWrite();
}

long long RegistryStore::FindKey(const std::wstring& path)
{
    transactions->BeforeRead();
    PathSortKey(path, pathKey);
    Statement::Run run(*findKey);
    run.BindBlobInPlace(1, pathKey);
    return run.Step() ? run.Number(0) : 0;
}

long long RegistryStore::CreateKey(const std::wstring& path)
{
    if (const long long existing = FindKey(path))
        return existing;
    if (CheckKeyPath(path) != KeyPathProblem::None)
        return 0;

    WriteScope scope(*this);
    long long key = HiveKey;
    std::string folded;
    for (const std::wstring& name : PathElements(path)) {
        if (!folded.empty())
            folded.append("\0\\", 2);
        const std::string nameFold = NameSortKey(name.c_str());
        folded += nameFold;
        Statement::Run find(*findKey);
        find.BindBlob(1, folded);
        if (find.Step()) {
            key = find.Number(0);
            continue;
        }
        Statement::Run insert(*insertKey);
        insert.Bind(1, key).Bind(2, vesk_text::toUtf16(name.c_str()));
        insert.BindBlob(3, nameFold).BindBlob(4, folded);
        insert.Execute();
        key = sqlite3_last_insert_rowid(db.get());
    }
    scope.Commit();
    return key;
}

bool RegistryStore::DeleteTree(const std::wstring& path)
{
    BeforeWrite();
    PathSortKey(path, pathKey);
    Statement::Run run(*deleteKey);
    run.BindBlobInPlace(1, pathKey);
    return run.Execute() > 0;
}

bool RegistryStore::QueryType(long long key, const wchar_t* name, DWORD& type)
{
    if (!ValueNameFits(name))
        return false;
    transactions->BeforeRead();
    NameSortKey(name, nameKey);
    Statement::Run run(*queryType);
    run.Bind(1, key).BindBlobInPlace(2, nameKey);
    if (!run.Step())
        return false;
    type = static_cast<DWORD>(run.Number(0));
    return true;
}

bool RegistryStore::Query(long long key, const wchar_t* name, RawValue& value)
{
    if (!ValueNameFits(name))
        return false;
    transactions->BeforeRead();
    NameSortKey(name, nameKey);
    Statement::Run run(*queryValue);
    run.Bind(1, key).BindBlobInPlace(2, nameKey);
    return TakeValue(run, value);
}

bool RegistryStore::QueryAt(const std::wstring& path, const wchar_t* name, RawValue& value)
{
    if (!ValueNameFits(name))
        return false;
    transactions->BeforeRead();
    PathSortKey(path, pathKey);
    NameSortKey(name, nameKey);
    Statement::Run run(*queryValueAt);
    run.BindBlobInPlace(1, pathKey).BindBlobInPlace(2, nameKey);
    return TakeValue(run, value);
}

bool RegistryStore::Set(long long key, const wchar_t* name, const RawValue& value)
{
    if (!ValueNameFits(name))
        return false;
    BeforeWrite();
    Statement::Run run(*setValue);
    run.Bind(1, key).Bind(2, vesk_text::toUtf16(name)).BindBlob(3, NameSortKey(name)).Bind(4, value.type);
    run.BindBlob(5, value.data.data(), value.data.size());
    try {
        run.Execute();
    } catch (const StoreError& error) {
        // The key was deleted since it was opened: the write fails, as it
        // does in the registry.
        if (error.code == SQLITE_CONSTRAINT_FOREIGNKEY)
            return false;
        throw;
    }
    return true;
}

bool RegistryStore::DeleteValue(long long key, const wchar_t* name)
{
    if (!ValueNameFits(name))
        return false;
    BeforeWrite();
    NameSortKey(name, nameKey);
    Statement::Run run(*deleteValue);
    run.Bind(1, key).BindBlobInPlace(2, nameKey);
    return run.Execute() > 0;
}

} // namespace Kestlib500
