#include "tools/vesk/fleet/FleetCommandKit.h"

#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/FleetGc.h"
#include "tools/vesk/fleet/Overlay.h"
#include "tools/vesk/fleet/Rollout.h"

#include <algorithm>
#include <iomanip>
#include <sstream>

namespace vesk_fleet {
namespace {

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

// One line of what gc kept and removed of an instance.
std::string collectedText(const Collected& done)
{
    return done.instance + ": kept " + std::to_string(done.revisionsKept) + " revisions and " +
           std::to_string(done.chunksKept) + " chunks; removed " + std::to_string(done.revisionsRemoved) +
           " earlier revisions and " + std::to_string(done.chunksRemoved) + " chunks\n";
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

} // namespace

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

// `history`.
void defineHistory(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<HistoryArguments>();
    CLI::App* history = addSubcommand(fleet, "history", "List the revisions of the instance's state", o->access);
    history->add_option("--limit", o->limit, "At most this many revisions")->check(CLI::PositiveNumber);
    runs(history, chosen, o, runHistory);
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

} // namespace vesk_fleet
