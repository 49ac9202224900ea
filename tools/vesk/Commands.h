#pragma once

#include "tools/vesk/CommandLine.h"
#include "tools/vesk/Session.h"

namespace vesk_tool {

// Runs the command of `call` (already checked by parseCommandLine) and
// returns the exit status; failures throw Failure.
int runCommand(const Invocation& call, Session& session);

} // namespace vesk_tool
