#include "support/sqlite/TransactionStack.h"

#include "support/sqlite/StoreError.h"

#include <algorithm>

namespace Kestlib500 {

TransactionStack::TransactionStack(sqlite3* db)
    : db(db), begin(db, "BEGIN"), beginImmediate(db, "BEGIN IMMEDIATE"), commit(db, "COMMIT"), rollback(db, "ROLLBACK")
{
}

void TransactionStack::Run(Statement& statement) { Statement::Run(statement).Execute(); }

void TransactionStack::RunSql(const std::string& sql)
{
    const int code = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        ThrowStoreError(db, code, "managing a transaction");
}

std::string TransactionStack::SavepointName() const { return "level" + std::to_string(writeScopes.size()); }

void TransactionStack::BeginRead()
{
    Run(begin);
    state = State::Read;
}

// Cursors first: a statement still stepping would keep the old state
// readable, or be aborted by a rollback.
void TransactionStack::EndTransaction(Statement& statement) noexcept
{
    for (Statement* cursor : lent)
        cursor->Reset();
    ++epoch;
    try {
        if (!sqlite3_get_autocommit(db))
            Run(statement);
    } catch (const std::exception&) {
        // Ending a read transaction, or rolling back, fails only when
        // SQLite has already ended the transaction itself.
        if (!sqlite3_get_autocommit(db))
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    state = State::None;
}

void TransactionStack::LeaveRead() noexcept
{
    --readScopes;
    if (readScopes == 0 && state == State::Read)
        EndTransaction(commit);
}

void TransactionStack::BeforeWrite()
{
    if (state == State::Read)
        EndTransaction(commit);
    if (state == State::Write && sqlite3_get_autocommit(db))
        throw StoreError(std::string("registry store '") + sqlite3_db_filename(db, "main")
                + "': an earlier failure rolled the transaction back; nothing of it was kept, start it again",
            SQLITE_ABORT);
}

void TransactionStack::EnterWrite()
{
    BeforeWrite();
    if (state == State::None) {
        Run(beginImmediate);
        state = State::Write;
        writeScopes.push_back({true, false});
        return;
    }
    writeScopes.push_back({false, false});
    try {
        RunSql("SAVEPOINT " + SavepointName());
    } catch (...) {
        writeScopes.pop_back();
        throw;
    }
}

void TransactionStack::CommitWrite()
{
    WriteScope& scope = writeScopes.back();
    if (scope.committed)
        return;
    if (!scope.began) {
        RunSql("RELEASE " + SavepointName());
        scope.committed = true;
        return;
    }
    for (Statement* cursor : lent)
        cursor->Reset();
    ++epoch;
    Run(commit);
    scope.committed = true;
    state = State::None;
}

void TransactionStack::LeaveWrite() noexcept
{
    const WriteScope scope = writeScopes.back();
    if (!scope.committed && scope.began) {
        EndTransaction(rollback);
    } else if (!scope.committed && !sqlite3_get_autocommit(db)) {
        const std::string name = SavepointName();
        sqlite3_exec(db, ("ROLLBACK TO " + name + "; RELEASE " + name).c_str(), nullptr, nullptr, nullptr);
    }
    writeScopes.pop_back();
}

void TransactionStack::Unlend(Statement* statement)
{
    const auto found = std::find(lent.begin(), lent.end(), statement);
    if (found != lent.end())
        lent.erase(found);
}

} // namespace Kestlib500
