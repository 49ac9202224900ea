#pragma once

#include "tools/vesk/core/OsHandle.h"

// One import at a time on the machine (Windows only, where imports are
// journaled): a named mutex, which Windows hands on when its holder ends
// however it ends, so a killed import never blocks the next. It belongs to
// a thread: the thread that takes it is the one that lets it go.
namespace vesk_tool {

class ImportLock {
public:
    // Takes the lock when no other import holds it, without waiting; throws
    // Failure(StoreFailure) when the lock cannot be made at all.
    ImportLock();
    ~ImportLock();
    ImportLock(const ImportLock&) = delete;
    ImportLock& operator=(const ImportLock&) = delete;

    // False: another import runs now.
    bool held() const { return owned; }

private:
    Handle mutex;
    bool owned = false;
};

} // namespace vesk_tool
