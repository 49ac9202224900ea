#pragma once

#include "Fleet.h"
#include "OnApply.h"

#include <functional>
#include <ostream>
#include <random>

// `vesk fleet watch`: keeps one instance at the fleet's state. Each session
// reads the latest state, applies it when the host is behind, then waits on
// etcd's watch for the next write, and reads the latest state again: of a
// burst of pushes only the newest is applied. Any failure to reach etcd (a
// stream closed at once included) ends the session and a new one starts
// after a growing pause, so a lost leader, a restarted member or a cut
// network only delay the next revision.
namespace vesk_fleet {

struct WatchTiming {
    long sessionMs = 30000; // a watch on a member cut off from the others stays quiet; this bounds it
    long firstPauseMs = 500;
    long maxPauseMs = 10000;
    long splayMs = 0; // a random wait up to this before applying, so a fleet does not reach etcd at one instant
};

class Watcher {
public:
    Watcher(Fleet& fleet, FleetStore& store, FleetHost& host, std::wstring instance, std::ostream& log,
            std::function<bool()> keepGoing, WatchTiming timing = WatchTiming());

    // Returns the exit status once `keepGoing` says stop (0), or when etcd
    // refuses the login (4), which waiting does not mend.
    int run();

    // Runs `step` after each apply (not after a revision the host refused);
    // what it returns ("" when it succeeded) is logged and kept.
    void afterEachApply(std::function<std::string(const AppliedStep&)> step) { afterApply = std::move(step); }
    // The last after-apply step's failure, "" when it succeeded or none ran:
    // the host is failing while this is set.
    const std::string& afterApplyFailure() const { return lastAfterApplyFailure; }

private:
    // One session; returns when it ends normally.
    void session();
    void applyLogged(const Published& state);
    // After a write was seen: waits a random part of timing.splayMs.
    void splay(std::int64_t seen);
    void pause(long ms);
    void logLine(const std::string& text);

    Fleet& fleet;
    FleetStore& store;
    FleetHost& host;
    std::wstring instance;
    std::ostream& log;
    std::function<bool()> keepGoing;
    WatchTiming timing;
    std::int64_t refused = 0; // a revision the host refused: not retried
    std::function<std::string(const AppliedStep&)> afterApply;
    std::string lastAfterApplyFailure;
    std::mt19937 random{std::random_device{}()};
};

} // namespace vesk_fleet
