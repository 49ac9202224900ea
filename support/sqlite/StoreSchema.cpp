#include "support/sqlite/StoreSchema.h"

#include "support/sqlite/Statement.h"
#include "support/sqlite/StoreError.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <new>
#include <unistd.h>

namespace Kestlib500 {
namespace {

// Marks a file as a registry store ("KREG").
constexpr long long StoreApplicationId = 0x4B524547;
// 1: key ids AUTOINCREMENT, so an id is never used twice.
constexpr long long SchemaVersion = 1;

// The keys table's columns, for the table and for its upgrade.
const char* const KeyColumns = R"((
    id INTEGER PRIMARY KEY AUTOINCREMENT,
    parent INTEGER REFERENCES registry_keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    fold BLOB NOT NULL,
    path BLOB NOT NULL UNIQUE);
)";
const char* const KeyIndex = "CREATE INDEX registry_keys_children ON registry_keys(parent, fold);\n";

const char* const ValueTable = R"(
CREATE TABLE registry_values(
    seq INTEGER PRIMARY KEY,
    key INTEGER NOT NULL REFERENCES registry_keys(id) ON DELETE CASCADE,
    name TEXT NOT NULL,
    fold BLOB NOT NULL,
    type INTEGER NOT NULL,
    data BLOB NOT NULL,
    UNIQUE(key, fold));
CREATE INDEX registry_values_order ON registry_values(key, seq);
)";

// The hive's row, which every key hangs below.
std::string HiveRow()
{
    return "INSERT INTO registry_keys(id, parent, name, fold, path) VALUES(" + std::to_string(HiveKey) +
           ", NULL, '', x'', x'');\n";
}

// The first schema's keys table had plain rowids. It is rebuilt with the same
// ids (so ids other processes hold stay valid): a new table, the rows copied,
// the old one dropped (foreign keys are off while the connection is opened,
// so no value goes with it), the new one renamed. The sequence starts past
// the largest id in use. (After CREATE TABLE registry_keys_next KeyColumns.)
const char* const Upgrade = R"(
INSERT INTO registry_keys_next SELECT id, parent, name, fold, path FROM registry_keys;
DROP TABLE registry_keys;
ALTER TABLE registry_keys_next RENAME TO registry_keys;
)";

void Execute(sqlite3* db, const std::string& sql, const char* doing)
{
    const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        ThrowStoreError(db, code, doing);
}

long long ReadNumber(sqlite3* db, const char* sql)
{
    Statement statement(db, sql);
    Statement::Run run(statement);
    run.Step();
    return run.Number(0);
}

bool Writable(const std::filesystem::path& path) { return access(path.c_str(), W_OK) == 0; }

// A URI for the file (so that parameters can follow), its special
// characters escaped.
std::string FileUri(const std::string& file)
{
    std::string uri = "file:";
    for (char c : file) {
        if (c == '%' || c == '?' || c == '#') {
            static const char hex[] = "0123456789ABCDEF";
            uri += '%';
            uri += hex[(c >> 4) & 0xF];
            uri += hex[c & 0xF];
        } else {
            uri += c;
        }
    }
    return uri;
}

// A new store is made aside and linked into place whole, so that the store
// file is never seen empty: an empty one is then no store of ours (a shell
// redirection such as `> FILE` empties a file), and is refused rather than
// taken for a new store. A store another process linked first is kept.
void CreateStoreFile(const std::string& file)
{
    const std::string aside = file + ".new-" + std::to_string(getpid());
    sqlite3* opened = nullptr;
    const int code = sqlite3_open_v2(aside.c_str(), &opened, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_NOMUTEX, nullptr);
    StoreConnection db(opened);
    try {
        if (code == SQLITE_NOMEM)
            throw std::bad_alloc();
        if (code != SQLITE_OK)
            throw StoreError("registry store '" + file + "': cannot create it: " + (db ? sqlite3_errmsg(db.get()) : sqlite3_errstr(code))
                    + "; set KESTLIB_REGISTRY to a file in a writable place",
                code);
        EnsureSchema(db.get(), file, false);
    } catch (...) {
        db.reset();
        unlink(aside.c_str());
        throw;
    }
    db.reset();
    const bool linked = link(aside.c_str(), file.c_str()) == 0 || errno == EEXIST;
    const int linkError = errno;
    unlink(aside.c_str());
    if (!linked)
        throw StoreError("registry store '" + file + "': cannot create it: " + std::strerror(linkError)
                + "; set KESTLIB_REGISTRY to a file in a writable place",
            SQLITE_CANTOPEN);
}

} // namespace

