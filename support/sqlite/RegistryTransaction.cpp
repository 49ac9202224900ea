// Transactions and snapshots on the native store: each holds the process's
// store for the calling thread while it lives (see TransactionStack).
#include "support/registry/RegistryTransaction.h"

#include "support/sqlite/RegistryStore.h"

namespace Kestlib500 {

RegistryTransaction::RegistryTransaction()
{
    RegistryStore& store = RegistryStore::Acquire();
    try {
        store.EnterWrite();
    } catch (...) {
        RegistryStore::Release();
        throw;
    }
}

// Transactions nest on one thread, so the innermost write scope is this one.
RegistryTransaction::~RegistryTransaction()
{
    RegistryStore::Session store;
    store->Transactions().LeaveWrite();
    RegistryStore::Release();
}

void RegistryTransaction::Commit()
{
    RegistryStore::Session store;
    store->Transactions().CommitWrite();
}

bool RegistryTransaction::IsAtomic() { return true; }

RegistrySnapshot::RegistrySnapshot() { RegistryStore::Acquire().Transactions().EnterRead(); }

RegistrySnapshot::~RegistrySnapshot()
{
    RegistryStore::Session store;
    store->Transactions().LeaveRead();
    RegistryStore::Release();
}

} // namespace Kestlib500
