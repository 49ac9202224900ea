#include "tools/vesk/fleet/FleetWatch.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"

#include "tools/vesk/fleet/FleetStore.h"
#include "tools/vesk/fleet/RingFollower.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vesk_fleet {

Watcher::Watcher(Fleet& fleet, FleetStore& store, FleetHost& host, std::wstring instance, std::ostream& log,
                 std::function<bool()> keepGoing, WatchTiming timing, RingFollower* rings)
    : fleet(fleet), store(store), host(host), instance(std::move(instance)), log(log), keepGoing(std::move(keepGoing)),
      timing(timing), rings(rings)
{
}

void Watcher::logLine(const std::string& text)
{
    const std::lock_guard<std::mutex> lock(logMutex);
    log << utcNow() << " " << text << std::endl;
}

void Watcher::reportState(HostState state, const std::string& error)
{
    if (!report)
        return;
    try {
        const auto applied = host.appliedRecord(instance);
        reported = applied ? std::make_pair(applied->revision, applied->digest)
                           : std::make_pair(std::int64_t(0), std::string());
    } catch (const std::exception&) {
        // A store that fails here fails the apply too, which says so; what
        // was applied is still what it read last.
    }
    report->update(state, reported.first, reported.second, error);
}

void Watcher::settle(bool waiting)
{
    if (report)
        reportState(waiting                                ? HostState::WaitingForRing
                    : fleet.drift(instance).drifted() ? HostState::Drifted
                                                           : HostState::UpToDate);
}

