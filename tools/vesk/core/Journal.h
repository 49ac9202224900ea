#pragma once

#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/core/ImportLock.h"
#include "tools/vesk/core/RegFile.h"
#include "support/registry/RegistryKey.h"

#include <string>
#include <vector>

// Where the registry has no transactions (Windows), an import keeps a
// recovery journal: before its first write, the prior state of every key it
// touches goes as .reg text into a value of the journal key, beside the
// servers' keys; the value goes after the last write. Being in the hive it
// guards, the journal reaches the disk no later than any change it undoes,
// whenever the registry writes the hive out. A run that finds one (the
// import was killed, or its machine stopped) restores it before anything
// else.
namespace vesk_tool {

// A .reg document that puts back what `steps` change below `root` (below the
// hive): a key the steps delete is deleted and re-created with its subtree
// as it is now; a value they write or delete gets its present data back or
// goes; a key they create that is missing now, or the highest missing key
// above it (up to `root`), goes.
RegDocument priorState(const std::vector<ImportStep>& steps, const std::wstring& root);
// The same for the steps of a walk.
RegDocument priorState(const StepWalk& steps, const std::wstring& root);

class Journal {
public:
    // Takes the import lock, then writes the prior state of what `steps`
    // change below `root` as the journal; throws Failure when it cannot,
    // before anything was changed (also when another import runs).
    Journal(const StepWalk& steps, const std::wstring& root);
    // Keeps the journal: an import that did not finish leaves it for the
    // next run.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Puts the prior state back and removes the journal; false (the journal
    // kept for the next run) when the registry refuses.
    bool restore();
    // The import is whole: the journal goes. Throws Failure when the
    // registry keeps it, which would put the prior state back at the next run.
    void remove();

    // HKEY_LOCAL_MACHINE\...\VeskJournal, beside the servers' keys.
    static std::wstring path();

private:
    ImportLock lock;
    RegDocument undo;
    Kestlib500::RegistryKey key; // the journal's, open for writing
};

// Every run calls this first: where imports are journaled and a journal is
// left that no running import holds and this user may remove, restores it,
// says so on standard error and removes it. `serverPath`
// (HKEY_LOCAL_MACHINE\...) bounds what a journal may write. Throws Failure
// when a journal is there but cannot be restored.
void recoverInterruptedImport(const std::wstring& serverPath);

} // namespace vesk_tool
