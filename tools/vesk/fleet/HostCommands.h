#pragma once

#include "tools/vesk/fleet/FleetCommands.h"
#include "tools/vesk/fleet/HostReport.h"

#include <memory>
#include <string>

// The fleet commands' side of host reports: `vesk fleet hosts`, the host's
// name, and the report a watcher keeps.
namespace vesk_fleet {

// `hosts`: the reports of --instance, or of every instance with --all, as a
// table or (--json) one JSON document on context.out, the rollout under way
// first (in JSON, its "rollout"; with --all, every instance's, "rollouts").
int listHostReports(const FleetOptions& options, FleetContext& context, FleetStore& store, Fleet& fleet);

// This host's name in the fleet: --host-name, else context.machineName();
// refuses (BadInput) a machine that gives none.
std::string hostNameOf(const FleetOptions& options, FleetContext& context);

// Starts `watcher`'s report of this host, over a connection of its own,
// under a lease of context.timing.leaseSeconds (VESK_FLEET_LEASE_TTL, in
// seconds, overrides it; below 3 is refused as BadInput).
std::unique_ptr<HostReport> startReport(const FleetOptions& options, FleetContext& context, const FleetAccess& access,
                                        FleetStore& store, Watcher& watcher);

} // namespace vesk_fleet