void Watcher::pause(long ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (keepGoing() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

bool Watcher::applyLogged(const Published& state, std::int64_t overlay)
{
    const auto applied = host.appliedRecord(instance);
    const std::pair<std::int64_t, std::int64_t> wanted{state.revision, overlay};
    if ((applied && applied->revision == state.revision && applied->overlay == overlay) || wanted == refused)
        return wanted != refused && lastAfterApplyFailure.empty();
    ApplyOutcome outcome;
    // Retrying what the store failed, the host is still failing: the
    // report keeps saying so, and since when.
    if (wanted != storeFailed)
        reportState(HostState::Applying);
    try {
        outcome = fleet.apply(instance, state, DriftPolicy::SaveThenOverwrite);
    } catch (const EtcdError&) {
        throw;
    } catch (const vesk_tool::Failure& failure) {
        // A store that failed may work next time; a refused document will not.
        if (failure.code() != vesk_tool::BadInput) {
            storeFailed = wanted;
            throw;
        }
        refused = wanted;
        reportState(HostState::Failing, "revision " + std::to_string(state.revision) + " refused: " + failure.what());
        logLine("instance " + vesk_tool::toUtf8(instance) + ": revision " + std::to_string(state.revision) +
                " refused, registry unchanged: " + failure.what());
        return false;
    }
    storeFailed = {};
    const std::string& saved = outcome.savedFile;
    logLine("instance " + vesk_tool::toUtf8(instance) + ": applied revision " + std::to_string(state.revision) +
            (outcome.overlay ? " with overlay " + std::to_string(outcome.overlay) : std::string()) +
            " (pushed " + state.manifest.pushedAt + " by " + state.manifest.pushedBy + ", " +
            std::to_string(state.manifest.bytes) + " bytes)" +
            (saved.empty() ? std::string() : "; the local state it overwrote was saved to " + saved));
    if (!afterApply)
        return true;
    lastAfterApplyFailure = afterApply({vesk_tool::toUtf8(instance), state.revision, applied ? applied->revision : 0});
    if (lastAfterApplyFailure.empty())
        return true;
    logLine("instance " + vesk_tool::toUtf8(instance) + ": revision " + std::to_string(state.revision) +
            " is applied, but " + lastAfterApplyFailure + "; the watcher goes on");
    reportState(HostState::Failing, lastAfterApplyFailure); // a rollout's health gate counts it
    return false;
}

void Watcher::followRing(const RingTarget& target, std::int64_t overlay)
{
    const std::string name = "instance " + vesk_tool::toUtf8(instance) + ": ";
    if (target.waiting) {
        const Rollout& rollout = *target.rollout.rollout;
        const std::string line = name + "waiting for its ring: revision " + std::to_string(rollout.candidate) +
                                 " rolls out to ring " + rollout.openRing() + " first; ring " + rings->ring() +
                                 " runs revision " + std::to_string(rollout.previous) +
                                 (target.state ? "" : ", which gc removed: the registry is left as it is");
        if (line != waitingLine)
            logLine(line);
        waitingLine = line;
    }
    bool runs = false;
    if (!target.state) {
        settle(target.waiting);
        return;
    }
    try {
        runs = applyLogged(*target.state, overlay);
    } catch (const EtcdError&) {
        throw; // etcd's failure, not this host's: the next session tries again
    } catch (const vesk_tool::Failure&) {
        if (const std::string gated = rings->gate(target, true); !gated.empty())
            logLine(name + gated);
        throw;
    }
    if (const std::string gated = rings->gate(target, !runs); !gated.empty())
        logLine(name + gated);
    if (runs)
        settle(target.waiting);
}

void Watcher::splay(std::int64_t seen)
{
    if (timing.splayMs <= 0)
        return;
    const long ms = std::uniform_int_distribution<long>(0, timing.splayMs)(random);
    logLine("instance " + vesk_tool::toUtf8(instance) + ": revision " + std::to_string(seen) + " seen; reading it in " +
            std::to_string(ms) + " ms (splay)");
    pause(ms);
}

void Watcher::session()
{
    const std::string key = store.stateKey(instanceKey(instance));
    const std::string overlayKey = fleet.overlayKeyOf(instance); // its change wakes the watcher too
    while (keepGoing()) {
        // The latest state, not the event's: what a burst of pushes wrote
        // before this read is superseded and never applied.
        const KeyValue now = store.client().get(key);
        // The overlay is read after the state and the rollout record, so
        // the watch below, from their revision on, misses none of its changes.
        const std::optional<RingTarget> target = rings ? std::optional<RingTarget>(rings->target(now)) : std::nullopt;
        const KeyValue overlay = overlayKey.empty() ? KeyValue{} : store.client().get(overlayKey);
        const std::int64_t overlayRevision = overlay.found ? overlay.modRevision : 0;
        std::string watched = key;
        std::int64_t from = now.revision + 1;
        if (target) {
            followRing(*target, overlayRevision);
            watched = target->watchKey;
            from = target->watchFrom;
        } else if (auto state = store.fromKeyValue(now); !state || applyLogged(*state, overlayRevision)) {
            settle(false);
        }
        const auto change = store.client().waitForChange(watched, from, keepGoing, timing.sessionMs, overlayKey);
        if (!change)
            return;
        if (!change->found && watched == key && (overlayKey.empty() || change->key != overlayKey))
            logLine("instance " + vesk_tool::toUtf8(instance) + ": the fleet's state was deleted at revision " +
                    std::to_string(change->modRevision) + "; the registry is left as it is until a push");
        splay(change->modRevision);
    }
}

int Watcher::run()
{
    logLine("watching instance " + vesk_tool::toUtf8(instance) + " at " + store.client().endpoints().front() +
            (store.client().endpoints().size() > 1 ? " and others" : ""));
    long pauseMs = timing.firstPauseMs;
    auto retryLater = [&](const std::string& why) {
        logLine(why + "; trying again in " + std::to_string(pauseMs) + " ms");
        pause(pauseMs);
        pauseMs = std::min(pauseMs * 2, timing.maxPauseMs);
    };
    while (keepGoing()) {
        try {
            session();
            pauseMs = timing.firstPauseMs;
        } catch (const EtcdError& error) {
            if (error.kind == EtcdError::Kind::LoginRefused || error.kind == EtcdError::Kind::PermissionDenied) {
                logLine(explain(error));
                return vesk_tool::StoreFailure;
            }
            if (error.kind != EtcdError::Kind::Compacted) // else the next session starts from the latest state
                retryLater(explain(error));
        } catch (const DamagedState& error) {
            reportState(HostState::Failing, error.what());
            retryLater(error.what());
        } catch (const vesk_tool::Failure& error) {
            reportState(HostState::Failing, error.what());
            retryLater(std::string("the registry refused the change: ") + error.what());
        }
    }
    logLine("stopped");
    return vesk_tool::Success;
}

} // namespace vesk_fleet
