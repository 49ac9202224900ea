#include "tools/vesk/fleet/Fleet.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/RegFile.h"
#include "tools/vesk/core/Text.h"
#include "support/registry/NameFold.h"

#include <set>

namespace vesk_fleet {
namespace {

// Rounds of read, upload and transaction before a push or gc whose state
// keeps moving gives up.
constexpr int Attempts = 5;

// Each value a document sets, as its key and name folded as the registry
// compares them.
std::set<std::wstring> valuesOf(const std::string& document)
{
    std::set<std::wstring> values;
    for (const vesk_tool::RegKey& key : vesk_tool::readRegFile(document).keys)
        if (!key.remove)
            for (const vesk_tool::RegValue& value : key.values)
                if (!value.remove)
                    values.insert(Kestlib500::FoldedName(key.path) + L'\n' + Kestlib500::FoldedName(value.name));
    return values;
}

} // namespace

std::string quotedInstance(const std::wstring& instance)
{
    return "instance '" + vesk_tool::toUtf8(instance) + "'";
}

std::string instanceKey(const std::wstring& instance)
{
    const std::string folded = vesk_tool::toUtf8(Kestlib500::FoldedName(instance));
    std::string key;
    for (const char c : folded) {
        if (c != '/' && c != '%') {
            key += c;
            continue;
        }
        key += c == '/' ? "%2F" : "%25";
    }
    return key;
}

void Fleet::guard(const std::wstring& instance, const std::string& document, const std::optional<Published>& current)
{
    const std::set<std::wstring> after = valuesOf(document);
    std::set<std::wstring> before;
    if (current) {
        try {
            before = valuesOf(store.content(current->manifest));
        } catch (const DamagedState& error) {
            throw vesk_tool::Failure(vesk_tool::StoreFailure,
                               "the fleet's present state of " + quotedInstance(instance) + " cannot be read (" + error.what() +
                                   "), so what this push deletes cannot be counted: push with --force to replace it");
        }
    }
    std::size_t deleted = 0;
    for (const std::wstring& value : before)
        deleted += after.count(value) == 0 ? 1 : 0;
    const std::string counts = std::to_string(deleted) + " of the " + std::to_string(before.size()) +
                               " values the fleet holds for " + quotedInstance(instance);
    if (after.empty())
        throw vesk_tool::Failure(vesk_tool::BadInput,
                           "the document holds no values (it would delete " + counts +
                               ", and every host would delete all of the instance's settings): nothing was pushed; "
                               "check the document, or push with --force if that is meant");
    if (deleted * 2 > before.size())
        throw vesk_tool::Failure(vesk_tool::BadInput, "the push would delete " + counts + ", more than half (" +
                                                    std::to_string(after.size()) +
                                                    " would be left): nothing was pushed; check the document, or "
                                                    "push with --force if that is meant");
}

std::int64_t Fleet::push(const std::wstring& instance, const std::string& document, const PushOptions& options,
                         const std::string& note)
{
    host.checkDocument(instance, document);
    const std::string key = instanceKey(instance);
    std::optional<Manifest> manifest;
    std::optional<std::int64_t> guarded; // the revision the guard passed at
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        const PushBase base = store.base(key);
        const auto current = store.fromKeyValue(base.state);
        if (options.ifRevision && current && current->revision > *options.ifRevision)
            throw vesk_tool::Failure(StaleRevision, "the fleet's state of " + quotedInstance(instance) + " moved past revision " +
                                                  std::to_string(*options.ifRevision) + " (it is at " +
                                                  std::to_string(current->revision) +
                                                  "): pull, look again, and push with --if-revision set to that");
        if (!options.force && guarded != base.state.modRevision) {
            guard(instance, document, current);
            guarded = base.state.modRevision;
        }
        if (!manifest) {
            try {
                manifest = store.manifestOf(key, document, {options.message, note});
            } catch (const std::length_error& error) {
                throw vesk_tool::Failure(vesk_tool::BadInput, std::string(error.what()) + ": nothing was pushed");
            }
        }
        store.upload(*manifest, document);
        std::optional<std::int64_t> revision;
        try {
            revision = store.commit(*manifest, base, options.alongside ? options.alongside(base, *manifest) : TxnAlongside{});
        } catch (const EtcdError& error) {
            if (error.kind != EtcdError::Kind::AnswerLost && error.kind != EtcdError::Kind::Unavailable)
                throw;
            return settle(instance, *manifest, base, error);
        }
        if (revision)
            return *revision;
        // Refused: another push landed, a gc took a chunk, or this very
        // transaction was sent twice and its first copy landed.
        if (const auto landed = store.landed(key, manifest->pushId, base.state.modRevision))
            return *landed;
    }
    throw vesk_tool::Failure(vesk_tool::StoreFailure, "the fleet's state of " + quotedInstance(instance) + " kept changing during " +
                                                    std::to_string(Attempts) +
                                                    " tries of this push: it did not land; push again");
}

