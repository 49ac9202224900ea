// The Win32 registry offers no transactions or snapshots to this layer.
#include "support/registry/RegistryTransaction.h"

namespace Kestlib500 {

struct RegistryTransaction::Hold {};
struct RegistrySnapshot::Hold {};

RegistryTransaction::RegistryTransaction() = default;
RegistryTransaction::~RegistryTransaction() = default;
void RegistryTransaction::Commit() {}
bool RegistryTransaction::IsAtomic() { return false; }

RegistrySnapshot::RegistrySnapshot() = default;
RegistrySnapshot::~RegistrySnapshot() = default;

} // namespace Kestlib500
