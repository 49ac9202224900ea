#include "support/sqlite/Statement.h"

#include "support/sqlite/StoreError.h"
#include "support/text/LittleEndian.h"
#include "support/text/Unicode.h"

#include <new>

namespace Kestlib500 {

void ThrowStoreError(sqlite3* db, int code, const char* doing)
{
    // Exhausted memory is no fault of the store, and a host meets it as the
    // language reports it everywhere else.
    if ((code & 0xFF) == SQLITE_NOMEM)
        throw std::bad_alloc();
    const char* file = db ? sqlite3_db_filename(db, "main") : nullptr;
    throw StoreError(std::string("registry store '") + (file ? file : "?") + "': " + doing + ": "
            + (db ? sqlite3_errmsg(db) : sqlite3_errstr(code)),
        code);
}

Statement::Statement(sqlite3* db, const char* sql)
{
    const int code = sqlite3_prepare_v3(db, sql, -1, SQLITE_PREPARE_PERSISTENT, &handle, nullptr);
    if (code != SQLITE_OK)
        ThrowStoreError(db, code, "preparing a statement");
}

Statement::~Statement() { sqlite3_finalize(handle); }

void Statement::Reset() { sqlite3_reset(handle); }

Statement::Run::Run(Statement& statement) : handle(statement.handle) {}

Statement::Run::~Run()
{
    sqlite3_reset(handle);
    sqlite3_clear_bindings(handle);
}

Statement::Run& Statement::Run::Check(int code)
{
    if (code != SQLITE_OK)
        ThrowStoreError(sqlite3_db_handle(handle), code, "binding a statement's parameter");
    return *this;
}

Statement::Run& Statement::Run::Bind(int index, long long number)
{
    return Check(sqlite3_bind_int64(handle, index, number));
}

Statement::Run& Statement::Run::Bind(int index, const std::u16string& text)
{
    // SQLite turns an unpaired surrogate of a text into U+FFFD; a registry
    // name may hold one, so such a name is kept as its units in a blob.
    const std::wstring wide = vesk_text::fromUtf16(text);
    if (vesk_text::hasUnpairedSurrogate(wide))
        return BindBlob(index, vesk_text::toUtf16le(wide));
    return Check(sqlite3_bind_text64(
        handle, index, reinterpret_cast<const char*>(text.data()), text.size() * 2, SQLITE_TRANSIENT, SQLITE_UTF16));
}

Statement::Run& Statement::Run::BindBlob(int index, const std::string& bytes)
{
    return BindBlob(index, bytes.data(), bytes.size());
}

Statement::Run& Statement::Run::BindBlob(int index, const void* bytes, std::size_t size)
{
    return BindBytes(index, bytes, size, SQLITE_TRANSIENT);
}

Statement::Run& Statement::Run::BindBlobInPlace(int index, const std::string& bytes)
{
    return BindBytes(index, bytes.data(), bytes.size(), SQLITE_STATIC);
}

Statement::Run& Statement::Run::BindBytes(int index, const void* bytes, std::size_t size, sqlite3_destructor_type keep)
{
    // An empty blob is still a blob, not NULL. The 64-bit call takes any
    // size; one past the store's limit is refused as SQLITE_TOOBIG.
    static const char nothing = 0;
    const int code = sqlite3_bind_blob64(handle, index, size ? bytes : &nothing, size, keep);
    if (code == SQLITE_TOOBIG) {
        sqlite3* db = sqlite3_db_handle(handle);
        throw StoreError(std::string("registry store '") + sqlite3_db_filename(db, "main") + "': a value of "
                + std::to_string(size) + " bytes is larger than the store takes (at most "
                + std::to_string(sqlite3_limit(db, SQLITE_LIMIT_LENGTH, -1)) + "); store less",
            code);
    }
    return Check(code);
}

bool Statement::Run::Step()
{
    const int code = sqlite3_step(handle);
    if (code == SQLITE_ROW)
        return true;
    if (code == SQLITE_DONE)
        return false;
    ThrowStoreError(sqlite3_db_handle(handle), code, "running a statement");
}

int Statement::Run::Execute()
{
    Step();
    return sqlite3_changes(sqlite3_db_handle(handle));
}

long long Statement::Run::Number(int column) const { return sqlite3_column_int64(handle, column); }

// A column's accessor returns null both for an empty column and when
// converting it ran out of memory; only the connection's error tells them apart.
void Statement::Run::CheckColumn(const void* data) const
{
    sqlite3* db = sqlite3_db_handle(handle);
    if (!data && sqlite3_errcode(db) == SQLITE_NOMEM)
        throw std::bad_alloc();
}

std::u16string Statement::Run::Text(int column) const
{
    if (sqlite3_column_type(handle, column) == SQLITE_BLOB) {
        const std::string bytes = Blob(column);
        std::u16string units(bytes.size() / 2, u'\0');
        for (std::size_t i = 0; i < units.size(); ++i)
            units[i] = static_cast<char16_t>(vesk_text::readLittleEndian(&bytes[2 * i], 2));
        return units;
    }
    const auto* text = static_cast<const char16_t*>(sqlite3_column_text16(handle, column));
    CheckColumn(text);
    const int bytes = sqlite3_column_bytes16(handle, column);
    return text ? std::u16string(text, static_cast<std::size_t>(bytes) / 2) : std::u16string();
}

std::string Statement::Run::Blob(int column) const
{
    const auto* bytes = static_cast<const char*>(sqlite3_column_blob(handle, column));
    CheckColumn(bytes);
    const int size = sqlite3_column_bytes(handle, column);
    return bytes ? std::string(bytes, static_cast<std::size_t>(size)) : std::string();
}

std::vector<unsigned char> Statement::Run::Bytes(int column) const
{
    const auto* bytes = static_cast<const unsigned char*>(sqlite3_column_blob(handle, column));
    CheckColumn(bytes);
    const int size = sqlite3_column_bytes(handle, column);
    return bytes ? std::vector<unsigned char>(bytes, bytes + size) : std::vector<unsigned char>();
}

} // namespace Kestlib500
