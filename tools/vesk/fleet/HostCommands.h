#pragma once

#include "tools/vesk/fleet/FleetCommands.h"
#include "tools/vesk/fleet/HostReport.h"

#include <memory>
#include <string>

// The fleet commands' side of host reports: `vesk fleet hosts`, the host's
// name, and the report a watcher keeps.
namespace vesk_fleet {

// `hosts`: the reports of `instance` (UTF-8), or of every instance when it
// is "", as a table or (`json`) one JSON document, the rollout under way
// first (in JSON, its "rollout"; of every instance, each one's, "rollouts").
std::string hostReports(FleetStore& store, Fleet& fleet, const std::string& instance, bool json);

// This host's name in the fleet: `given` (--host-name), else the machine's;
// refuses (BadInput) a machine that gives none.
std::string hostNameOf(const std::string& given);

// Starts `watcher`'s report of this host, over a connection of its own,
// under a lease of 30 s (VESK_FLEET_LEASE_TTL, in seconds, overrides it;
// below 3 is refused as BadInput).
std::unique_ptr<HostReport> startReport(const WatchArguments& watch, FleetContext& context, const FleetAccess& access,
                                        FleetStore& store, Watcher& watcher);

} // namespace vesk_fleet
