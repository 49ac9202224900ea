#pragma once

#include "tools/vesk/fleet/Rollout.h"

#include <optional>
#include <string>

// The watcher's side of a rollout: which revision its ring runs while one is
// under way, which key to wait on for the next change, and the health gate.
namespace vesk_fleet {

struct RingTarget {
    std::optional<Published> state; // what the host runs; nullopt: nothing to run, leave it as it is
    bool waiting = false;           // the candidate is not open to this ring yet: `state` is the previous one
    bool gated = false;             // this ring is the open one of a rollout with a health gate
    RolloutRead rollout;            // as read with the state
    std::string watchKey;           // the key whose next write may change the target
    std::int64_t watchFrom = 0;     // from this revision on
};

class RingFollower {
public:
    // `ring` empty: the default ring. `hostName` is this host in the reports (never empty).
    RingFollower(Rollouts& rollouts, FleetStore& store, std::string ring, std::string hostName);

    // What this host's ring runs, given the state key as just read: the
    // state itself, or the previous revision while its ring waits.
    RingTarget target(const KeyValue& state);

    // After this host applied the open ring's candidate, or failed to
    // (`failed`): aborts the rollout when the failing hosts of the ring,
    // this one counted by `failed` and the others by their reports, reach
    // its limit. Returns a line for the log, "" when nothing was done.
    std::string gate(const RingTarget& target, bool failed);

    const std::string& ring() const { return name; }

private:
    Rollouts& rollouts;
    FleetStore& store;
    std::string name;
    std::string hostName;
};

} // namespace vesk_fleet
