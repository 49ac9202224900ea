#include "tools/vesk/fleet/Rollout.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/Digest.h"
#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/HostReport.h"

#include <nlohmann/json.hpp>

namespace vesk_fleet {
namespace {

using nlohmann::json;

constexpr int Format = 1;

std::string revisionText(std::int64_t revision)
{
    return "revision " + std::to_string(revision);
}

} // namespace

const char* const DefaultRing = "default";

bool Rollout::opensTo(const std::string& ring) const
{
    for (int i = 0; i <= open && i < static_cast<int>(rings.size()); ++i)
        if (rings[static_cast<std::size_t>(i)] == ring)
            return true;
    return false;
}

std::string rolloutToJson(const Rollout& rollout)
{
    return json{{"format", Format},
                {"candidate", rollout.candidate},
                {"candidatePushId", rollout.candidatePushId},
                {"previous", rollout.previous},
                {"rings", rollout.rings},
                {"open", rollout.open},
                {"paused", rollout.paused},
                {"maxFailures", rollout.maxFailures},
                {"startedAt", rollout.startedAt},
                {"startedBy", rollout.startedBy}}
        .dump();
}

Rollout rolloutFromJson(const std::string& text)
{
    const json in = json::parse(text, nullptr, false);
    if (!in.is_object() || in.value("format", 0) != Format)
        throw DamagedState("the rollout record in etcd is not in a format this vesk reads: update vesk");
    Rollout rollout;
    try {
        rollout.candidate = in.at("candidate").get<std::int64_t>();
        rollout.candidatePushId = in.at("candidatePushId").get<std::string>();
        rollout.previous = in.at("previous").get<std::int64_t>();
        rollout.rings = in.at("rings").get<std::vector<std::string>>();
        rollout.open = in.at("open").get<int>();
        rollout.paused = in.value("paused", false);
        rollout.maxFailures = in.value("maxFailures", 0);
        rollout.startedAt = in.value("startedAt", std::string());
        rollout.startedBy = in.value("startedBy", std::string());
    } catch (const json::exception& error) {
        throw DamagedState(std::string("the rollout record in etcd is damaged: ") + error.what());
    }
    if (rollout.rings.empty() || rollout.open < 0 || rollout.open >= static_cast<int>(rollout.rings.size()))
        throw DamagedState("the rollout record in etcd is damaged: its open ring is none of its rings");
    return rollout;
}

Rollouts::Rollouts(FleetStore& store, Fleet& fleet, std::wstring instance)
    : store(store), fleet(fleet), instance(std::move(instance)), key(instanceKey(this->instance))
{
}

std::string rolloutsPrefix(const FleetStore& store)
{
    // The fleet's prefix is statePrefix() without its "state/".
    const std::string root = store.statePrefix();
    return root.substr(0, root.size() - 6) + "rollouts/";
}

RolloutRead readRollout(FleetStore& store, const std::string& key, const KeyValue& state)
{
    RolloutRead read{store.client().get(rolloutsPrefix(store) + key), std::nullopt};
    if (!read.record.found || !state.found)
        return read;
    Rollout rollout = rolloutFromJson(read.record.value);
    if (manifestFromJson(state.value).pushId != rollout.candidatePushId)
        return read;
    rollout.candidate = state.modRevision;
    read.rollout = rollout;
    return read;
}

std::string Rollouts::recordKey() const
{
    return rolloutsPrefix(store) + key;
}

std::string Rollouts::hostsPrefix() const
{
    return store.hostsPrefix() + key + "/";
}

RolloutRead Rollouts::read()
{
    return read(store.client().get(store.stateKey(key)));
}

std::function<TxnAlongside(const PushBase&, const Manifest&)> Rollouts::starting(std::vector<std::string> rings,
                                                                                  int maxFailures)
{
    return [this, rings, maxFailures](const PushBase& base, const Manifest& manifest) {
        if (!base.state.found)
            throw vesk_tool::Failure(vesk_tool::BadInput,
                               "a rollout needs a revision for the rings not yet open to run, and the fleet holds "
                               "none for " + quotedInstance(instance) + ": nothing was pushed; push the first state plainly");
        const RolloutRead under = read(base.state);
        Rollout rollout;
        rollout.candidatePushId = manifest.pushId;
        rollout.previous = under.rollout ? under.rollout->previous : base.state.modRevision;
        rollout.rings = rings;
        rollout.maxFailures = maxFailures;
        rollout.startedAt = manifest.pushedAt;
        rollout.startedBy = manifest.pushedBy;
        return TxnAlongside{{}, {{recordKey(), rolloutToJson(rollout), ""}}};
    };
}

std::function<TxnAlongside(const PushBase&, const Manifest&)> Rollouts::ending()
{
    // No comparison needed: a record can only appear with a push, which
    // moves the state this push's transaction compares.
    return [this](const PushBase&, const Manifest&) {
        if (!store.client().get(recordKey()).found)
            return TxnAlongside{};
        return TxnAlongside{{}, {{recordKey(), std::nullopt, ""}}};
    };
}

void Rollouts::noteCandidate(std::int64_t revision)
{
    // The push landed whatever happens here: readers take the candidate from
    // the state when the record lacks it.
    try {
        const KeyValue record = store.client().get(recordKey());
        if (!record.found || record.modRevision != revision)
            return; // already acted on
        Rollout rollout = rolloutFromJson(record.value);
        rollout.candidate = revision;
        store.client().commit({{recordKey(), TxnCompare::Target::ModRevision, TxnCompare::Result::Equal, revision}},
                              {{recordKey(), rolloutToJson(rollout), ""}});
    } catch (const EtcdError&) {
    }
}

RolloutRead Rollouts::underWay()
{
    RolloutRead read = this->read();
    if (!read.rollout)
        throw vesk_tool::Failure(vesk_tool::NotFound, "no rollout of " + quotedInstance(instance) +
                                                    " is under way: start one with 'vesk fleet push --rings A,B'");
    return read;
}

void Rollouts::replace(const RolloutRead& read, const std::optional<Rollout>& changed, const std::string& what)
{
    using Target = TxnCompare::Target;
    using Result = TxnCompare::Result;
    const std::optional<std::string> value =
        changed ? std::optional<std::string>(rolloutToJson(*changed)) : std::nullopt;
    const bool landed = store.client()
                            .commit({{recordKey(), Target::ModRevision, Result::Equal, read.record.modRevision},
                                     {store.stateKey(key), Target::ModRevision, Result::Equal, read.rollout->candidate}},
                                    {{recordKey(), value, ""}})
                            .has_value();
    if (!landed)
        throw vesk_tool::Failure(StaleRevision, "the rollout of " + quotedInstance(instance) + " changed while this " + what +
                                              " read it (another operator or the health gate acted): nothing was "
                                              "changed; look with 'vesk fleet status' and decide again");
}

std::string Rollouts::promote()
{
    const RolloutRead read = underWay();
    Rollout rollout = *read.rollout;
    const std::string candidate = revisionText(rollout.candidate);
    if (rollout.paused) {
        rollout.paused = false;
        replace(read, rollout, "promote");
        const bool last = rollout.open + 1 == static_cast<int>(rollout.rings.size());
        return "the rollout of " + candidate + " resumed; ring " + rollout.openRing() +
               " is still the last open: promote again to " +
               (last ? std::string("end it") : "open ring " + rollout.rings[static_cast<std::size_t>(rollout.open + 1)]) +
               "\n";
    }
    if (rollout.open + 1 == static_cast<int>(rollout.rings.size())) {
        replace(read, std::nullopt, "promote");
        return "the rollout of " + candidate + " ended: every ring runs it\n";
    }
    ++rollout.open;
    replace(read, rollout, "promote");
    return "ring " + rollout.openRing() + " opened to " + candidate + " (" + std::to_string(rollout.open + 1) +
           " of " + std::to_string(rollout.rings.size()) + ")\n";
}

std::string Rollouts::pause()
{
    const RolloutRead read = underWay();
    Rollout rollout = *read.rollout;
    const std::string what = "the rollout of " + revisionText(rollout.candidate);
    if (rollout.paused)
        return what + " is paused already\n";
    rollout.paused = true;
    replace(read, rollout, "pause");
    return what + " is paused with ring " + rollout.openRing() + " open: 'vesk fleet promote' resumes it\n";
}

std::string Rollouts::abort(const std::string& why, std::optional<std::int64_t> expected)
{
    const std::string moved = "the rollout of " + quotedInstance(instance) +
                              " changed before the abort landed (another operator or the health gate acted): "
                              "nothing was published; look with 'vesk fleet status'";
    const RolloutRead read = expected ? this->read() : underWay();
    const std::int64_t seen = read.record.modRevision;
    if (expected && (!read.rollout || *expected != seen))
        throw vesk_tool::Failure(StaleRevision, moved);
    PushOptions options;
    options.force = true; // the fleet ran that state before: the guards have nothing to say against it
    options.message = "rollout of " + revisionText(read.rollout->candidate) + " aborted: " + why;
    options.alongside = [this, seen, moved](const PushBase&, const Manifest&) {
        if (store.client().get(recordKey()).modRevision != seen)
            throw vesk_tool::Failure(StaleRevision, moved);
        return TxnAlongside{{{recordKey(), TxnCompare::Target::ModRevision, TxnCompare::Result::Equal, seen}},
                            {{recordKey(), std::nullopt, ""}}};
    };
    const std::int64_t revision = fleet.rollback(instance, read.rollout->previous, options);
    return "the rollout of " + revisionText(read.rollout->candidate) + " was aborted (" + why + "): " +
           revisionText(read.rollout->previous) + " was published again as " + revisionText(revision) +
           ", which every ring applies\n";
}

RingReports countReports(EtcdClient& etcd, const std::string& hostsPrefix, const std::string& ring,
                         std::int64_t candidate, const std::string& except)
{
    RingReports counted;
    for (const KeyValue& kv : etcd.range({hostsPrefix, prefixEnd(hostsPrefix), false, false, 0})) {
        const json report = json::parse(kv.value, nullptr, false);
        if (!report.is_object())
            continue;
        const auto field = [&report](const char* name) {
            const auto found = report.find(name);
            return found != report.end() && found->is_string() ? found->get<std::string>() : std::string();
        };
        const std::string reported = field("ring");
        if ((reported.empty() ? std::string(DefaultRing) : reported) != ring ||
            (!except.empty() && hostKey(field("host")) == hostKey(except)))
            continue;
        ++counted.reporting;
        const auto revision = report.find("revision");
        const bool atCandidate = revision != report.end() && revision->is_number_integer() &&
                                 revision->get<std::int64_t>() == candidate;
        counted.failing += field("state") == "failing" ? 1 : 0;
        counted.done += field("state") == "up to date" && atCandidate ? 1 : 0;
    }
    return counted;
}

std::string rolloutLine(FleetStore& store, const std::string& key)
{
    const RolloutRead read = readRollout(store, key, store.client().get(store.stateKey(key)));
    if (!read.rollout)
        return std::string();
    const Rollout& rollout = *read.rollout;
    std::string rings;
    for (const std::string& ring : rollout.rings)
        rings += (rings.empty() ? "" : ", ") + ring;
    const RingReports hosts =
        countReports(store.client(), store.hostsPrefix() + key + "/", rollout.openRing(), rollout.candidate);
    return "rollout of " + revisionText(rollout.candidate) + " (previous " + std::to_string(rollout.previous) +
           "): ring " + rollout.openRing() + " open (" + std::to_string(rollout.open + 1) + " of " +
           std::to_string(rollout.rings.size()) + ": " + rings + ")" + (rollout.paused ? ", paused" : "") +
           (rollout.maxFailures > 0 ? ", aborts at " + std::to_string(rollout.maxFailures) + " failing" : "") +
           "; in " + rollout.openRing() + ": " + std::to_string(hosts.done) + " done, " +
           std::to_string(hosts.failing) + " failing, of " + std::to_string(hosts.reporting) + " reporting\n";
}

std::string rolloutText(FleetStore& store, Fleet& fleet, const std::wstring& instance)
{
    return Rollouts(store, fleet, instance).text();
}

} // namespace vesk_fleet
