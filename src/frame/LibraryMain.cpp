// Load and unload: the support library's resources come up when a process
// loads the library and go when it unloads it. Loading never fails.
//
// Unloading runs in Windows' order on both systems: the unload handler
// first, then the library's exit-time list, which deletes the creation lock.
#include "support/registry/SResManager.h"
#include "support/win32shim/Win32.h"

#if defined(_WIN32)

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    if (reason == DLL_PROCESS_ATTACH)
        Kestlib500::SResManager::Initialize();
    else if (reason == DLL_PROCESS_DETACH)
        Kestlib500::SResManager::Terminate();
    return TRUE;
}

#else

#include "frame/CreationLock.h"

#include <cstdlib>

namespace {

void OnLibraryUnload() { Kestlib500::SResManager::Terminate(); }

} // namespace

// A destructor function would run after the exit-time list at process exit
// (though before it at dlclose). Instead the unload handler joins that list,
// entered after the creation lock is made, so it runs first on either path.
__attribute__((constructor)) static void OnLibraryLoad()
{
    Kestlib500::SResManager::Initialize();
    CreationLock();
    std::atexit(OnLibraryUnload);
}

#endif
