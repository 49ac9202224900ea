#pragma once

#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/core/Progress.h"

#include <string>
#include <vector>

// The one way the tool changes the registry by a plan: whole or not at all,
// in one store transaction natively, under the recovery journal on Windows.
namespace vesk_tool {

// `source` names where the steps came from in messages (a file, a fleet
// revision); `bound` (below the hive) holds every key the steps touch, and
// bounds what the journal may put back. Throws Failure(StoreFailure) with
// the step's source line when a write fails; nothing is then changed.
void applyWhole(const std::wstring& source, const std::vector<ImportStep>& steps, const std::wstring& bound,
                Progress& progress);
// The same for the steps of a walk: walked whole once before any write,
// counted into `progress`, so what the walk throws (RegFileError) leaves
// everything unchanged; then walked again to apply.
void applyWhole(const std::wstring& source, const StepWalk& steps, const std::wstring& bound, Progress& progress);

} // namespace vesk_tool
