#include "support/sqlite/RegistryStore.h"

#include "support/registry/KeyPath.h"
#include "support/registry/RegistryKey.h"
#include "support/text/Unicode.h"
#include "support/sqlite/CaseFold.h"
#include "support/sqlite/StoreError.h"

#include <cstdlib>
#include <filesystem>
#include <vector>

namespace Kestlib500 {
namespace {

// Marks a file as a registry store ("KREG").
constexpr long long StoreApplicationId = 0x4B524547;

const char* const Schema = R"(
CREATE TABLE registry_keys(
    id INTEGER PRIMARY KEY,
    parent INTEGER REFERENCES registry_keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    fold BLOB NOT NULL,
    path BLOB NOT NULL UNIQUE);
CREATE INDEX registry_keys_children ON registry_keys(parent, fold);
CREATE TABLE registry_values(
    seq INTEGER PRIMARY KEY,
    key INTEGER NOT NULL REFERENCES registry_keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    fold BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold));
CREATE INDEX registry_values_order ON registry_values(key, seq);
INSERT INTO registry_keys(id, parent, name, fold, path) VALUES(1, NULL, '', x'', x'');
)";

std::mutex storeLock;
// Owned here and released only by Close(). No static destructor: at process
// exit that would run besides the unload hook, and close the store twice.
RegistryStore* openStore = nullptr;

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

RawValue ValueOf(const Statement::Run& run, int typeColumn, int dataColumn)
{
    RawValue value;
    value.type = static_cast<DWORD>(run.Number(typeColumn));
    const std::string bytes = run.Blob(dataColumn);
    value.data.assign(bytes.begin(), bytes.end());
    return value;
}

std::wstring TextOf(const std::u16string& units) { return vesk_text::fromUtf16(units); }

} // namespace

// BEGIN IMMEDIATE, so that two processes creating keys never deadlock on an
// upgrade from reading to writing; rolled back unless committed.
class RegistryStore::Transaction {
public:
    explicit Transaction(RegistryStore& store) : store(store) { Statement::Run(*store.begin).Execute(); }
    ~Transaction()
    {
        if (committed)
            return;
        try {
            Statement::Run(*store.rollback).Step();
        } catch (const StoreError&) {
            // SQLite has already rolled back after the failure that got us here.
        }
    }
    void Commit()
    {
        Statement::Run(*store.commit).Execute();
        committed = true;
    }

private:
    RegistryStore& store;
    bool committed = false;
};

RegistryStore::Session::Session() : lock(storeLock)
{
    if (!openStore)
        openStore = new RegistryStore(FilePath());
    store = openStore;
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
    std::lock_guard<std::mutex> lock(storeLock);
    delete openStore;
    openStore = nullptr;
}

