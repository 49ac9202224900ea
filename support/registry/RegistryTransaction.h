#pragma once

#include <memory>

namespace Kestlib500 {

// Makes every change the calling thread makes through the registry layer
// while it lives one atomic change, where the back end can: the SQLite store
// commits them together or not at all. The Win32 registry has no
// transactions (none that Wine supports): there it does nothing, IsAtomic()
// is false, and a caller that needs all-or-nothing keeps its own journal.
// Other threads of the process wait while one lives.
class RegistryTransaction {
public:
    // Throws when the store cannot be locked for writing (another process
    // holds it past the busy timeout).
    RegistryTransaction();
    // Rolls back unless Commit() was called.
    ~RegistryTransaction();
    RegistryTransaction(const RegistryTransaction&) = delete;
    RegistryTransaction& operator=(const RegistryTransaction&) = delete;

    // Throws when the store cannot commit; nothing is then changed.
    void Commit();

    static bool IsAtomic();

private:
    // What the back end holds for the transaction (natively, the store).
    struct Hold;
    std::unique_ptr<Hold> hold;
};

// Makes everything the calling thread reads through the registry layer while
// it lives one consistent state of the store (one read transaction). The
// Win32 registry has no snapshots: there reads stay live.
class RegistrySnapshot {
public:
    RegistrySnapshot();
    ~RegistrySnapshot();
    RegistrySnapshot(const RegistrySnapshot&) = delete;
    RegistrySnapshot& operator=(const RegistrySnapshot&) = delete;

private:
    // What the back end holds for the snapshot (natively, the store).
    struct Hold;
    std::unique_ptr<Hold> hold;
};

} // namespace Kestlib500
