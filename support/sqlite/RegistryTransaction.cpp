// Transactions and snapshots on the native store: each holds the process's
// store for the calling thread while it lives (see TransactionStack).
#include "support/registry/RegistryTransaction.h"

#include "support/sqlite/RegistryStore.h"

namespace Kestlib500 {

// The store, held by the calling thread for the life of the scope.
struct RegistryTransaction::Hold {
    RegistryStore::Session store;
};
struct RegistrySnapshot::Hold {
    RegistryStore::Session store;
};

RegistryTransaction::RegistryTransaction() : hold(std::make_unique<Hold>()) { hold->store->EnterWrite(); }

// Transactions nest on one thread, so the innermost write scope is this one.
RegistryTransaction::~RegistryTransaction() { hold->store->Transactions().LeaveWrite(); }

void RegistryTransaction::Commit() { hold->store->Transactions().CommitWrite(); }

bool RegistryTransaction::IsAtomic() { return true; }

RegistrySnapshot::RegistrySnapshot() : hold(std::make_unique<Hold>()) { hold->store->Transactions().EnterRead(); }

RegistrySnapshot::~RegistrySnapshot() { hold->store->Transactions().LeaveRead(); }

} // namespace Kestlib500
