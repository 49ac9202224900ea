#include "FleetWatch.h"

#include "Failure.h"
#include "Text.h"

#include "FleetState.h"

#include <algorithm>
#include <chrono>
#include <thread>

namespace vesk_fleet {

Watcher::Watcher(Fleet& fleet, FleetStore& store, FleetHost& host, std::wstring instance, std::ostream& log,
                 std::function<bool()> keepGoing, WatchTiming timing)
    : fleet(fleet), store(store), host(host), instance(std::move(instance)), log(log), keepGoing(std::move(keepGoing)),
      timing(timing)
{
}

void Watcher::logLine(const std::string& text)
{
    log << utcNow() << " " << text << std::endl;
}

void Watcher::pause(long ms)
{
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (keepGoing() && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
}

void Watcher::applyLogged(const Published& state)
{
    const auto applied = host.appliedRevision(instance);
    if ((applied && *applied == state.revision) || state.revision == refused)
        return;
    std::string saved; // local changes overwritten are saved there first
    try {
        saved = fleet.apply(instance, state, DriftPolicy::SaveThenOverwrite).savedFile;
    } catch (const vesk_tool::Failure& failure) {
        // A store that failed may work next time; a refused document will not.
        if (failure.code() != vesk_tool::BadInput)
            throw;
        refused = state.revision;
        logLine("instance " + vesk_tool::toUtf8(instance) + ": revision " + std::to_string(state.revision) +
                " refused, registry unchanged: " + failure.what());
        return;
    }
    logLine("instance " + vesk_tool::toUtf8(instance) + ": applied revision " + std::to_string(state.revision) +
            " (pushed " + state.manifest.pushedAt + " by " + state.manifest.pushedBy + ", " +
            std::to_string(state.manifest.bytes) + " bytes)" +
            (saved.empty() ? std::string() : "; the local state it overwrote was saved to " + saved));
    if (!afterApply)
        return;
    lastAfterApplyFailure = afterApply({vesk_tool::toUtf8(instance), state.revision, applied ? *applied : 0});
    if (!lastAfterApplyFailure.empty())
        logLine("instance " + vesk_tool::toUtf8(instance) + ": revision " + std::to_string(state.revision) +
                " is applied, but " + lastAfterApplyFailure + "; the watcher goes on");
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
    while (keepGoing()) {
        // The latest state, not the event's: what a burst of pushes wrote
        // before this read is superseded and never applied.
        const KeyValue now = store.client().get(key);
        if (auto state = store.fromKeyValue(now))
            applyLogged(*state);
        const auto change = store.client().waitForChange(key, now.revision + 1, keepGoing, timing.sessionMs);
        if (!change)
            return;
        if (!change->found)
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
        } catch (const vesk_tool::Failure& error) {
            retryLater(std::string("the registry refused the change: ") + error.what());
        } catch (const std::invalid_argument& error) {
            retryLater(error.what());
        }
    }
    logLine("stopped");
    return vesk_tool::Success;
}

} // namespace vesk_fleet
