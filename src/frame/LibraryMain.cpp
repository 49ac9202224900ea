// Load and unload: the support library's resources come up when a process
// loads the library and go when it unloads it. Loading never fails.
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

__attribute__((constructor)) static void OnLibraryLoad() { Kestlib500::SResManager::Initialize(); }

__attribute__((destructor)) static void OnLibraryUnload() { Kestlib500::SResManager::Terminate(); }

#endif
