#include "FleetCommands.h"

#include "Failure.h"
#include "StopSignal.h"
#include "Text.h"

#include <CLI/CLI.hpp>

#include <filesystem>
#include <fstream>
#include <iomanip>
#include <sstream>

namespace vesk_fleet {
namespace {

std::string readWholeFile(const std::string& path)
{
    std::ifstream in(std::filesystem::u8path(path), std::ios::binary);
    if (!in)
        throw vesk_tool::Failure(vesk_tool::BadInput, "cannot read " + path + ": check the path");
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::string historyText(const std::vector<HistoryEntry>& entries, std::int64_t compactedBefore)
{
    std::ostringstream out;
    out << std::left << std::setw(10) << "revision" << std::setw(22) << "pushed at" << std::setw(10) << "bytes"
        << "by\n";
    for (const HistoryEntry& entry : entries) {
        out << std::setw(10) << entry.revision << std::setw(22) << entry.manifest.pushedAt << std::setw(10)
            << entry.manifest.bytes << entry.manifest.pushedBy;
        if (!entry.manifest.note.empty())
            out << " (" << entry.manifest.note << ")";
        out << "\n";
    }
    if (compactedBefore > 0)
        out << "older revisions than " << compactedBefore
            << " were compacted away by etcd and can no longer be read or rolled back to\n";
    return out.str();
}

int runAction(const FleetOptions& options, FleetContext& context, Fleet& fleet, FleetStore& store)
{
    const std::wstring instance = vesk_tool::fromUtf8(options.instance);
    const std::string& action = options.action;
    if (action == "push") {
        const std::int64_t revision = options.file.empty()
                                          ? fleet.pushLocal(instance, options.ifRevision)
                                          : fleet.push(instance, readWholeFile(options.file), options.ifRevision);
        context.out << revision << "\n";
    } else if (action == "pull" && options.dryRun) {
        context.out << fleet.dryRun(instance);
    } else if (action == "pull") {
        context.out << "instance " << options.instance << " at revision " << fleet.pull(instance) << "\n";
    } else if (action == "status") {
        context.out << fleet.status(instance);
    } else if (action == "history") {
        std::int64_t compactedBefore = 0;
        const auto entries = fleet.history(instance, options.limit, compactedBefore);
        context.out << historyText(entries, compactedBefore);
    } else if (action == "rollback") {
        context.out << fleet.rollback(instance, options.toRevision) << "\n";
    } else if (action == "watch") {
        std::function<bool()> keepGoing = context.keepGoing;
        if (!keepGoing) {
            installStopHandlers();
            keepGoing = [] { return !stopRequested(); };
        }
        WatchTiming timing = context.timing;
        timing.splayMs = options.splaySeconds * 1000L;
        Watcher watcher(fleet, store, context.host, instance, context.err, keepGoing, timing);
        return watcher.run();
    } else {
        throw vesk_tool::Failure(vesk_tool::BadInput, "unknown fleet command '" + action +
                                                          "': use push, pull, status, watch, history or rollback");
    }
    return vesk_tool::Success;
}

} // namespace

int runFleet(const FleetOptions& options, FleetContext& context)
{
    try {
        if (options.instance.empty())
            throw vesk_tool::Failure(vesk_tool::BadInput, "name the instance with --instance");
        const FleetAccess access = resolveAccess(options.access, context.getenv);
        EtcdClient etcd(access.etcd, context.makeHttp(access.etcd.tls));
        FleetStore store(etcd, access.prefix);
        Fleet fleet(store, context.host);
        return runAction(options, context, fleet, store);
    } catch (const EtcdError& error) {
        context.err << "vesk: " << explain(error) << "; the local registry is unchanged\n";
        return vesk_tool::StoreFailure;
    } catch (const FleetFailure& failure) {
        context.err << "vesk: " << failure.what() << "\n";
        return failure.status;
    } catch (const vesk_tool::Failure& failure) {
        context.err << "vesk: " << failure.what() << "\n";
        return failure.code();
    } catch (const vesk_tool::DecodeError&) {
        context.err << "vesk: the instance name is not UTF-8\n";
        return vesk_tool::BadInput;
    } catch (const std::invalid_argument& error) {
        context.err << "vesk: " << error.what() << "; the local registry is unchanged\n";
        return vesk_tool::StoreFailure;
    }
}

CLI::App* addFleetCommands(CLI::App& app, FleetOptions& o, std::function<void()> chosen)
{
    CLI::App* fleet = app.add_subcommand("fleet", "Keep instances in step with the fleet's state in etcd");
    fleet->require_subcommand(1);
    fleet->fallthrough(); // --instance and --help are the tool's
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
    CLI::App* pull = common(fleet->add_subcommand("pull", "Make the local instance equal to the fleet's state"));
    pull->add_flag("--dry-run", o.dryRun, "Print what would change and change nothing");
    common(fleet->add_subcommand("status", "Compare the applied revision with the fleet's"));
    CLI::App* watch = common(fleet->add_subcommand("watch", "Apply every new revision as it arrives, until stopped"));
    watch->add_option("--splay", o.splaySeconds, "Wait a random time of up to this many seconds before applying, so a "
                                                 "fleet does not reach etcd at the same instant")
        ->check(CLI::NonNegativeNumber);
    CLI::App* history = common(fleet->add_subcommand("history", "List the revisions of the instance's state"));
    history->add_option("--limit", o.limit, "At most this many revisions")->check(CLI::PositiveNumber);
    CLI::App* rollback = common(fleet->add_subcommand("rollback", "Publish an earlier revision's state again"));
    rollback->add_option("--to", o.toRevision, "The revision to publish again")->required();
    return fleet;
}

} // namespace vesk_fleet
