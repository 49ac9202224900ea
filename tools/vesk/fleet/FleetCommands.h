#pragma once

#include "tools/vesk/fleet/FleetConfig.h"
#include "tools/vesk/fleet/FleetHost.h"
#include "tools/vesk/fleet/FleetWatch.h"
#include "tools/vesk/fleet/HttpClient.h"
#include "tools/vesk/fleet/OnApply.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace CLI {
class App;
}

// `vesk fleet ...`: each sub-command defined once, as a CLI11 definition of
// its typed options, checks and help, whose callback hands the tool what to run.
namespace vesk_fleet {

// What every fleet command takes: the instance (the tool's --instance,
// UTF-8, filled in when the command runs) and the way to etcd.
struct CommandArguments {
    std::string instance;
    AccessOptions access;
};

// push: the local instance or a file, as the state or as one host's overlay.
struct PushArguments : CommandArguments {
    std::string file; // a .reg file instead of the local instance
    std::optional<std::int64_t> ifRevision;
    bool force = false;  // past the guards against mass deletion
    std::string message; // why
    bool dryRun = false; // show the change, publish nothing
    std::vector<std::string> rings; // roll out through these rings, in order
    int maxFailures = 0;  // failing hosts of the open ring that abort the rollout; 0: none
    std::string overlayHost; // publish (or remove) this host's overlay instead of the state
    bool removeOverlay = false;
};

// watch, and the Windows service that runs it.
struct WatchArguments : CommandArguments {
    int splaySeconds = 0; // a random wait of up to this before applying
    std::string ring;     // this host's ring ("": the default ring)
    std::string hostName; // this host's name in the fleet ("": the machine's)
    AfterApply after;     // what runs after each apply
};

// What a fleet command runs against: this host, and where it prints.
struct FleetContext {
    FleetContext(FleetHost& host, std::ostream& out, std::ostream& err) : host(host), out(out), err(err) {}

    FleetHost& host;
    std::ostream& out;
    std::ostream& err; // messages, and watch's log
    // Each etcd connection a command opens (its own, and a watcher's host
    // report's): the platform's client; the failure tests put a hook between.
    std::function<std::unique_ptr<HttpClient>(const TlsFiles&)> connect = makeHttpClient;
};

// A parsed fleet command: runs it on `instance` and returns its exit status;
// failures are printed to context.err as "vesk: ..." with what to do.
using FleetAction = std::function<int(const std::string& instance, FleetContext& context)>;

// Adds "fleet" to the tool's parser, and its sub-commands once the command
// line reaches it; the callback of the one given hands `chosen` what runs it.
CLI::App* addFleetCommands(CLI::App& app, std::function<void(FleetAction)> chosen);

// Applies every new revision until a stop is asked (stopRequested()), as
// `watch` and the Windows service do; returns the exit status.
int runWatch(const WatchArguments& arguments, FleetContext& context);

} // namespace vesk_fleet
