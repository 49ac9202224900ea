// Placeholder until the store holds one transaction across calls.
#include "support/registry/RegistryTransaction.h"

namespace Kestlib500 {

RegistryTransaction::RegistryTransaction() = default;
RegistryTransaction::~RegistryTransaction() = default;
void RegistryTransaction::Commit() {}
bool RegistryTransaction::IsAtomic() { return true; }

RegistrySnapshot::RegistrySnapshot() = default;
RegistrySnapshot::~RegistrySnapshot() = default;

} // namespace Kestlib500
