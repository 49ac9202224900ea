#pragma once

#include "support/sqlite/Statement.h"

#include <memory>
#include <vector>

namespace Kestlib500 {

// The transactions of the store's one connection, for the thread holding it.
//
// Reads: while any read scope lives (a snapshot, a live cursor), every read
// runs in one read transaction, begun at the first read and ended with the
// last scope. A write made outside a write scope ends that read transaction
// first (so it commits at once), and the reads after it see a new state.
//
// Writes: the outermost write scope is BEGIN IMMEDIATE ... COMMIT, scopes
// inside it are savepoints. Each ends in Commit() or, without it, a rollback.
//
// Cursors' statements are lent to them; when a transaction ends they are
// reset and Epoch() moves on, so a cursor knows to restart.
class TransactionStack {
public:
    explicit TransactionStack(sqlite3* db);

    void EnterRead() { ++readScopes; }
    void LeaveRead() noexcept;
    // Called before every read.
    void BeforeRead()
    {
        if (readScopes > 0 && state == State::None)
            BeginRead();
    }
    // Called before every write: ends a read transaction, and refuses to
    // write when SQLite has rolled back the write transaction after an error
    // (the writes would otherwise each commit on their own).
    void BeforeWrite();

    void EnterWrite();
    // Commits the innermost write scope; throws when it cannot, the scope
    // then stays to be rolled back by LeaveWrite().
    void CommitWrite();
    // Ends the innermost write scope: rolls it back unless committed.
    void LeaveWrite() noexcept;

    // Whether no scope lives.
    bool Idle() const { return readScopes == 0 && writeScopes.empty(); }
    unsigned long long Epoch() const { return epoch; }

    void Lend(Statement* statement) { lent.push_back(statement); }
    // Takes a statement back (one not lent is left alone).
    void Unlend(Statement* statement);

private:
    enum class State { None, Read, Write };
    struct WriteScope {
        bool began;     // BEGIN IMMEDIATE, else a savepoint
        bool committed;
    };

    void BeginRead();
    void EndTransaction(Statement& statement) noexcept;
    void Run(Statement& statement);
    void RunSql(const std::string& sql);
    std::string SavepointName() const;

    sqlite3* db;
    Statement begin, beginImmediate, commit, rollback;
    State state = State::None;
    int readScopes = 0;
    std::vector<WriteScope> writeScopes;
    std::vector<Statement*> lent;
    unsigned long long epoch = 0;
};

} // namespace Kestlib500
