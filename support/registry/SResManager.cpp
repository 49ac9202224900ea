#include "support/registry/SResManager.h"

#if !defined(_WIN32)
#include "support/sqlite/RegistryStore.h"
#endif

namespace Kestlib500 {

bool SResManager::Initialize() { return true; }

bool SResManager::Terminate()
{
#if !defined(_WIN32)
    RegistryStore::Close();
#endif
    return true;
}

} // namespace Kestlib500