StoreConnection OpenStoreFile(const std::string& file, bool& readOnly)
{
    std::error_code error;
    const std::filesystem::path directory = std::filesystem::absolute(file, error).parent_path();
    if (!error)
        std::filesystem::create_directories(directory, error);
    if (error)
        throw StoreError("registry store '" + file + "': cannot create its directory: " + error.message()
                + "; set KESTLIB_REGISTRY to a file in a writable place",
            SQLITE_CANTOPEN);

    if (!std::filesystem::exists(file, error))
        CreateStoreFile(file);
    if (std::filesystem::file_size(file, error) == 0 && !error)
        throw StoreError("registry store '" + file + "' is an empty file, not a store: it holds no settings (was it emptied, "
                + "e.g. by a shell redirection?); restore it from a backup, or delete it to start a new store",
            SQLITE_NOTADB);

    // readonly_shm: the -shm file is used if it is there, never created.
    // Without the -wal file SQLite would create it, owned by this user,
    // and the owner's next write would fail.
    readOnly = std::filesystem::exists(file, error) && (!Writable(file) || !Writable(directory));
    if (readOnly && (!std::filesystem::exists(file + "-wal", error) || !std::filesystem::exists(file + "-shm", error)))
        throw StoreError("registry store '" + file + "': this user may only read it, and reading needs its -wal and "
                + "-shm files, which only a user who may write there can make; have the store's owner use it once",
            SQLITE_CANTOPEN);
    const std::string name = readOnly ? FileUri(file) + "?mode=ro&readonly_shm=1" : file;
    const int flags = readOnly ? SQLITE_OPEN_READONLY | SQLITE_OPEN_URI : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
    sqlite3* opened = nullptr;
    const int code = sqlite3_open_v2(name.c_str(), &opened, flags | SQLITE_OPEN_NOMUTEX, nullptr);
    StoreConnection handle(opened);
    if (code == SQLITE_NOMEM)
        throw std::bad_alloc();
    if (code != SQLITE_OK)
        throw StoreError("registry store '" + file + "': cannot open it: "
                + (handle ? sqlite3_errmsg(handle.get()) : sqlite3_errstr(code))
                + "; set KESTLIB_REGISTRY to a file in a writable place",
            code);
    return handle;
}

void EnsureSchema(sqlite3* db, const std::string& file, bool readOnly)
{
    // The check comes first: it reads without writing, so a file that is no
    // store is refused before anything could change it.
    if (ReadNumber(db, "PRAGMA application_id") == StoreApplicationId
        && (readOnly || ReadNumber(db, "PRAGMA user_version") == SchemaVersion))
        return;
    if (readOnly)
        throw StoreError("registry store '" + file + "': the file is no registry store, and this user may not write "
                + "it to make it one; set KESTLIB_REGISTRY to another file",
            SQLITE_READONLY);

    Execute(db, "BEGIN IMMEDIATE", "initialising the store");
    try {
        const long long id = ReadNumber(db, "PRAGMA application_id");
        if (id == StoreApplicationId && ReadNumber(db, "PRAGMA user_version") == 0) {
            Execute(db, std::string("CREATE TABLE registry_keys_next") + KeyColumns + Upgrade + KeyIndex, "upgrading the store");
        } else if (id == 0 && ReadNumber(db, "SELECT count(*) FROM sqlite_schema") == 0) {
            Execute(db, std::string("CREATE TABLE registry_keys") + KeyColumns + KeyIndex + ValueTable + HiveRow(), "initialising the store");
            Execute(db, "PRAGMA application_id = " + std::to_string(StoreApplicationId), "initialising the store");
        } else if (id != StoreApplicationId) {
            throw StoreError("registry store '" + file
                    + "': the file is a database of something else; set KESTLIB_REGISTRY to another file",
                SQLITE_NOTADB);
        }
        Execute(db, "PRAGMA user_version = " + std::to_string(SchemaVersion), "initialising the store");
        Execute(db, "COMMIT", "initialising the store");
    } catch (...) {
        sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
        throw;
    }
}

} // namespace Kestlib500
