#include "WholeImport.h"

#include "Failure.h"
#include "Journal.h"
#include "PlanApplier.h"
#include "Text.h"
#include "support/registry/RegistryTransaction.h"

#include <optional>

namespace vesk_tool {
namespace {

using Kestlib500::RegistryTransaction;

std::string lineOf(const std::wstring& file, int line)
{
    return toUtf8(file) + ":" + std::to_string(line) + ": ";
}

// The store's transaction makes the whole plan one change.
void applyAtomically(const std::wstring& file, const std::vector<ImportStep>& steps, Progress& progress)
{
    const std::string unchanged = ": nothing was changed (an import lands whole or not at all)";
    std::optional<RegistryTransaction> transaction;
    try {
        transaction.emplace();
    } catch (const std::exception& error) {
        throw Failure(StoreFailure, std::string("cannot lock the store for writing (") + error.what() +
                                        "): nothing was changed; try again when the other writer is done");
    }
    try {
        applyPlan(steps, progress);
        transaction->Commit();
    } catch (const ApplyError& error) {
        throw Failure(StoreFailure, lineOf(file, error.line) + error.what() + unchanged);
    } catch (const std::exception& error) {
        throw Failure(StoreFailure, std::string("the store could not commit the import (") + error.what() + ")" + unchanged);
    }
}

// Without transactions the journal stands in: the prior state is on the
// disk before the first write, and put back when a write fails.
void applyJournaled(const std::wstring& file, const std::vector<ImportStep>& steps, const std::wstring& root,
                    Progress& progress)
{
    Journal journal(priorState(steps, root));
    try {
        applyPlan(steps, progress);
    } catch (const ApplyError& error) {
        progress.finish();
        const std::string state = journal.restore()
                                      ? "the tree was restored to its state before the import"
                                      : "restoring the state before the import failed too: the journal " +
                                            toUtf8(Journal::path()) + " is kept, and the next vesk run restores it";
        throw Failure(StoreFailure, lineOf(file, error.line) + error.what() + "; " + state);
    }
    journal.remove();
}

} // namespace

void applyWhole(const std::wstring& source, const std::vector<ImportStep>& steps, const std::wstring& bound,
                Progress& progress)
{
    if (RegistryTransaction::IsAtomic())
        applyAtomically(source, steps, progress);
    else
        applyJournaled(source, steps, bound, progress);
}

} // namespace vesk_tool
