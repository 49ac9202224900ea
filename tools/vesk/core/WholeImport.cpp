#include "tools/vesk/core/WholeImport.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/PlanApplier.h"
#include "tools/vesk/core/Text.h"
#include "support/registry/RegistryTransaction.h"

#include <optional>

#if defined(_WIN32)
#include "tools/vesk/core/Journal.h"
#endif

namespace vesk_tool {
namespace {

using Kestlib500::RegistryTransaction;

std::string lineOf(const std::wstring& file, int line)
{
    return toUtf8(file) + ":" + std::to_string(line) + ": ";
}

#if !defined(_WIN32)

// The store's transaction makes the whole plan one change.
void applyAtomically(const std::wstring& file, const StepWalk& steps, Progress& progress)
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

#else

// Without transactions the journal stands in: the prior state is in the
// registry before the first write, and put back when a write fails.
void applyJournaled(const std::wstring& file, const StepWalk& firstWalk, const StepWalk& steps, const std::wstring& root,
                    Progress& progress)
{
    Journal journal(firstWalk, root);
    try {
        applyPlan(steps, progress);
    } catch (const ApplyError& error) {
        progress.finish();
        const std::string state = journal.restore()
                                      ? "the tree was restored to its state before the import"
                                      : "restoring the state before the import failed too: the journal in " +
                                            toUtf8(Journal::path()) + " is kept, and the next vesk run restores it";
        throw Failure(StoreFailure, lineOf(file, error.line) + error.what() + "; " + state);
    }
    journal.remove();
}

#endif

} // namespace

void applyWhole(const std::wstring& source, const std::vector<ImportStep>& steps, const std::wstring& bound,
                Progress& progress)
{
#if defined(_WIN32)
    applyJournaled(source, walkOf(steps), walkOf(steps), bound, progress);
#else
    (void)bound;
    applyAtomically(source, walkOf(steps), progress);
#endif
}

void applyWhole(const std::wstring& source, const StepWalk& steps, const std::wstring& bound, Progress& progress)
{
    // The first walk counts as it goes: on Windows it is the prior state's
    // reading, so no walk is made only to count.
    std::size_t count = 0;
    const StepWalk counted = [&](const std::function<void(const ImportStep&)>& visit) {
        steps([&](const ImportStep& step) {
            ++count;
            visit(step);
        });
        progress.setTotal(count);
    };
#if defined(_WIN32)
    applyJournaled(source, counted, steps, bound, progress);
#else
    (void)bound;
    counted([](const ImportStep&) {});
    applyAtomically(source, steps, progress);
#endif
}

} // namespace vesk_tool
