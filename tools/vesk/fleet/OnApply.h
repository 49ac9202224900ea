#pragma once

#include <cstdint>
#include <functional>
#include <string>

// What a watcher does after each apply, so that a running server, which
// reads its settings through the library's cache, takes the new revision:
// a command of the operator's (--on-apply), and on Windows a service
// restart (--restart-service). Their failure is logged and reported as the
// host's state; the watcher goes on either way.
namespace vesk_fleet {

struct AfterApply {
    std::string command;        // run through the shell after each apply; "" for none
    int timeoutSeconds = 60;    // the command, and the service's stop and start, each get this long
    std::string restartService; // a Windows service to restart after each apply; "" for none
};

// The apply the command is told of, in its environment: VESK_FLEET_INSTANCE,
// VESK_FLEET_REVISION and VESK_FLEET_PREVIOUS (0 when this host had applied
// no revision of the instance before).
struct AppliedStep {
    std::string instance; // UTF-8
    std::int64_t revision = 0;
    std::int64_t previous = 0;
};

// Runs `command` through /bin/sh -c (cmd.exe /c on Windows) with the step in
// its environment, and waits at most `timeoutSeconds`; then kills it with
// its process group (its job object on Windows). Returns "" when it exited
// with 0, else what went wrong: "exited with status 3", a timeout, or why
// it could not be started.
std::string runCommand(const std::string& command, int timeoutSeconds, const AppliedStep& step);

// Runs what `after` asks, the command first; "" when each part succeeded,
// else the first failure as a sentence naming the part.
std::string runAfterApply(const AfterApply& after, const AppliedStep& step);

// The watcher's after-apply step for `after`; empty when it asks for
// nothing. Throws Failure(BadInput) for a service restart off Windows.
std::function<std::string(const AppliedStep&)> afterApplyStep(const AfterApply& after);

} // namespace vesk_fleet
