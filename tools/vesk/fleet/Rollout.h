#pragma once

#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/FleetStore.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

// Staged rollouts: a push --rings publishes a revision (the candidate) as the
// fleet's state and, in the same transaction, a record at
// <prefix>/rollouts/<instance> naming the revision it replaced (the previous
// one), the rings in order and how far it is open. Watchers of open rings run
// the candidate, every other watcher the previous revision, until the last
// promote removes the record. Every change of the record compares its mod
// revision, so of two operators (or an operator and the health gate) acting
// on one record only the first lands.
namespace vesk_fleet {

// The ring of a watcher given no --ring: after every named ring, unless named.
extern const char* const DefaultRing;

struct Rollout {
    std::int64_t candidate = 0;     // the revision rolling out; 0 until the push filled it in
    std::string candidatePushId;    // its manifest's push id: the record holds only while the state is that push
    std::int64_t previous = 0;      // what rings not open yet run
    std::vector<std::string> rings; // in the order they open
    int open = 0;                   // index of the last ring open
    bool paused = false;            // promote then only resumes
    int maxFailures = 0;            // failing hosts of the open ring that abort it; 0: no gate
    std::string startedAt;
    std::string startedBy;

    // Whether hosts of `ring` run the candidate: rings up to the open one do;
    // a ring not named only once the rollout ends.
    bool opensTo(const std::string& ring) const;
    const std::string& openRing() const { return rings.at(static_cast<std::size_t>(open)); }
};

std::string rolloutToJson(const Rollout& rollout);
// Throws DamagedState when the text is no rollout record.
Rollout rolloutFromJson(const std::string& text);

// A record as read: the key (with the mod revision its changes compare) and
// the rollout, when there is one that belongs to the fleet's present state.
struct RolloutRead {
    KeyValue record;
    std::optional<Rollout> rollout;
};

// Where rollout records lie: <prefix>/rollouts/, beside state/.
std::string rolloutsPrefix(const FleetStore& store);
// The record of instance key `key` (as instanceKey() makes it), and its
// rollout when the state (`state`, the state key as read) is still its
// candidate: a push of a vesk that knows no rollouts leaves a record that no
// longer holds, read as none.
RolloutRead readRollout(FleetStore& store, const std::string& key, const KeyValue& state);
// "rollout of revision 42 (previous 40): ring canary open (1 of 2), ..."
// with how many hosts of the open ring are done and failing, for instance
// key `key`; "" when none is under way.
std::string rolloutLine(FleetStore& store, const std::string& key);

// The rollout of one instance, and the operators' commands on it.
class Rollouts {
public:
    Rollouts(FleetStore& store, Fleet& fleet, std::wstring instance);

    std::string recordKey() const;
    std::string stateKey() const { return store.stateKey(key); }
    // The state the push at `revision` wrote, while the history keeps it.
    std::optional<Published> atRevision(std::int64_t revision) { return store.atRevision(key, revision); }
    // Where the hosts of the instance report (one JSON object per host).
    std::string hostsPrefix() const;

    // readRollout() of this instance.
    RolloutRead read(const KeyValue& state) { return readRollout(store, key, state); }
    RolloutRead read();

    // For push --rings: a push that starts a rollout of what it writes over
    // the state it replaces (a rollout under way keeps its previous revision:
    // its later rings never left it). Refuses a push with nothing before it.
    std::function<TxnAlongside(const PushBase&, const Manifest&)> starting(std::vector<std::string> rings,
                                                                            int maxFailures);
    // For a plain push or rollback: ends a rollout under way in the same
    // transaction, so every ring takes what it writes.
    std::function<TxnAlongside(const PushBase&, const Manifest&)> ending();
    // After a push that started a rollout landed at `revision`: writes the
    // candidate's revision into the record (which holds without it).
    void noteCandidate(std::int64_t revision);

    // Opens the next ring (the last promote ends the rollout), or resumes a
    // paused rollout without opening one. Returns what it did.
    std::string promote();
    // Holds the rollout: the next promote only resumes it.
    std::string pause();
    // Publishes the previous revision again, as a new revision, and ends the
    // rollout, if the record is still the one read at `expected` (any, when
    // nullopt). Returns what it did.
    std::string abort(const std::string& why, std::optional<std::int64_t> expected = std::nullopt);

    // rolloutLine() of this instance.
    std::string text() { return rolloutLine(store, key); }

private:
    // The record read now, or Failure(NotFound) when no rollout is under way.
    RolloutRead underWay();
    // Writes `changed` over the record read as `read`; Failure(StaleRevision) when it moved.
    void replace(const RolloutRead& read, const std::optional<Rollout>& changed, const std::string& what);

    FleetStore& store;
    Fleet& fleet;
    std::wstring instance;
    std::string key; // instanceKey(instance)
};

// The host reports of `hostsPrefix` (the hosts' own JSON, with "host",
// "ring", "revision" and "state") that belong to `ring`; unreadable ones are
// skipped.
struct RingReports {
    int reporting = 0;
    int done = 0;    // up to date at `candidate`
    int failing = 0; // but `except`, the host counting
};
RingReports countReports(EtcdClient& etcd, const std::string& hostsPrefix, const std::string& ring,
                         std::int64_t candidate, const std::string& except = std::string());

// `vesk fleet status` and `hosts`: the rollout of the instance, "" when none.
std::string rolloutText(FleetStore& store, Fleet& fleet, const std::wstring& instance);

} // namespace vesk_fleet
