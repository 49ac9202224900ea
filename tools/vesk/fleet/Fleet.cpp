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
