#include "tools/vesk/fleet/FleetCommands.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/FleetGc.h"
#include "tools/vesk/fleet/HostCommands.h"
#include "tools/vesk/fleet/HostList.h"
#include "tools/vesk/fleet/Overlay.h"
#include "tools/vesk/fleet/RingFollower.h"
#include "tools/vesk/fleet/Rollout.h"
#include "tools/vesk/fleet/StopSignal.h"
#include "tools/vesk/fleet/WindowsService.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <filesystem>
#include <iomanip>
#include <memory>
#include <sstream>

namespace vesk_fleet {
namespace {

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

std::string collectedText(const Collected& done)
{
    return done.instance + ": kept " + std::to_string(done.revisionsKept) + " revisions and " +
           std::to_string(done.chunksKept) + " chunks; removed " + std::to_string(done.revisionsRemoved) +
           " earlier revisions and " + std::to_string(done.chunksRemoved) + " chunks\n";
}

int collect(const FleetOptions& options, FleetContext& context, FleetStore& store)
{
    if (options.keep < 1)
        throw vesk_tool::Failure(vesk_tool::BadInput, "say how many revisions gc keeps with --keep N (1 or more)");
    if (options.all != options.instance.empty())
        throw vesk_tool::Failure(vesk_tool::BadInput, "name one instance with --instance, or every one with --all");
    Collector collector(store);
    const std::vector<std::string> names =
        options.all ? collector.instances()
                    : std::vector<std::string>{instanceKey(vesk_tool::fromUtf8(options.instance))};
    for (const std::string& name : names)
        context.out << collectedText(collector.collect(name, options.keep));
    return vesk_tool::Success;
}

// The chunk cache of a pull or watch, or none when it is turned off or its
// folder cannot be made: a pull then fetches every chunk, and still works.
// Other commands read documents once, and make no folder.
std::unique_ptr<ChunkCache> openCache(const FleetOptions& options, FleetContext& context)
{
    if (options.action != "pull" && options.action != "watch")
        return nullptr;
    const char* setting = context.getenv("VESK_FLEET_CACHE");
    if (setting && std::string(setting) == "off")
        return nullptr;
    try {
        const std::wstring folder = context.cacheFolder ? context.cacheFolder() : std::wstring();
        if (folder.empty())
            return nullptr;
#if defined(_WIN32)
        return std::make_unique<ChunkCache>(std::filesystem::path(folder));
#else
        return std::make_unique<ChunkCache>(std::filesystem::u8path(vesk_tool::toUtf8(folder)));
#endif
    } catch (const vesk_tool::Failure&) {
        return nullptr;
    }
}

// "(fetched 1 of 90 chunks, 41234 bytes)": what a pull cost etcd.
std::string fetchedText(const FetchCount& count)
{
    return " (fetched " + std::to_string(count.requests) + " of " + std::to_string(count.chunks) + " chunks, " +
           std::to_string(count.bytes) + " bytes)";
}

// Refuses rings a rollout cannot take: none named, an empty name, one twice.
void checkRings(const FleetOptions& options)
{
    if (options.rings.empty() && options.maxFailures > 0)
        throw vesk_tool::Failure(vesk_tool::BadInput, "--max-failures gates a rollout: give the rings with --rings");
    for (auto ring = options.rings.begin(); ring != options.rings.end(); ++ring)
        if (ring->empty() || std::find(options.rings.begin(), ring, *ring) != ring)
            throw vesk_tool::Failure(vesk_tool::BadInput, "--rings names ring '" + *ring +
                                                              "' twice, or an empty one: name each ring once");
}

int runAction(const FleetOptions& options, FleetContext& context, Fleet& fleet, FleetStore& store,
              const FleetAccess& access)
{
    const std::wstring instance = vesk_tool::fromUtf8(options.instance);
    const std::string& action = options.action;
    if (action == "push" && !options.overlayHost.empty())
        return runOverlayPush(options, context, fleet);
    Rollouts rollouts(store, fleet, instance);
    checkRings(options);
    // A plain push or rollback ends a rollout under way: every ring takes it.
    const PushOptions push{options.ifRevision, options.force, options.message,
                           options.rings.empty() ? rollouts.ending()
                                                 : rollouts.starting(options.rings, options.maxFailures)};
    std::optional<std::string> document; // what a push publishes: the file, or the local instance read once
    if (action == "push" && options.file.empty()) {
        // What this host holds carries its overlay, which is no value for every host.
        const auto applied = context.host.appliedRecord(instance);
        if (applied && applied->overlay != 0 && !options.force)
            throw vesk_tool::Failure(LocalChanges, "this host applies its overlay " + std::to_string(applied->overlay) +
                                                 " on top of the state: pushing its instance would publish the "
                                                 "overlay's values to every host; push a file, or use --force");
        document = context.host.exportInstance(instance);
        const Drift local = fleet.drift(instance, Side::document(*document));
        if (local.drifted())
            context.err << "vesk: warning: " << local.describe() << "; this push publishes them\n";
    } else if (action == "push") {
        document = vesk_tool::readFile(vesk_tool::fromUtf8(options.file));
    }
    if (action == "push" && options.dryRun) {
        context.out << fleet.pushPreview(instance, document);
    } else if (action == "push") {
        const std::int64_t revision = fleet.push(instance, *document, push);
        if (!options.rings.empty())
            rollouts.noteCandidate(revision);
        context.out << revision << "\n";
    } else if (action == "pull" && options.dryRun) {
        context.out << fleet.dryRun(instance);
    } else if (action == "pull") {
        const ApplyOutcome outcome =
            fleet.pull(instance, options.force ? DriftPolicy::SaveThenOverwrite : DriftPolicy::Refuse);
        if (outcome.refused) {
            context.err << "vesk: instance " << options.instance << ": " << outcome.drift.describe()
                        << "; nothing was pulled:\n"
                        << outcome.drift.changes.lines() << "publish them with 'vesk fleet push', or save them to a "
                        << "file and overwrite them with 'vesk fleet pull --force'\n";
            return LocalChanges;
        }
        if (!outcome.savedFile.empty())
            context.out << "instance " << options.instance << ": the local state was saved to " << outcome.savedFile
                        << "\n";
        context.out << "instance " << options.instance << " at revision " << outcome.revision
                    << (outcome.overlay ? " with overlay " + std::to_string(outcome.overlay) : std::string()) << ": "
                    << outcome.written.summary() << fetchedText(store.fetched()) << "\n";
    } else if (action == "status" && options.json) {
        context.out << statusJson(fleet, store, instance, hostNameOf(options, context), options.diff);
    } else if (action == "status") {
        context.out << fleet.status(instance, options.diff) << rollouts.text()
                    << hostStatusLine(store, instance, hostNameOf(options, context));
    } else if (action == "history") {
        context.out << historyText(fleet.history(instance, options.limit));
    } else if (action == "rollback") {
        context.out << fleet.rollback(instance, options.toRevision, push) << "\n";
    } else if (action == "watch") {
        std::function<bool()> keepGoing = context.keepGoing;
        if (!keepGoing) {
            installStopHandlers();
            keepGoing = [] { return !stopRequested(); };
        }
        WatchTiming timing = context.timing;
        timing.splayMs = options.splaySeconds * 1000L;
        RingFollower follower(rollouts, store, options.ring, hostNameOf(options, context));
        Watcher watcher(fleet, store, context.host, instance, context.err, keepGoing, timing, &follower);
        watcher.afterEachApply(afterApplyStep(options.after));
        const std::unique_ptr<HostReport> report = startReport(options, context, access, store, watcher);
        watcher.reportTo(report.get());
        return watcher.run();
    } else if (action == "promote") {
        context.out << rollouts.promote();
    } else if (action == "pause") {
        context.out << rollouts.pause();
    } else if (action == "abort") {
        context.out << rollouts.abort(options.message.empty() ? "by the operator" : options.message);
    } else {
        throw vesk_tool::Failure(vesk_tool::BadInput, "unknown fleet command '" + action +
                                                          "': use push, pull, status, watch, history, rollback, gc, "
                                                          "hosts, promote, pause or abort");
    }
    return vesk_tool::Success;
}

} // namespace

int runFleet(const FleetOptions& options, FleetContext& context)
{
    try {
        if (options.instance.empty() && options.action != "gc" && options.action != "hosts")
            throw vesk_tool::Failure(vesk_tool::BadInput, "name the instance with --instance");
        if (options.action == "service")
            return runServiceCommand(options, context);
        const FleetAccess access = resolveAccess(options.access, context.getenv);
        EtcdClient etcd(access.etcd, context.makeHttp(access.etcd.tls));
        FleetStore store(etcd, access.prefix);
        const std::unique_ptr<ChunkCache> cache = openCache(options, context);
        store.useCache(cache.get());
        if (options.action == "gc")
            return collect(options, context, store);
        Fleet fleet(store, context.host);
        if (options.action == "hosts")
            return listHostReports(options, context, store, fleet);
        fleet.forHost(options.hostName.empty() ? context.machineName() : options.hostName); // "": no overlay
        return runAction(options, context, fleet, store, access);
    } catch (...) {
        return vesk_tool::exitStatusOf(std::current_exception(),
                                       [&context](const std::string& line) { context.err << line << "\n"; });
    }
}

CLI::App* addFleetCommands(CLI::App& app, FleetOptions& o, std::function<void()> chosen)
{
    CLI::App* fleet = app.add_subcommand("fleet", "Keep instances in step with the fleet's state in etcd");
    fleet->require_subcommand(1);
    fleet->fallthrough(); // --instance is the tool's
    auto common = [&o, chosen](CLI::App* command) {
        command->fallthrough();
        command->add_option("--endpoints", o.access.endpoints, "etcd client URLs, tried in turn")->delimiter(',');
        command->add_option("--config", o.access.configFile, "Fleet configuration file");
        command->add_option("--user", o.access.user, "etcd user (the password comes from the configuration)");
        command->add_option("--cacert", o.access.caFile, "CA certificate file for TLS");
        command->add_option("--cert", o.access.certFile, "Client certificate file for TLS");
        command->add_option("--key", o.access.keyFile, "Client private key file for TLS");
        command->add_option("--prefix", o.access.prefix, "etcd key prefix of the fleet");
        command->callback([&o, chosen, command] {
            o.action = command->get_name();
            chosen();
        });
        return command;
    };
    CLI::App* push = common(fleet->add_subcommand("push", "Publish an instance's settings as a new revision"));
    push->add_option("--file", o.file, "A .reg file to publish instead of the local instance");
    push->add_option("--if-revision", o.ifRevision, "Refuse when the fleet's state moved past this revision");
    push->add_flag("--dry-run", o.dryRun, "Print what the push would change in the fleet's state; publish nothing");
    push->add_option("--rings", o.rings, "Roll the revision out through these rings, in order (then 'promote')")
        ->delimiter(',');
    push->add_option("--max-failures", o.maxFailures, "Abort the rollout when this many hosts of the open ring fail")
        ->check(CLI::NonNegativeNumber);
    CLI::Option* overlayHost =
        push->add_option("--host", o.overlayHost, "Publish the file as this host's overlay of the instance instead")
            ->check([](const std::string& name) { return name.empty() ? std::string("name the host") : std::string(); });
    push->add_flag("--remove-overlay", o.removeOverlay, "With --host: remove that host's overlay")->needs(overlayHost);
    CLI::App* pull = common(fleet->add_subcommand("pull", "Make the local instance equal to the fleet's state"));
    pull->add_flag("--dry-run", o.dryRun, "Print what would change and change nothing");
    pull->add_flag("--force", o.force, "Save local changes to a file in the machine folder, then overwrite them");
    CLI::App* status = common(fleet->add_subcommand("status", "Compare the instance with the revision applied and the fleet's"));
    status->add_flag("--diff", o.diff, "List what was changed here since the revision applied");
    CLI::App* watch = common(fleet->add_subcommand("watch", "Apply every new revision as it arrives, until stopped"));
    auto watching = [&o](CLI::App* command) {
        command->add_option("--splay", o.splaySeconds, "Wait a random time of up to this many seconds before applying, "
                                                       "so a fleet does not reach etcd at the same instant")
            ->check(CLI::NonNegativeNumber);
        command->add_option("--ring", o.ring, "This host's ring in staged rollouts (default: the ring 'default', last)");
        command->add_option("--on-apply", o.after.command, "Run this command through the shell after each apply");
        command->add_option("--on-apply-timeout", o.after.timeoutSeconds,
                            "Kill the --on-apply command after this many seconds (default 60)")
            ->check(CLI::PositiveNumber);
        command->add_option("--restart-service", o.after.restartService, "Restart this Windows service after each apply");
        command->add_option("--host-name", o.hostName, "This host's name in the fleet (default: the machine's name)");
    };
    watching(watch);
    CLI::App* service = fleet->add_subcommand("service", "Run the watcher as a Windows service");
    service->require_subcommand(1);
    service->fallthrough();
    const std::pair<const char*, const char*> serviceActions[] = {
        {"install", "Register the instance's watcher as a service, with the watch options given, and start it"},
        {"uninstall", "Stop and remove the instance's service"},
        {"run", ""}}; // what the installed service runs: hidden
    for (const auto& [name, help] : serviceActions) {
        CLI::App* action = common(service->add_subcommand(name, help));
        action->callback([&o, chosen, action] {
            o.action = "service";
            o.serviceAction = action->get_name();
            chosen();
        });
        if (std::string(name) != "uninstall")
            watching(action);
        if (!*help)
            action->group("");
    }
    CLI::App* history = common(fleet->add_subcommand("history", "List the revisions of the instance's state"));
    history->add_option("--limit", o.limit, "At most this many revisions")->check(CLI::PositiveNumber);
    CLI::App* rollback = common(fleet->add_subcommand("rollback", "Publish an earlier revision's state again"));
    rollback->add_option("--to", o.toRevision, "The revision to publish again")->required();
    for (CLI::App* publishing : {push, rollback}) {
        publishing->add_flag("--force", o.force, "Publish even a state that deletes every value, or most of them");
        publishing->add_option("-m,--message", o.message, "Why, kept with the revision and shown by history");
    }
    CLI::App* gc = common(fleet->add_subcommand("gc", "Remove revisions beyond the newest kept, and unused chunks"));
    gc->add_option("--keep", o.keep, "Revisions kept per instance, the current one included")
        ->required()
        ->check(CLI::PositiveNumber);
    gc->add_flag("--all", o.all, "Every instance of the fleet");
    CLI::App* hosts = common(fleet->add_subcommand("hosts", "List the hosts whose watchers report, newest state first"));
    hosts->add_flag("--all", o.all, "Every instance of the fleet");
    for (CLI::App* named : {pull, status}) // watch and the service take it with the watch options
        named->add_option("--host-name", o.hostName, "This host's name in the fleet (default: the machine's name)");
    for (CLI::App* scripted : {status, hosts})
        scripted->add_flag("--json", o.json, "Print one JSON document, for scripts");
    common(fleet->add_subcommand("promote", "Open the rollout's next ring (the last ends it), or resume it if paused"));
    common(fleet->add_subcommand("pause", "Hold the rollout: the next promote only resumes it"));
    common(fleet->add_subcommand("abort", "Publish the revision before the rollout again, and end it"))
        ->add_option("-m,--message", o.message, "Why, kept with the revision and shown by history");
    return fleet;
}

} // namespace vesk_fleet
