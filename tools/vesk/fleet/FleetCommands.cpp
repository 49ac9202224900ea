#include "tools/vesk/fleet/FleetCommands.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/MachineFolder.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/FleetGc.h"
#include "tools/vesk/fleet/FleetWatch.h"
#include "tools/vesk/fleet/HostCommands.h"
#include "tools/vesk/fleet/HostList.h"
#include "tools/vesk/fleet/Overlay.h"
#include "tools/vesk/fleet/RingFollower.h"
#include "tools/vesk/fleet/Rollout.h"
#include "tools/vesk/fleet/StopSignal.h"
#include "tools/vesk/fleet/WindowsService.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <iomanip>
#include <memory>
#include <sstream>

namespace vesk_fleet {
namespace {

// The chunk cache of a pull or watch, or none when VESK_FLEET_CACHE=off or
// its folder cannot be made: a pull then fetches every chunk, and still works.
std::unique_ptr<ChunkCache> openCache()
{
    const char* setting = std::getenv("VESK_FLEET_CACHE");
    if (setting && std::string(setting) == "off")
        return nullptr;
    try {
        const std::wstring folder = vesk_tool::machineFolder(L"chunks");
#if defined(_WIN32)
        return std::make_unique<ChunkCache>(std::filesystem::path(folder));
#else
        return std::make_unique<ChunkCache>(std::filesystem::u8path(vesk_tool::toUtf8(folder)));
#endif
    } catch (const vesk_tool::Failure&) {
        return nullptr;
    }
}

// The tool's environment, where the access settings may come from.
const char* environment(const char* name)
{
    return std::getenv(name);
}

// A command's way to the fleet: the access resolved, etcd's client, the
// store over it (with the chunk cache for the commands that fetch state to
// apply; the others read documents once, and make no folder), and the fleet
// as this host sees it.
struct Connection {
    Connection(const CommandArguments& arguments, FleetContext& context, bool cached = false)
        : access(resolveAccess(arguments.access, environment)), etcd(access.etcd, context.connect(access.etcd.tls)),
          store(etcd, access.prefix), cache(cached ? openCache() : nullptr), fleet(store, context.host)
    {
        store.useCache(cache.get());
    }
    // The fleet as the host `hostName` (--host-name, or the machine's) sees it, overlay included.
    Fleet& forHost(const std::string& hostName)
    {
        fleet.forHost(hostName.empty() ? machineName() : hostName); // "": no overlay
        return fleet;
    }

