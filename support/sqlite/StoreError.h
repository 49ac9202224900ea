#pragma once

#include <sqlite3.h>

#include <stdexcept>
#include <string>

namespace Kestlib500 {

// A failure of the registry store itself (not a missing key or value): the
// file cannot be opened, is no store, is corrupt, or stays locked.
class StoreError : public std::runtime_error {
public:
    StoreError(const std::string& message, int code) : std::runtime_error(message), code(code) {}
    int code;
};

// Throws StoreError for `db`'s last error, naming its file.
[[noreturn]] void ThrowStoreError(sqlite3* db, int code, const char* doing);

} // namespace Kestlib500