std::int64_t Fleet::settle(const std::wstring& instance, const Manifest& manifest, const PushBase& base,
                           const EtcdError& lost)
{
    const std::string key = instanceKey(instance);
    const std::string what = "the answer to the push of " + quotedInstance(instance) + " was lost (" + lost.what() + ")";
    try {
        if (store.fence(key, base))
            throw vesk_tool::Failure(vesk_tool::StoreFailure, what + ", and the push did not land; nothing was changed: push again");
        if (const auto landed = store.landed(key, manifest.pushId, base.state.modRevision))
            return *landed;
    } catch (const EtcdError& again) {
        throw vesk_tool::Failure(vesk_tool::StoreFailure,
                           what + ", and etcd cannot tell now whether it landed (" + again.what() +
                               "): see 'vesk fleet history' for a push at " + manifest.pushedAt +
                               " (push id " + manifest.pushId + ")");
    }
    throw vesk_tool::Failure(vesk_tool::StoreFailure,
                       what + ", and another push landed first; this one did not land: pull, look, and push again");
}

Published Fleet::latest(const std::wstring& instance)
{
    auto state = store.read(instanceKey(instance));
    if (!state)
        throw vesk_tool::Failure(vesk_tool::NotFound, "the fleet holds no state for " + quotedInstance(instance) +
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
        const auto state = store.atRevision(instanceKey(instance), record.revision);
        if (!state || state->revision != record.revision ||
            (!record.clusterId.empty() && state->clusterId != record.clusterId))
            return std::nullopt;
        if (record.overlay != 0)
            return composedFromStore(instance, *state, record);
        if (state->manifest.sha256 != record.digest)
            return std::nullopt;
        return store.content(state->manifest);
    } catch (const EtcdError& error) {
        if (error.kind != EtcdError::Kind::Compacted)
            throw;
        return std::nullopt;
    }
}

Drift Fleet::drift(const std::wstring& instance, Side local)
{
    // The host's copy first: it is there offline and after etcd compacted
    // the revision away; etcd is asked only when the copy is gone.
    Drift drift;
    drift.record = host.appliedRecord(instance);
    if (!drift.record)
        return drift;
    // Most runs find the instance as it was left: then the applied document
    // need not be read and compared at all.
    if (local.isLocal && host.unchangedSinceApply(instance)) {
        drift.known = true;
        return drift;
    }
    std::optional<std::string> applied = host.appliedDocument(instance);
    if (!applied)
        applied = appliedFromStore(instance, *drift.record);
    if (!applied)
        return drift;
    drift.known = true;
    drift.changes = host.compare(instance, Side::document(*applied), local);
    return drift;
}

ApplyOutcome Fleet::apply(const std::wstring& instance, const Published& state, DriftPolicy policy)
{
    // Everything is fetched and checked before the host is touched, so etcd
    // going away part way leaves the registry as it was.
    const Target target = targetOf(instance, state);
    const std::string& document = target.document;
    host.checkDocument(instance, document);
    ApplyOutcome outcome;
    outcome.revision = state.revision;
    outcome.overlay = target.record.overlay;
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
    outcome.written = host.applyInstance(instance, document, target.record);
    return outcome;
}

ApplyOutcome Fleet::pull(const std::wstring& instance, DriftPolicy policy)
{
    return apply(instance, latest(instance), policy);
}

std::string Fleet::dryRun(const std::wstring& instance)
{
    const Published state = latest(instance);
    const Target target = targetOf(instance, state);
    host.checkDocument(instance, target.document);
    if (target.record.overlay != 0)
        return layeredDryRun(instance, state, target);
    return host.compare(instance, Side::local(), Side::document(target.document)).lines();
}

std::string Fleet::pushPreview(const std::wstring& instance, const std::string& pushed)
{
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
    const std::int64_t overlay = overlayRevision(instance);
    auto withOverlay = [](std::int64_t revision) {
        return revision != 0 ? " with overlay " + std::to_string(revision) : std::string();
    };
    std::string line = quotedInstance(instance) +
                       (applied ? " at revision " + std::to_string(applied->revision) + withOverlay(applied->overlay)
                                : " never pulled") +
                       ", fleet at " + (state ? std::to_string(state->revision) + withOverlay(overlay) : std::string("nothing pushed"));
    const std::string name = vesk_tool::toUtf8(instance);
    const bool sameCluster = applied && (applied->clusterId.empty() || !state || applied->clusterId == state->clusterId);
    const bool current =
        state && applied && applied->revision == state->revision && applied->overlay == overlay && sameCluster;
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

std::vector<Published> Fleet::history(const std::wstring& instance, int limit)
{
    return store.history(instanceKey(instance), limit);
}

std::int64_t Fleet::rollback(const std::wstring& instance, std::int64_t revision, const PushOptions& options)
{
    const auto state = store.atRevision(instanceKey(instance), revision);
    if (!state)
        throw vesk_tool::Failure(vesk_tool::NotFound, "revision " + std::to_string(revision) + " is no push of " +
                                                    quotedInstance(instance) +
                                                    " the fleet keeps: see 'vesk fleet history'");
    PushOptions again = options;
    again.ifRevision.reset();
    return push(instance, store.content(state->manifest), again, "rollback to " + std::to_string(revision));
}

} // namespace vesk_fleet
