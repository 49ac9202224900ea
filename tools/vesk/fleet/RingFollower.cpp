#include "tools/vesk/fleet/RingFollower.h"

#include "tools/vesk/core/Text.h"

namespace vesk_fleet {

RingFollower::RingFollower(Rollouts& rollouts, FleetStore& store, std::string ring, std::string hostName)
    : rollouts(rollouts), store(store), name(ring.empty() ? std::string(DefaultRing) : std::move(ring)),
      hostName(std::move(hostName))
{
}

RingTarget RingFollower::target(const KeyValue& state)
{
    RingTarget target;
    target.state = store.fromKeyValue(state);
    target.watchKey = rollouts.stateKey();
    target.watchFrom = state.revision + 1;
    if (!target.state)
        return target;
    target.rollout = rollouts.read(state);
    if (!target.rollout.rollout)
        return target;
    // Every change that matters now moves the record: a promote, a pause, an
    // abort, the push that ends or replaces the rollout.
    const Rollout& rollout = *target.rollout.rollout;
    target.watchKey = rollouts.recordKey();
    target.watchFrom = target.rollout.record.revision + 1;
    if (rollout.opensTo(name)) {
        target.gated = rollout.maxFailures > 0 && rollout.openRing() == name;
        return target;
    }
    target.waiting = true;
    target.state = rollouts.atRevision(rollout.previous);
    return target;
}

std::string RingFollower::gate(const RingTarget& target, bool failed)
{
    if (!target.gated)
        return std::string();
    const Rollout& rollout = *target.rollout.rollout;
    const RingReports others = countReports(store.client(), rollouts.hostsPrefix(), name, rollout.candidate, hostName);
    const int failing = others.failing + (failed ? 1 : 0);
    if (failing < rollout.maxFailures)
        return std::string();
    const std::string why = "failing hosts of ring " + name + ": " + std::to_string(failing) + ", the limit " +
                            std::to_string(rollout.maxFailures) + " (seen by " + hostName + ")";
    try {
        std::string done = rollouts.abort(why, target.rollout.record.modRevision);
        done.pop_back(); // a log line of its own
        return "health gate: " + done;
    } catch (const EtcdError& error) {
        // A host that may only read keeps watching; another host aborts.
        if (error.kind != EtcdError::Kind::PermissionDenied)
            throw;
        return "health gate: " + why + ", but this host may not abort: " + explain(error);
    } catch (const vesk_tool::Failure& failure) {
        // Another watcher of the ring, or an operator, acted first.
        if (failure.code() != StaleRevision && failure.code() != vesk_tool::NotFound)
            throw;
        return std::string("health gate: ") + failure.what();
    }
}

} // namespace vesk_fleet
