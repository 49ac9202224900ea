#include "support/registry/CompanyRegistry.h"

namespace Kestlib500 {

CompanyRegistry::CompanyRegistry() : Registry(L"Software\\Halvorn\\Tessaly") {}

} // namespace Kestlib500
