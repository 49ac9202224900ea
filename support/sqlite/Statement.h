#pragma once

#include <sqlite3.h>

#include <string>
#include <vector>

namespace Kestlib500 {

// One prepared statement, kept for the life of the connection and reset after
// each use. Failures throw StoreError; exhausted memory, std::bad_alloc.
class Statement {
public:
    Statement(sqlite3* db, const char* sql);
    ~Statement();
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;

    // Ends a run in progress (a cursor's, when its transaction ends), keeping
    // its bindings.
    void Reset();

    // One run of the statement: binds (copying what it binds), steps, reads
    // columns; resets the statement and clears its bindings when it goes.
    class Run {
    public:
        explicit Run(Statement& statement);
        ~Run();
        Run(const Run&) = delete;
        Run& operator=(const Run&) = delete;

        Run& Bind(int index, long long number);
        Run& Bind(int index, const std::u16string& text);
        Run& BindBlob(int index, const std::string& bytes);
        Run& BindBlob(int index, const void* bytes, std::size_t size);
        // Binds bytes without copying them: they must outlive the run.
        Run& BindBlobInPlace(int index, const std::string& bytes);

        // True while there is a row; false when done. Other results throw.
        bool Step();
        // Step() for statements that write; returns the rows changed.
        int Execute();

        long long Number(int column) const;
        std::u16string Text(int column) const;
        std::string Blob(int column) const;
        // A blob column as a value's bytes, copied once.
        std::vector<unsigned char> Bytes(int column) const;

    private:
        Run& BindBytes(int index, const void* bytes, std::size_t size, sqlite3_destructor_type keep);
        Run& Check(int code);
        void CheckColumn(const void* data) const;

        sqlite3_stmt* handle;
    };

private:
    sqlite3_stmt* handle = nullptr;
};

} // namespace Kestlib500
