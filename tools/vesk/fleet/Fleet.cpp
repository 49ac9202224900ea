#include "Fleet.h"

#include "Failure.h"
#include "RegFile.h"
#include "Text.h"
#include "support/registry/NameFold.h"

#include <set>

namespace vesk_fleet {
namespace {

// Rounds of read, upload and transaction before a push or gc whose state
// keeps moving gives up.
constexpr int Attempts = 5;

std::string quoted(const std::wstring& instance)
{
    return "instance '" + vesk_tool::toUtf8(instance) + "'";
}

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
        } catch (const std::invalid_argument& error) {
            throw FleetFailure(vesk_tool::StoreFailure,
                               "the fleet's present state of " + quoted(instance) + " cannot be read (" + error.what() +
                                   "), so what this push deletes cannot be counted: push with --force to replace it");
        }
    }
    std::size_t deleted = 0;
    for (const std::wstring& value : before)
        deleted += after.count(value) == 0 ? 1 : 0;
    const std::string counts = std::to_string(deleted) + " of the " + std::to_string(before.size()) +
                               " values the fleet holds for " + quoted(instance);
    if (after.empty())
        throw FleetFailure(vesk_tool::BadInput,
                           "the document holds no values (it would delete " + counts +
                               ", and every host would delete all of the instance's settings): nothing was pushed; "
                               "check the document, or push with --force if that is meant");
    if (deleted * 2 > before.size())
        throw FleetFailure(vesk_tool::BadInput, "the push would delete " + counts + ", more than half (" +
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
            throw FleetFailure(StaleRevision, "the fleet's state of " + quoted(instance) + " moved past revision " +
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
                throw FleetFailure(vesk_tool::BadInput, std::string(error.what()) + ": nothing was pushed");
            }
        }
        store.upload(*manifest, document);
        std::optional<std::int64_t> revision;
        try {
            revision = store.commit(*manifest, base);
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
    throw FleetFailure(vesk_tool::StoreFailure, "the fleet's state of " + quoted(instance) + " kept changing during " +
                                                    std::to_string(Attempts) +
                                                    " tries of this push: it did not land; push again");
}

std::int64_t Fleet::settle(const std::wstring& instance, const Manifest& manifest, const PushBase& base,
                           const EtcdError& lost)
{
    const std::string key = instanceKey(instance);
    const std::string what = "the answer to the push of " + quoted(instance) + " was lost (" + lost.what() + ")";
    try {
        if (store.fence(key, base))
            throw FleetFailure(vesk_tool::StoreFailure, what + ", and the push did not land; nothing was changed: push again");
        if (const auto landed = store.landed(key, manifest.pushId, base.state.modRevision))
            return *landed;
    } catch (const EtcdError& again) {
        throw FleetFailure(vesk_tool::StoreFailure,
                           what + ", and etcd cannot tell now whether it landed (" + again.what() +
                               "): see 'vesk fleet history' for a push at " + manifest.pushedAt +
                               " (push id " + manifest.pushId + ")");
    }
    throw FleetFailure(vesk_tool::StoreFailure,
                       what + ", and another push landed first; this one did not land: pull, look, and push again");
}

std::int64_t Fleet::pushLocal(const std::wstring& instance, const PushOptions& options)
{
    return push(instance, host.exportInstance(instance), options);
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

void Fleet::apply(const std::wstring& instance, const Published& state)
{
    // Everything is fetched and checked before the host is touched, so etcd
    // going away part way leaves the registry as it was.
    const std::string document = store.content(state.manifest);
    host.checkDocument(instance, document);
    host.replaceInstance(instance, document, state.revision);
}

std::int64_t Fleet::pull(const std::wstring& instance)
{
    const Published state = latest(instance);
    apply(instance, state);
    return state.revision;
}

std::string Fleet::dryRun(const std::wstring& instance)
{
    const Published state = latest(instance);
    const std::string document = store.content(state.manifest);
    host.checkDocument(instance, document);
    return host.describeChanges(instance, document);
}

std::string Fleet::status(const std::wstring& instance)
{
    const auto applied = host.appliedRevision(instance);
    const auto state = store.read(instanceKey(instance));
    std::string line = quoted(instance) + (applied ? " at revision " + std::to_string(*applied) : " never pulled") +
                       ", fleet at " + (state ? std::to_string(state->revision) : std::string("nothing pushed"));
    if (!state)
        return line + "\n";
    if (applied && *applied == state->revision)
        return line + " (up to date)\n";
    return line + " (behind: run 'vesk fleet pull --instance " + vesk_tool::toUtf8(instance) + "')\n";
}

std::vector<Published> Fleet::history(const std::wstring& instance, int limit)
{
    return store.history(instanceKey(instance), limit);
}

std::int64_t Fleet::rollback(const std::wstring& instance, std::int64_t revision, const PushOptions& options)
{
    const auto state = store.atRevision(instanceKey(instance), revision);
    if (!state)
        throw FleetFailure(vesk_tool::NotFound, "revision " + std::to_string(revision) + " is no push of " +
                                                    quoted(instance) +
                                                    " the fleet keeps: see 'vesk fleet history'");
    PushOptions again = options;
    again.ifRevision.reset();
    return push(instance, store.content(state->manifest), again, "rollback to " + std::to_string(revision));
}

} // namespace vesk_fleet
