#include "Fleet.h"

#include "Failure.h"
#include "Text.h"

namespace vesk_fleet {
namespace {

std::string quoted(const std::wstring& instance)
{
    return "instance '" + vesk_tool::toUtf8(instance) + "'";
}

} // namespace

std::string instanceKey(const std::wstring& instance)
{
    // Instance names compare without regard to case, as registry keys do.
    std::wstring folded = instance;
    for (wchar_t& c : folded)
        c = static_cast<wchar_t>(std::towlower(static_cast<wint_t>(c)));
    return vesk_tool::toUtf8(folded);
}

std::int64_t Fleet::push(const std::wstring& instance, const std::string& document,
                         std::optional<std::int64_t> ifRevision, const std::string& note)
{
    host.checkDocument(instance, document);
    const std::int64_t below = ifRevision ? *ifRevision + 1 : 0;
    const auto revision = store.publish(instanceKey(instance), document, note, below);
    if (revision)
        return *revision;
    const auto now = store.read(instanceKey(instance));
    throw FleetFailure(StaleRevision, "the fleet's state of " + quoted(instance) + " moved past revision " +
                                          std::to_string(*ifRevision) + " (it is at " +
                                          std::to_string(now ? now->revision : 0) +
                                          "): pull, look again, and push with --if-revision set to that");
}

std::int64_t Fleet::pushLocal(const std::wstring& instance, std::optional<std::int64_t> ifRevision)
{
    return push(instance, host.exportInstance(instance), ifRevision);
}

Published Fleet::latest(const std::wstring& instance)
{
    auto state = store.read(instanceKey(instance));
    if (!state)
        throw FleetFailure(vesk_tool::NotFound, "the fleet holds no state for " + quoted(instance) +
                                                    ": push it first with 'vesk fleet push --instance " +
                                                    vesk_tool::toUtf8(instance) + "'");
    return *state;
}

std::string Drift::describe() const
{
    const int values = changes.valuesDiffering();
    const int keys = changes.keysCreated + changes.keysRemoved;
    std::string text = std::to_string(values) + (values == 1 ? " value" : " values");
    if (keys > 0)
        text += " and " + std::to_string(keys) + (keys == 1 ? " key" : " keys");
    return text + " changed here since revision " + std::to_string(record ? record->revision : 0) + " was applied";
}

std::optional<std::string> Fleet::appliedFromStore(const std::wstring& instance, const AppliedRecord& record)
{
    if (record.digest.empty())
        return std::nullopt;
    try {
        const auto state = store.read(instanceKey(instance), record.revision);
        if (!state || state->revision != record.revision || state->manifest.sha256 != record.digest ||
            (!record.clusterId.empty() && state->clusterId != record.clusterId))
            return std::nullopt;
        return store.content(state->manifest);
    } catch (const EtcdError& error) {
        if (error.kind != EtcdError::Kind::Compacted)
            throw;
        return std::nullopt;
    }
}

Drift Fleet::drift(const std::wstring& instance)
{
    // The host's copy first: it is there offline and after etcd compacted
    // the revision away; etcd is asked only when the copy is gone.
    Drift drift;
    drift.record = host.appliedRecord(instance);
    if (!drift.record)
        return drift;
    std::optional<std::string> applied = host.appliedDocument(instance);
    if (!applied)
        applied = appliedFromStore(instance, *drift.record);
    if (!applied)
        return drift;
    drift.known = true;
    drift.changes = host.compare(instance, Side::document(*applied), Side::local());
    return drift;
}

ApplyOutcome Fleet::apply(const std::wstring& instance, const Published& state, DriftPolicy policy)
{
    // Everything is fetched and checked before the host is touched, so etcd
    // going away part way leaves the registry as it was.
    const std::string document = store.content(state.manifest);
    host.checkDocument(instance, document);
    ApplyOutcome outcome;
    outcome.revision = state.revision;
    outcome.drift = drift(instance);
    bool save = false;
    if (outcome.drift.drifted()) {
        if (policy == DriftPolicy::Refuse) {
            outcome.refused = true;
            return outcome;
        }
        save = true;
    } else if (!outcome.drift.known) {
        // Nothing tells local changes from applied ones (never pulled here,
        // or the applied document is gone): whatever the pull would remove
        // or overwrite is saved first, never lost unseen.
        const Difference lost = host.compare(instance, Side::document(document), Side::local());
        save = lost.valuesSet > 0 || lost.keysCreated > 0;
    }
    if (save)
        outcome.savedFile = host.saveInstance(instance);
    outcome.written =
        host.applyInstance(instance, document, AppliedRecord{state.revision, state.clusterId, state.manifest.sha256});
    return outcome;
}

ApplyOutcome Fleet::pull(const std::wstring& instance, DriftPolicy policy)
{
    return apply(instance, latest(instance), policy);
}

std::string Fleet::dryRun(const std::wstring& instance)
{
    const Published state = latest(instance);
    const std::string document = store.content(state.manifest);
    host.checkDocument(instance, document);
    return host.compare(instance, Side::local(), Side::document(document)).lines();
}

std::string Fleet::pushPreview(const std::wstring& instance, const std::optional<std::string>& document)
{
    const std::string pushed = document ? *document : host.exportInstance(instance);
    host.checkDocument(instance, pushed);
    const auto state = store.read(instanceKey(instance));
    const std::string fleetHas = state ? store.content(state->manifest) : std::string();
    return host.compare(instance, state ? Side::document(fleetHas) : Side::nothing(), Side::document(pushed)).lines();
}

std::string Fleet::status(const std::wstring& instance, bool withDiff)
{
    const Drift local = drift(instance);
    const auto state = store.read(instanceKey(instance));
    const auto& applied = local.record;
    std::string line = quoted(instance) + (applied ? " at revision " + std::to_string(applied->revision) : " never pulled") +
                       ", fleet at " + (state ? std::to_string(state->revision) : std::string("nothing pushed"));
    const std::string name = vesk_tool::toUtf8(instance);
    const bool sameCluster = applied && (applied->clusterId.empty() || !state || applied->clusterId == state->clusterId);
    const bool current = state && applied && applied->revision == state->revision && sameCluster;
    if (local.drifted()) {
        line += " (drifted: " + local.describe() + (state && !current ? "; the fleet moved on too" : "") +
                "; 'vesk fleet status --diff --instance " + name + "' lists them, 'vesk fleet push' publishes them, " +
                "'vesk fleet pull --force' saves them to a file and overwrites them)\n";
        return withDiff ? line + local.changes.lines() : line;
    }
    if (!state)
        return line + "\n";
    if (current)
        return line + " (up to date)\n";
    if (applied && !sameCluster)
        line += " (behind: the revision applied is of another etcd cluster; run 'vesk fleet pull --instance " + name + "')\n";
    else
        line += " (behind: run 'vesk fleet pull --instance " + name + "')\n";
    return line;
}

std::vector<HistoryEntry> Fleet::history(const std::wstring& instance, int limit, std::int64_t& compactedBefore)
{
    std::vector<HistoryEntry> entries;
    compactedBefore = 0;
    // etcd keeps no list of a key's writes, but reading the key as it was
    // just before a write gives the write before that one.
    KeyValue kv = store.client().get(store.stateKey(instanceKey(instance)));
    while (kv.found && static_cast<int>(entries.size()) < limit) {
        entries.push_back(HistoryEntry{kv.modRevision, manifestFromJson(kv.value)});
        if (kv.modRevision <= 1)
            break;
        try {
            kv = store.client().get(store.stateKey(instanceKey(instance)), kv.modRevision - 1);
        } catch (const EtcdError& error) {
            if (error.kind != EtcdError::Kind::Compacted)
                throw;
            compactedBefore = kv.modRevision;
            break;
        }
    }
    return entries;
}

std::int64_t Fleet::rollback(const std::wstring& instance, std::int64_t revision)
{
    const auto state = store.read(instanceKey(instance), revision);
    if (!state || state->revision != revision)
        throw FleetFailure(vesk_tool::NotFound, "revision " + std::to_string(revision) + " is no push of " +
                                                    quoted(instance) + ": see 'vesk fleet history'");
    return push(instance, store.content(state->manifest), std::nullopt, "rollback to " + std::to_string(revision));
}

} // namespace vesk_fleet
