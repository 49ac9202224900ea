#pragma once

#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/HostReport.h"
#include "tools/vesk/fleet/OnApply.h"

#include <functional>
#include <mutex>
#include <ostream>
#include <random>
#include <utility>

// `vesk fleet watch`: keeps one instance at the fleet's state. Each session
// reads the latest state, applies it when the host is behind, then waits on
// etcd's watch for the next write, and reads the latest state again: of a
// burst of pushes only the newest is applied. Any failure to reach etcd (a
// stream closed at once included) ends the session and a new one starts
// after a growing pause, so a lost leader, a restarted member or a cut
// network only delay the next revision.
namespace vesk_fleet {

class RingFollower;
struct RingTarget;

struct WatchTiming {
    long sessionMs = 30000; // a watch on a member cut off from the others stays quiet; this bounds it
    long firstPauseMs = 500;
    long maxPauseMs = 10000;
    long splayMs = 0; // a random wait up to this before applying, so a fleet does not reach etcd at one instant
    long leaseSeconds = 30; // the host report's lease: how long a killed watcher's host stays listed
};

class Watcher {
public:
    Watcher(Fleet& fleet, FleetStore& store, FleetHost& host, std::wstring instance, std::ostream& log,
            std::function<bool()> keepGoing, WatchTiming timing = WatchTiming(), RingFollower* rings = nullptr);

    // Returns the exit status once `keepGoing` says stop (0), or when etcd
    // refuses the login (4), which waiting does not mend.
    int run();

    // Reports this host's state through `hostReport` from now on (none: not reported).
    void reportTo(HostReport* hostReport) { report = hostReport; }
    // Sets the state this host reports, with the revision and digest applied here.
    void reportState(HostState state, const std::string& error = std::string());
    // One timestamped line in the log; safe from another thread (the report's).
    void logLine(const std::string& text);
    // Runs `step` after each apply (not after a revision the host refused);
    // what it returns ("" when it succeeded) is logged and kept.
    void afterEachApply(std::function<std::string(const AppliedStep&)> step) { afterApply = std::move(step); }
    // The last after-apply step's failure, "" when it succeeded or none ran:
    // the host is failing while this is set.
    const std::string& afterApplyFailure() const { return lastAfterApplyFailure; }

private:
    // One session; returns when it ends normally.
    void session();
    // Applies `state` (with this host's overlay at revision `overlay`, 0: none) unless applied already;
    // false when the host refused that pair (now or before) or the step after its apply failed.
    bool applyLogged(const Published& state, std::int64_t overlay);
    // Runs what the host's ring runs (with its overlay at `overlay`), and the rollout's health gate.
    void followRing(const RingTarget& target, std::int64_t overlay);
    // After a write was seen: waits a random part of timing.splayMs.
    void splay(std::int64_t seen);
    void pause(long ms);
    // After a session's read: waiting for its ring, else up to date, or drifted when local changes were made since the apply.
    void settle(bool waiting);

    Fleet& fleet;
    FleetStore& store;
    FleetHost& host;
    std::wstring instance;
    std::ostream& log;
    std::function<bool()> keepGoing;
    WatchTiming timing;
    std::pair<std::int64_t, std::int64_t> refused; // a revision and overlay the host refused: not retried
    std::pair<std::int64_t, std::int64_t> storeFailed; // a revision and overlay whose apply the store failed
    std::pair<std::int64_t, std::string> reported;     // the revision and digest applied, as last read
    RingFollower* rings;      // none: the latest state, whatever rollout
    std::string waitingLine;  // logged once per wait
    std::function<std::string(const AppliedStep&)> afterApply;
    std::string lastAfterApplyFailure;
    std::mt19937 random{std::random_device{}()};
    HostReport* report = nullptr;
    std::mutex logMutex;
};

} // namespace vesk_fleet
