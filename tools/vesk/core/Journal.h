#pragma once

#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/core/JournalFile.h"
#include "tools/vesk/core/RegFile.h"

#include <optional>
#include <string>
#include <vector>

// Where the registry has no transactions (Windows), an import keeps a
// recovery journal: before its first write, the prior state of every key it
// touches goes into a .reg file in the machine folder, flushed to the disk;
// the file goes after the last write. A run that finds one (the import was
// killed, or its machine stopped) restores it before anything else, whoever
// it runs as: the registry it guards is the machine's.
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
    // Writes `undo` as the journal and flushes it; throws Failure when it
    // cannot, before anything was changed (also when another import holds
    // a journal of its own).
    explicit Journal(const RegDocument& undo);
    // Keeps the file: an import that did not finish leaves it for the next run.
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    // Puts the prior state back and removes the journal; false (the file
    // kept for the next run) when the registry refuses.
    bool restore();
    // The import is whole: the journal goes.
    void remove();

    // vesk-journal.reg in the machine folder (%ProgramData%\halvorn\vesk on Windows).
    static std::wstring path();

private:
    RegDocument undo;
    std::optional<JournalFile> file; // held until removed
};

// Every run calls this first: where imports are journaled and a journal is
// left, restores it, says so on standard error and removes it. `serverPath`
// (HKEY_LOCAL_MACHINE\...) bounds what a journal may write. Throws Failure
// when a journal is there but cannot be restored.
void recoverInterruptedImport(const std::wstring& serverPath);

} // namespace vesk_tool
