#include "tools/vesk/fleet/FleetCommandKit.h"

#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/FleetWatch.h"
#include "tools/vesk/fleet/HostCommands.h"
#include "tools/vesk/fleet/HostList.h"
#include "tools/vesk/fleet/RingFollower.h"
#include "tools/vesk/fleet/Rollout.h"
#include "tools/vesk/fleet/StopSignal.h"
#include "tools/vesk/fleet/WindowsService.h"

namespace vesk_fleet {
namespace {

struct PullArguments : CommandArguments {
    bool dryRun = false; // show the change, write nothing
    bool force = false;  // save local changes, then overwrite them
    std::string hostName;
};

// Applies the fleet's state here (or previews it); refuses local changes unless --force saves them first.
int runPull(const PullArguments& o, FleetContext& context)
{
    Connection connection(o, context, true);
    Fleet& fleet = connection.forHost(o.hostName);
    const std::wstring instance = vesk_tool::fromUtf8(o.instance);
    if (o.dryRun) {
        context.out << fleet.dryRun(instance);
        return vesk_tool::Success;
    }
    const ApplyOutcome outcome = fleet.pull(instance, o.force ? DriftPolicy::SaveThenOverwrite : DriftPolicy::Refuse);
    if (outcome.refused) {
        context.err << "vesk: instance " << o.instance << ": " << outcome.drift.describe() << "; nothing was pulled:\n"
                    << outcome.drift.changes.lines() << "publish them with 'vesk fleet push', or save them to a "
                    << "file and overwrite them with 'vesk fleet pull --force'\n";
        return LocalChanges;
    }
    if (!outcome.savedFile.empty())
        context.out << "instance " << o.instance << ": the local state was saved to " << outcome.savedFile << "\n";
    context.out << "instance " << o.instance << " at revision " << outcome.revision
                << (outcome.overlay ? " with overlay " + std::to_string(outcome.overlay) : std::string()) << ": "
                << outcome.written.summary() << fetchedText(connection.store.fetched()) << "\n";
    return vesk_tool::Success;
}

struct StatusArguments : CommandArguments {
    bool diff = false; // list the local changes
    std::string hostName;
    bool json = false;
};

// Prints the instance against the revision applied, the rollout and this host's report.
int runStatus(const StatusArguments& o, FleetContext& context)
{
    Connection connection(o, context);
    Fleet& fleet = connection.forHost(o.hostName);
    const std::wstring instance = vesk_tool::fromUtf8(o.instance);
    const std::string host = hostNameOf(o.hostName);
    if (o.json) {
        context.out << statusJson(fleet, connection.store, instance, host, o.diff);
        return vesk_tool::Success;
    }
    Rollouts rollouts(connection.store, fleet, instance);
    context.out << fleet.status(instance, o.diff) << rollouts.text() << hostStatusLine(connection.store, instance, host);
    return vesk_tool::Success;
}

// The watch options, on watch and on the service's install and run.
void watchOptions(CLI::App* command, WatchArguments& o)
{
    command->add_option("--splay", o.splaySeconds, "Wait a random time of up to this many seconds before applying, "
                                                   "so a fleet does not reach etcd at the same instant")
        ->check(CLI::NonNegativeNumber);
    command->add_option("--ring", o.ring, "This host's ring in staged rollouts (default: the ring 'default', last)");
    command->add_option("--on-apply", o.after.command, "Run this command through the shell after each apply");
    command->add_option("--on-apply-timeout", o.after.timeoutSeconds,
                        "Kill the --on-apply command after this many seconds (default 60)")
        ->check(CLI::PositiveNumber);
    command->add_option("--restart-service", o.after.restartService, "Restart this Windows service after each apply");
    hostNameOption(command, o.hostName);
}

// `watch` from a console or a unit's process: until Ctrl+C or SIGTERM.
int runConsoleWatch(const WatchArguments& o, FleetContext& context)
{
    installStopHandlers(); // Ctrl+C and SIGTERM end it between applies
    return runWatch(o, context);
}

} // namespace

// `pull`.
void definePull(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<PullArguments>();
    CLI::App* pull = addSubcommand(fleet, "pull", "Make the local instance equal to the fleet's state", o->access);
    pull->add_flag("--dry-run", o->dryRun, "Print what would change and change nothing");
    pull->add_flag("--force", o->force, "Save local changes to a file in the machine folder, then overwrite them");
    hostNameOption(pull, o->hostName);
    runs(pull, chosen, o, runPull);
}

// `status`.
void defineStatus(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<StatusArguments>();
    CLI::App* status =
        addSubcommand(fleet, "status", "Compare the instance with the revision applied and the fleet's", o->access);
    status->add_flag("--diff", o->diff, "List what was changed here since the revision applied");
    hostNameOption(status, o->hostName);
    status->add_flag("--json", o->json, "Print one JSON document, for scripts");
    runs(status, chosen, o, runStatus);
}

// `watch`.
void defineWatch(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<WatchArguments>();
    CLI::App* watch = addSubcommand(fleet, "watch", "Apply every new revision as it arrives, until stopped", o->access);
    watchOptions(watch, *o);
    runs(watch, chosen, o, runConsoleWatch);
}

// `service install|uninstall|run`: install and run take the watch options.
void defineService(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    CLI::App* service = fleet.add_subcommand("service", "Run the watcher as a Windows service");
    service->require_subcommand(1);
    service->fallthrough();
    auto o = std::make_shared<WatchArguments>();
    CLI::App* install = addSubcommand(*service, "install", "Register the instance's watcher as a service, with the "
                                                           "watch options given, and start it", o->access);
    watchOptions(install, *o);
    runs(install, chosen, o, installService);
    auto removed = std::make_shared<CommandArguments>();
    CLI::App* uninstall = addSubcommand(*service, "uninstall", "Stop and remove the instance's service", removed->access);
    runs(uninstall, chosen, removed, uninstallService);
    CLI::App* run = addSubcommand(*service, "run", "", o->access); // what the installed service runs: hidden
    watchOptions(run, *o);
    run->group("");
    runs(run, chosen, o, runService);
}

int runWatch(const WatchArguments& o, FleetContext& context)
{
    try {
        Connection connection(o, context, true);
        Fleet& fleet = connection.forHost(o.hostName);
        const std::wstring instance = vesk_tool::fromUtf8(o.instance);
        Rollouts rollouts(connection.store, fleet, instance);
        WatchTiming timing;
        timing.splayMs = o.splaySeconds * 1000L;
        RingFollower follower(rollouts, connection.store, o.ring, hostNameOf(o.hostName));
        Watcher watcher(fleet, connection.store, context.host, instance, context.err, [] { return !stopRequested(); },
                        timing, &follower);
        watcher.afterEachApply(afterApplyStep(o.after));
        const std::unique_ptr<HostReport> report = startReport(o, context, connection.access, connection.store, watcher);
        watcher.reportTo(report.get());
        return watcher.run();
    } catch (...) {
        return failed(context);
    }
}

} // namespace vesk_fleet
