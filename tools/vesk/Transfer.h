#pragma once

#include "tools/vesk/CommandLine.h"
#include "tools/vesk/Session.h"

// The file commands: export to and import from .reg files.
namespace vesk_tool {

// `vesk export`: the instance's tree, or a sub-key's, as a .reg file; returns
// the exit status, failures throw Failure.
int exportCommand(const Invocation& call, Session& session);
// `vesk import`: a .reg file into the instance, whole or not at all; returns
// the exit status, failures throw Failure.
int importCommand(const Invocation& call, Session& session);

} // namespace vesk_tool
