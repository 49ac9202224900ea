#pragma once

#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/core/Progress.h"

#include <stdexcept>
#include <string>
#include <vector>

// Applies checked import steps with the fewest registry operations: the key
// of a run of steps is created or opened once and its values written
// through that one handle; keys are never listed.
namespace vesk_tool {

// A step the registry refused, with the file line it came from.
class ApplyError : public std::runtime_error {
public:
    ApplyError(int at, const std::string& message) : std::runtime_error(message), line(at) {}
    int line;
};

// Throws ApplyError at the first step that fails; the steps before it stay
// applied (a caller that wants all or nothing holds a transaction or a journal).
void applyPlan(const std::vector<ImportStep>& steps, Progress& progress);
// The same, step by step as `steps` hands them out.
void applyPlan(const StepWalk& steps, Progress& progress);

} // namespace vesk_tool