RegistryStore::RegistryStore(const std::string& file)
{
    const std::filesystem::path directory = std::filesystem::path(file).parent_path();
    std::error_code error;
    if (!directory.empty())
        std::filesystem::create_directories(directory, error);
    if (error)
        throw StoreError("registry store '" + file + "': cannot create its directory: " + error.message()
                + "; set KESTLIB_REGISTRY to a file in a writable place",
            SQLITE_CANTOPEN);

    sqlite3* handle = nullptr;
    const int code = sqlite3_open_v2(file.c_str(), &handle, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    db.reset(handle);
    if (code != SQLITE_OK)
        throw StoreError("registry store '" + file + "': cannot open it: "
                + (handle ? sqlite3_errmsg(handle) : sqlite3_errstr(code))
                + "; set KESTLIB_REGISTRY to a file in a writable place",
            code);
    sqlite3_busy_timeout(handle, 10000);
    // The schema check comes first: it reads without writing, so a file that
    // is no store is refused before anything could change it.
    EnsureSchema(file);
    Execute("PRAGMA journal_mode=WAL; PRAGMA synchronous=NORMAL; PRAGMA foreign_keys=ON;", "opening the store");

    findKey.reset(new Statement(handle, "SELECT id FROM registry_keys WHERE path = ?1"));
    insertKey.reset(new Statement(handle, "INSERT INTO registry_keys(parent, name, fold, path) VALUES(?1, ?2, ?3, ?4)"));
    deleteKey.reset(new Statement(handle, "DELETE FROM registry_keys WHERE path = ?1 AND id <> 1"));
    queryType.reset(new Statement(handle, "SELECT type FROM registry_values WHERE key = ?1 AND fold = ?2"));
    queryValue.reset(new Statement(handle, "SELECT type, data FROM registry_values WHERE key = ?1 AND fold = ?2"));
    setValue.reset(new Statement(handle,
        "INSERT INTO registry_values(key, name, fold, type, data) VALUES(?1, ?2, ?3, ?4, ?5) "
        "ON CONFLICT(key, fold) DO UPDATE SET type = excluded.type, data = excluded.data"));
    deleteValue.reset(new Statement(handle, "DELETE FROM registry_values WHERE key = ?1 AND fold = ?2"));
    valueAt.reset(new Statement(handle,
        "SELECT name, type, data FROM registry_values WHERE key = ?1 ORDER BY seq LIMIT 1 OFFSET ?2"));
    subKeyAt.reset(new Statement(handle, "SELECT name FROM registry_keys WHERE parent = ?1 ORDER BY fold LIMIT 1 OFFSET ?2"));
    begin.reset(new Statement(handle, "BEGIN IMMEDIATE"));
    commit.reset(new Statement(handle, "COMMIT"));
    rollback.reset(new Statement(handle, "ROLLBACK"));
}

RegistryStore::~RegistryStore() = default;

void RegistryStore::Execute(const char* sql, const char* doing)
{
    const int code = sqlite3_exec(db.get(), sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        ThrowStoreError(db.get(), code, doing);
}

// A new (empty) file gets the schema; a file that is some other SQLite
// database is refused rather than written into.
void RegistryStore::EnsureSchema(const std::string& file)
{
    Statement applicationId(db.get(), "PRAGMA application_id");
    Statement objectCount(db.get(), "SELECT count(*) FROM sqlite_schema");
    const auto readNumber = [](Statement& statement) {
        Statement::Run run(statement);
        run.Step();
        return run.Number(0);
    };
    if (readNumber(applicationId) == StoreApplicationId)
        return;

    Execute("BEGIN IMMEDIATE", "initialising the store");
    const long long id = readNumber(applicationId);
    if (id == StoreApplicationId) {
        Execute("COMMIT", "initialising the store");
        return;
    }
    if (id != 0 || readNumber(objectCount) != 0) {
        Execute("ROLLBACK", "initialising the store");
        throw StoreError("registry store '" + file
                + "': the file is a database of something else; set KESTLIB_REGISTRY to another file",
            SQLITE_NOTADB);
    }
    Execute(Schema, "initialising the store");
    Execute(("PRAGMA application_id = " + std::to_string(StoreApplicationId)).c_str(), "initialising the store");
    Execute("COMMIT", "initialising the store");
}

long long RegistryStore::FindKey(const std::wstring& path)
{
    Statement::Run run(*findKey);
    run.BindBlob(1, FoldedPath(path));
    return run.Step() ? run.Number(0) : 0;
}

long long RegistryStore::CreateKey(const std::wstring& path)
{
    if (const long long existing = FindKey(path))
        return existing;
    if (CheckKeyPath(path) != KeyPathProblem::None)
        return 0;

    Transaction transaction(*this);
    long long key = HiveKey;
    std::string folded;
    for (const std::wstring& name : PathElements(path)) {
        if (!folded.empty())
            folded.append("\0\\", 2);
        folded += FoldedName(name.c_str());
        Statement::Run find(*findKey);
        find.BindBlob(1, folded);
        if (find.Step()) {
            key = find.Number(0);
            continue;
        }
        Statement::Run insert(*insertKey);
        insert.Bind(1, key).Bind(2, vesk_text::toUtf16(name.c_str()));
        insert.BindBlob(3, FoldedName(name.c_str())).BindBlob(4, folded);
        insert.Execute();
        key = sqlite3_last_insert_rowid(db.get());
    }
    transaction.Commit();
    return key;
}

bool RegistryStore::DeleteTree(const std::wstring& path)
{
    Statement::Run run(*deleteKey);
    run.BindBlob(1, FoldedPath(path));
    return run.Execute() > 0;
}

bool RegistryStore::QueryType(long long key, const wchar_t* name, DWORD& type)
{
    if (!ValueNameFits(name))
        return false;
    Statement::Run run(*queryType);
    run.Bind(1, key).BindBlob(2, FoldedName(name));
    if (!run.Step())
        return false;
    type = static_cast<DWORD>(run.Number(0));
    return true;
}

bool RegistryStore::Query(long long key, const wchar_t* name, RawValue& value)
{
    if (!ValueNameFits(name))
        return false;
    Statement::Run run(*queryValue);
    run.Bind(1, key).BindBlob(2, FoldedName(name));
    if (!run.Step())
        return false;
    value = ValueOf(run, 0, 1);
    return true;
}

bool RegistryStore::Set(long long key, const wchar_t* name, const RawValue& value)
{
    if (!ValueNameFits(name))
        return false;
    Statement::Run run(*setValue);
    run.Bind(1, key).Bind(2, vesk_text::toUtf16(name)).BindBlob(3, FoldedName(name)).Bind(4, value.type);
    run.BindBlob(5, value.data.data(), value.data.size());
    try {
        run.Execute();
    } catch (const StoreError& error) {
        // The key was deleted since it was opened: the write fails, as it
        // does in the registry.
        if ((error.code & 0xFF) == SQLITE_CONSTRAINT)
            return false;
        throw;
    }
    return true;
}

bool RegistryStore::DeleteValue(long long key, const wchar_t* name)
{
    if (!ValueNameFits(name))
        return false;
    Statement::Run run(*deleteValue);
    run.Bind(1, key).BindBlob(2, FoldedName(name));
    return run.Execute() > 0;
}

bool RegistryStore::ValueAt(long long key, DWORD index, std::wstring& name, RawValue& value)
{
    Statement::Run run(*valueAt);
    run.Bind(1, key).Bind(2, static_cast<long long>(index));
    if (!run.Step())
        return false;
    name = TextOf(run.Text(0));
    value = ValueOf(run, 1, 2);
    return true;
}

bool RegistryStore::SubKeyAt(long long key, DWORD index, std::wstring& name)
{
    Statement::Run run(*subKeyAt);
    run.Bind(1, key).Bind(2, static_cast<long long>(index));
    if (!run.Step())
        return false;
    name = TextOf(run.Text(0));
    return true;
}

} // namespace Kestlib500
