#include "tools/vesk/fleet/FleetCommands.h"

#include "tools/vesk/fleet/FleetCommandKit.h"

#include <CLI/CLI.hpp>

namespace vesk_fleet {

// The fleet's sub-commands, in the order its help lists them. Each is
// defined once, in the file named beside it; adding one adds its line here.
void definePush(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);         // StateCommands.cpp
void definePull(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);         // ApplyCommands.cpp
void defineStatus(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);       // ApplyCommands.cpp
void defineWatch(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);        // ApplyCommands.cpp
void defineService(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);      // ApplyCommands.cpp
void defineHistory(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);      // StateCommands.cpp
void defineRollback(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);     // StateCommands.cpp
void defineGc(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);           // StateCommands.cpp
void defineHosts(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);        // HostCommands.cpp
void defineRolloutSteps(CLI::App& fleet, const std::function<void(FleetAction)>& chosen); // RolloutCommands.cpp

namespace {

const FleetCommandDefinition FleetCommandList[] = {
    definePush, definePull, defineStatus, defineWatch, defineService, defineHistory,
    defineRollback, defineGc, defineHosts, defineRolloutSteps,
};

} // namespace

CLI::App* addFleetCommands(CLI::App& app, std::function<void(FleetAction)> chosen)
{
    CLI::App* fleet = app.add_subcommand("fleet", "Keep instances in step with the fleet's state in etcd");
    fleet->require_subcommand(1);
    fleet->fallthrough(); // --instance is the tool's
    // Defined when the command line reaches `fleet`: they are most of what
    // every other command would spend on its command line.
    fleet->preparse_callback([fleet, chosen](std::size_t) {
        for (const FleetCommandDefinition define : FleetCommandList)
            define(*fleet, chosen);
    });
    return fleet;
}

} // namespace vesk_fleet
