#include "support/registry/SResManager.h"

#include "support/registry/RegistryKey.h"

namespace Kestlib500 {

bool SResManager::Initialize() { return true; }

bool SResManager::Terminate()
{
    RegistryKey::ReleaseProcessResources();
    return true;
}

} // namespace Kestlib500
