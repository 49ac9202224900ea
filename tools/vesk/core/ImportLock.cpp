#include "tools/vesk/core/ImportLock.h"

#include "tools/vesk/core/Failure.h"

namespace vesk_tool {

// Global: a watcher running as a service and an administrator's command
// share it across sessions.
ImportLock::ImportLock() : mutex(CreateMutexW(nullptr, FALSE, L"Global\\vesk-import"))
{
    if (!mutex.valid())
        throw Failure(StoreFailure, "cannot take the import lock (" + lastError() + "): nothing was changed");
    // Abandoned: its holder ended without letting go, which the journal it
    // may have left answers for.
    const DWORD waited = WaitForSingleObject(mutex.get(), 0);
    owned = waited == WAIT_OBJECT_0 || waited == WAIT_ABANDONED;
}

ImportLock::~ImportLock()
{
    if (owned)
        ReleaseMutex(mutex.get());
}

} // namespace vesk_tool
