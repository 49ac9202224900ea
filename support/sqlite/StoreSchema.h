#pragma once

#include <sqlite3.h>

#include <memory>
#include <string>

namespace Kestlib500 {

// The key id of the hive itself, the one row every store starts with; 0
// means no key.
constexpr long long HiveKey = 1;

// The store's connection: closed when it goes.
struct ConnectionCloser {
    void operator()(sqlite3* db) const { sqlite3_close_v2(db); }
};
using StoreConnection = std::unique_ptr<sqlite3, ConnectionCloser>;

// Opens the store's file: read-write (creating it) for a user who may write
// the file and its directory, else read-only, in a way that creates no
// -wal or -shm file (they would belong to this user and lock the owner out).
// Sets `readOnly` accordingly; throws StoreError naming the file.
StoreConnection OpenStoreFile(const std::string& file, bool& readOnly);

// A new (empty) file gets the schema; a store of the first schema, whose key
// ids could be used again, is brought to the current one (when writable); a
// file that is some other SQLite database is refused rather than written into.
void EnsureSchema(sqlite3* db, const std::string& file, bool readOnly);

} // namespace Kestlib500