    const FleetAccess access;
    EtcdClient etcd;
    FleetStore store;
    const std::unique_ptr<ChunkCache> cache;
    Fleet fleet;
};

// "(fetched 1 of 90 chunks, 41234 bytes)": what a pull cost etcd.
std::string fetchedText(const FetchCount& count)
{
    return " (fetched " + std::to_string(count.requests) + " of " + std::to_string(count.chunks) + " chunks, " +
           std::to_string(count.bytes) + " bytes)";
}

// The exit status of the failure being handled, printed as the tool prints failures.
int failed(FleetContext& context)
{
    return vesk_tool::exitStatusOf(std::current_exception(),
                                   [&context](const std::string& line) { context.err << line << "\n"; });
}

// A usage error across options, found when the command line is parsed: it
// stops the tool before anything runs, exit 2 with `message` as it is.
[[noreturn]] void refuse(const std::string& message)
{
    throw vesk_tool::Failure(vesk_tool::BadInput, message);
}

// A sub-command with the options every fleet command takes: where etcd is.
CLI::App* addSubcommand(CLI::App& fleet, const std::string& name, const std::string& help, AccessOptions& access)
{
    CLI::App* command = fleet.add_subcommand(name, help);
    command->fallthrough(); // --instance is the tool's
    command->add_option("--endpoints", access.endpoints, "etcd client URLs, tried in turn")->delimiter(',');
    command->add_option("--config", access.configFile, "Fleet configuration file");
    command->add_option("--user", access.user, "etcd user (the password comes from the configuration)");
    command->add_option("--cacert", access.caFile, "CA certificate file for TLS");
    command->add_option("--cert", access.certFile, "Client certificate file for TLS");
    command->add_option("--key", access.keyFile, "Client private key file for TLS");
    command->add_option("--prefix", access.prefix, "etcd key prefix of the fleet");
    return command;
}

// T, where a template argument is not deduced from it.
template <class T>
struct Same {
    using Type = T;
};

// Once `command` is parsed: `check` refuses what its options cannot mean
// together, then `chosen` gets what runs `run` on the instance; every
// command but gc and hosts needs one.
template <class Arguments>
void runs(CLI::App* command, const std::function<void(FleetAction)>& chosen, std::shared_ptr<Arguments> arguments,
          int (*run)(const typename Same<Arguments>::Type&, FleetContext&),
          void (*check)(const typename Same<Arguments>::Type&) = nullptr, bool needsInstance = true)
{
    command->callback([chosen, arguments, run, check, needsInstance] {
        if (check)
            check(*arguments);
        chosen([arguments, run, needsInstance](const std::string& instance, FleetContext& context) {
            try {
                if (instance.empty() && needsInstance)
                    throw vesk_tool::Failure(vesk_tool::BadInput, "name the instance with --instance");
                arguments->instance = instance;
                return run(*arguments, context);
            } catch (...) {
                return failed(context);
            }
        });
    });
}

// --force and -m of the commands that publish.
void publishing(CLI::App* command, bool& force, std::string& message)
{
    command->add_flag("--force", force, "Publish even a state that deletes every value, or most of them");
    command->add_option("-m,--message", message, "Why, kept with the revision and shown by history");
}

// --host-name, of the commands that act as one host.
void hostNameOption(CLI::App* command, std::string& hostName)
{
    command->add_option("--host-name", hostName, "This host's name in the fleet (default: the machine's name)");
}

// --- push

// Refuses rings a rollout cannot take (none named, an empty name, one
// twice) and a rollout of one host's overlay.
void checkPush(const PushArguments& push)
{
    if (push.rings.empty() && push.maxFailures > 0)
        refuse("--max-failures gates a rollout: give the rings with --rings");
    for (auto ring = push.rings.begin(); ring != push.rings.end(); ++ring)
        if (ring->empty() || std::find(push.rings.begin(), ring, *ring) != ring)
            refuse("--rings names ring '" + *ring + "' twice, or an empty one: name each ring once");
    if (!push.rings.empty() && !push.overlayHost.empty())
        refuse("--rings rolls the fleet's state out, and an overlay (--host) is one host's: push the overlay "
               "without --rings");
}

// Publishes (or previews) the state, or hands an overlay to its own path; prints the revision.
int runPush(const PushArguments& o, FleetContext& context)
{
    Connection connection(o, context);
    Fleet& fleet = connection.forHost("");
    if (!o.overlayHost.empty())
        return runOverlayPush(o, context, fleet);
    const std::wstring instance = vesk_tool::fromUtf8(o.instance);
    Rollouts rollouts(connection.store, fleet, instance);
    // A plain push ends a rollout under way: every ring takes it.
    const PushOptions push{o.ifRevision, o.force, o.message,
                           o.rings.empty() ? rollouts.ending() : rollouts.starting(o.rings, o.maxFailures)};
    std::string document; // what the push publishes: the file, or the local instance read once
    if (o.file.empty()) {
        // What this host holds carries its overlay, which is no value for every host.
        const auto applied = context.host.appliedRecord(instance);
        if (applied && applied->overlay != 0 && !o.force)
            throw vesk_tool::Failure(LocalChanges, "this host applies its overlay " + std::to_string(applied->overlay) +
                                                 " on top of the state: pushing its instance would publish the "
                                                 "overlay's values to every host; push a file, or use --force");
        document = context.host.exportInstance(instance);
        const Drift local = fleet.drift(instance, Side::document(document));
        if (local.drifted())
            context.err << "vesk: warning: " << local.describe() << "; this push publishes them\n";
    } else {
        document = vesk_tool::readFile(vesk_tool::fromUtf8(o.file));
    }
    if (o.dryRun) {
        context.out << fleet.pushPreview(instance, document);
        return vesk_tool::Success;
    }
    const std::int64_t revision = fleet.push(instance, document, push);
    if (!o.rings.empty())
        rollouts.noteCandidate(revision);
    context.out << revision << "\n";
    return vesk_tool::Success;
}

// `push`: its options, their checks and help.
void definePush(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<PushArguments>();
    CLI::App* push = addSubcommand(fleet, "push", "Publish an instance's settings as a new revision", o->access);
    push->add_option("--file", o->file, "A .reg file to publish instead of the local instance");
    push->add_option("--if-revision", o->ifRevision, "Refuse when the fleet's state moved past this revision");
    push->add_flag("--dry-run", o->dryRun, "Print what the push would change in the fleet's state; publish nothing");
    push->add_option("--rings", o->rings, "Roll the revision out through these rings, in order (then 'promote')")
        ->delimiter(',');
    push->add_option("--max-failures", o->maxFailures, "Abort the rollout when this many hosts of the open ring fail")
        ->check(CLI::NonNegativeNumber);
    CLI::Option* overlayHost =
        push->add_option("--host", o->overlayHost, "Publish the file as this host's overlay of the instance instead")
            ->check([](const std::string& name) { return name.empty() ? std::string("name the host") : std::string(); });
    push->add_flag("--remove-overlay", o->removeOverlay, "With --host: remove that host's overlay")->needs(overlayHost);
    publishing(push, o->force, o->message);
    runs(push, chosen, o, runPush, checkPush);
}

// --- pull

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

// --- status

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

// --- watch, and the service that runs it

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

// --- history, rollback

struct HistoryArguments : CommandArguments {
    int limit = 20;
};

// The revisions as a table, newest first.
std::string historyText(const std::vector<Published>& entries)
{
    std::ostringstream out;
    out << std::left << std::setw(10) << "revision" << std::setw(22) << "pushed at" << std::setw(10) << "bytes"
        << "by\n";
    for (const Published& entry : entries) {
        out << std::setw(10) << entry.revision << std::setw(22) << entry.manifest.pushedAt << std::setw(10)
            << entry.manifest.bytes << entry.manifest.pushedBy;
        if (!entry.manifest.note.empty())
            out << " (" << entry.manifest.note << ")";
        if (!entry.manifest.message.empty())
            out << ": " << entry.manifest.message;
        out << "\n";
    }
    return out.str();
}

// Prints the newest --limit revisions of the state.
int runHistory(const HistoryArguments& o, FleetContext& context)
{
    Connection connection(o, context);
    context.out << historyText(connection.forHost("").history(vesk_tool::fromUtf8(o.instance), o.limit));
    return vesk_tool::Success;
}

// `history`.
void defineHistory(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<HistoryArguments>();
    CLI::App* history = addSubcommand(fleet, "history", "List the revisions of the instance's state", o->access);
    history->add_option("--limit", o->limit, "At most this many revisions")->check(CLI::PositiveNumber);
    runs(history, chosen, o, runHistory);
}

struct RollbackArguments : CommandArguments {
    std::int64_t toRevision = 0;
    bool force = false;
    std::string message;
};

// Publishes the state of --to again; prints the new revision.
int runRollback(const RollbackArguments& o, FleetContext& context)
{
    Connection connection(o, context);
    Fleet& fleet = connection.forHost("");
    const std::wstring instance = vesk_tool::fromUtf8(o.instance);
    Rollouts rollouts(connection.store, fleet, instance);
    // A rollback ends a rollout under way: every ring takes it.
    const PushOptions push{std::nullopt, o.force, o.message, rollouts.ending()};
    context.out << fleet.rollback(instance, o.toRevision, push) << "\n";
    return vesk_tool::Success;
}

// `rollback`.
void defineRollback(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<RollbackArguments>();
    CLI::App* rollback = addSubcommand(fleet, "rollback", "Publish an earlier revision's state again", o->access);
    rollback->add_option("--to", o->toRevision, "The revision to publish again")->required();
    publishing(rollback, o->force, o->message);
    runs(rollback, chosen, o, runRollback);
}

// --- gc, hosts: one instance, or every one

struct EveryInstanceArguments : CommandArguments {
    int keep = 0; // gc: revisions kept per instance
    bool all = false;
    bool json = false; // hosts
};

// One line of what gc kept and removed of an instance.
std::string collectedText(const Collected& done)
{
    return done.instance + ": kept " + std::to_string(done.revisionsKept) + " revisions and " +
           std::to_string(done.chunksKept) + " chunks; removed " + std::to_string(done.revisionsRemoved) +
           " earlier revisions and " + std::to_string(done.chunksRemoved) + " chunks\n";
}

// gc and hosts take one instance (--instance) or every one (--all).
void checkOneOrAll(const EveryInstanceArguments& o)
{
    if (o.all != o.instance.empty())
        throw vesk_tool::Failure(vesk_tool::BadInput, "name one instance with --instance, or every one with --all");
}

// Keeps the newest --keep revisions of the instance (or of every one) and the chunks they use.
int runGc(const EveryInstanceArguments& o, FleetContext& context)
{
    checkOneOrAll(o);
    Connection connection(o, context);
    Collector collector(connection.store);
    const std::vector<std::string> names =
        o.all ? collector.instances() : std::vector<std::string>{instanceKey(vesk_tool::fromUtf8(o.instance))};
    for (const std::string& name : names)
        context.out << collectedText(collector.collect(name, o.keep));
    return vesk_tool::Success;
}

// Prints the hosts' reports of the instance (or of every one).
int runHosts(const EveryInstanceArguments& o, FleetContext& context)
{
    checkOneOrAll(o);
    Connection connection(o, context);
    context.out << hostReports(connection.store, connection.fleet, o.instance, o.json);
    return vesk_tool::Success;
}

// `gc`.
void defineGc(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<EveryInstanceArguments>();
    CLI::App* gc = addSubcommand(fleet, "gc", "Remove revisions beyond the newest kept, and unused chunks", o->access);
    gc->add_option("--keep", o->keep, "Revisions kept per instance, the current one included")
        ->required()
        ->check(CLI::PositiveNumber);
    gc->add_flag("--all", o->all, "Every instance of the fleet");
    runs(gc, chosen, o, runGc, nullptr, false);
}

// `hosts`.
void defineHosts(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<EveryInstanceArguments>();
    CLI::App* hosts =
        addSubcommand(fleet, "hosts", "List the hosts whose watchers report, newest state first", o->access);
    hosts->add_flag("--all", o->all, "Every instance of the fleet");
    hosts->add_flag("--json", o->json, "Print one JSON document, for scripts");
    runs(hosts, chosen, o, runHosts, nullptr, false);
}

// --- promote, pause, abort: the operator's steps of a rollout

struct StepArguments : CommandArguments {
    std::string message; // abort: why
};

// Runs one operator's step on the instance's rollout and prints what it did.
template <std::string (*step)(Rollouts&, const StepArguments&)>
int runStep(const StepArguments& o, FleetContext& context)
{
    Connection connection(o, context);
    Rollouts rollouts(connection.store, connection.forHost(""), vesk_tool::fromUtf8(o.instance));
    context.out << step(rollouts, o);
    return vesk_tool::Success;
}

// The steps themselves, each saying what it did.
std::string promoteRollout(Rollouts& rollouts, const StepArguments&)
{
    return rollouts.promote();
}

std::string pauseRollout(Rollouts& rollouts, const StepArguments&)
{
    return rollouts.pause();
}

std::string abortRollout(Rollouts& rollouts, const StepArguments& o)
{
    return rollouts.abort(o.message.empty() ? "by the operator" : o.message);
}

// `promote`, `pause` and `abort`.
void defineRolloutSteps(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<StepArguments>();
    runs(addSubcommand(fleet, "promote", "Open the rollout's next ring (the last ends it), or resume it if paused",
                       o->access),
         chosen, o, runStep<promoteRollout>);
    runs(addSubcommand(fleet, "pause", "Hold the rollout: the next promote only resumes it", o->access), chosen, o,
         runStep<pauseRollout>);
    CLI::App* abortCommand =
        addSubcommand(fleet, "abort", "Publish the revision before the rollout again, and end it", o->access);
    abortCommand->add_option("-m,--message", o->message, "Why, kept with the revision and shown by history");
    runs(abortCommand, chosen, o, runStep<abortRollout>);
}

// The fleet's sub-commands, in the order its help lists them.
using FleetCommandDefinition = void (*)(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);
const FleetCommandDefinition FleetCommandList[] = {
    definePush, definePull, defineStatus, defineWatch, defineService, defineHistory,
    defineRollback, defineGc, defineHosts, defineRolloutSteps,
};

} // namespace

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

CLI::App* addFleetCommands(CLI::App& app, std::function<void(FleetAction)> chosen)
{
    CLI::App* fleet = app.add_subcommand("fleet", "Keep instances in step with the fleet's state in etcd");
    fleet->require_subcommand(1);
    fleet->fallthrough(); // --instance is the tool's
    for (const FleetCommandDefinition define : FleetCommandList)
        define(*fleet, chosen);
    return fleet;
}

} // namespace vesk_fleet
