#include "tools/vesk/fleet/FleetGc.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/Rollout.h"

#include <algorithm>
#include <set>

namespace vesk_fleet {
namespace {

// etcd's default limit of operations in one transaction.
constexpr std::size_t MaxWrites = 128;
constexpr int Attempts = 5;

} // namespace

std::vector<std::string> Collector::instances()
{
    const std::string from = store.statePrefix();
    std::vector<std::string> names;
    for (const KeyValue& kv : store.client().range({from, prefixEnd(from), true, false, 0}))
        names.push_back(kv.key.substr(from.size()));
    return names;
}

Collected Collector::collect(const std::string& instance, int keep)
{
    for (int attempt = 0; attempt < Attempts; ++attempt) {
        Collected report;
        report.instance = instance;
        if (collectOnce(instance, keep, report))
            return report;
    }
    throw vesk_tool::Failure(vesk_tool::StoreFailure, "the fleet's state of '" + instance + "' kept changing during " +
                                                    std::to_string(Attempts) +
                                                    " tries of gc; what it removed is named by no kept revision: "
                                                    "run gc again");
}

bool Collector::collectOnce(const std::string& instance, int keep, Collected& report)
{
    EtcdClient& etcd = store.client();
    const KeyValue state = etcd.get(store.stateKey(instance));
    std::set<std::string> named;
    auto name = [&](const Manifest& manifest) {
        for (const std::string& digest : manifest.chunks)
            named.insert(store.chunkKey(manifest, digest));
    };
    if (const auto current = store.fromKeyValue(state)) {
        name(current->manifest);
        ++report.revisionsKept;
    }
    // The rings a rollout has not opened yet run its previous revision: it
    // stays, whatever its age. The record moves only with the state, or by
    // promote, pause or abort, none of which makes that revision needed anew.
    std::string rolloutKeeps;
    if (const auto rollout = readRollout(store, instance, state).rollout) {
        const KeyValue previous = etcd.get(store.historyKey(instance, rollout->previous));
        if (previous.found) {
            name(manifestFromJson(previous.value));
            rolloutKeeps = previous.key;
        }
    }

    // Entries newest first; everything below the oldest one kept goes.
    const std::string from = store.historyPrefix(instance);
    const std::int64_t wanted = keep - static_cast<std::int64_t>(report.revisionsKept);
    std::vector<KeyValue> kept;
    if (wanted > 0)
        kept = etcd.range({from, store.fenceKey(instance), false, true, wanted});
    for (const KeyValue& kv : kept)
        name(manifestFromJson(kv.value));
    report.revisionsKept += kept.size();
    const std::string removeBelow =
        wanted <= 0 ? store.fenceKey(instance) : static_cast<std::int64_t>(kept.size()) < wanted ? from : kept.back().key;
    report.revisionsRemoved = removeBelow == from ? 0 : etcd.range({from, removeBelow, true, false, 0}).size();

    std::vector<TxnWrite> writes;
    if (!rolloutKeeps.empty() && rolloutKeeps < removeBelow) {
        // Removed around it: below, and from just after it.
        ++report.revisionsKept;
        --report.revisionsRemoved;
        writes.push_back({from, std::nullopt, rolloutKeeps});
        writes.push_back({rolloutKeeps + '\0', std::nullopt, removeBelow});
    } else if (report.revisionsRemoved > 0) {
        writes.push_back({from, std::nullopt, removeBelow});
    }
    const std::string chunks = store.chunkPrefix(instance);
    for (const KeyValue& kv : etcd.range({chunks, prefixEnd(chunks), true, false, 0})) {
        if (named.count(kv.key)) {
            ++report.chunksKept;
            continue;
        }
        writes.push_back({kv.key, std::nullopt, ""});
        ++report.chunksRemoved;
    }

    // Each batch holds only while the state is the one whose manifests were
    // read: a push landing meanwhile may name a chunk listed here.
    const std::vector<TxnCompare> unchanged{{store.stateKey(instance), TxnCompare::Target::ModRevision,
                                             TxnCompare::Result::Equal, state.found ? state.modRevision : 0}};
    for (std::size_t at = 0; at < writes.size(); at += MaxWrites) {
        const std::size_t end = std::min(writes.size(), at + MaxWrites);
        if (!etcd.commit(unchanged, std::vector<TxnWrite>(writes.begin() + at, writes.begin() + end)))
            return false;
    }
    return true;
}

} // namespace vesk_fleet
