#pragma once

#include "tools/vesk/core/MachineFolder.h"
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

// `vesk fleet ...`: the command group, as a CLI11 definition for the tool's
// parser and as a plain function over parsed options.
namespace vesk_fleet {

struct FleetOptions {
    std::string action; // push, pull, status, watch, history, rollback, gc, hosts, promote, pause, abort, service
    std::string instance; // UTF-8
    std::string file;     // push: a .reg file instead of the local instance
    std::optional<std::int64_t> ifRevision;
    bool force = false;  // push, rollback: past the guards against mass deletion; pull: save local changes, then overwrite them
    std::string message; // push, rollback: why
    bool dryRun = false; // pull, push: show the change, write nothing
    bool diff = false;   // status: list the local changes
    int keep = 0;        // gc: revisions kept per instance
    bool all = false;    // gc, hosts: every instance
    std::int64_t toRevision = 0;
    int limit = 20;
    int splaySeconds = 0; // watch: a random wait of up to this before applying
    std::vector<std::string> rings; // push: roll out through these rings, in order
    int maxFailures = 0;  // push --rings: failing hosts of the open ring that abort the rollout; 0: none
    std::string ring;     // watch: this host's ring ("": the default ring)
    std::string hostName; // watch, pull, status: this host's name in the fleet ("": the machine's)
    bool json = false;    // status, hosts: one JSON document on stdout
    std::string overlayHost; // push: publish (or remove) this host's overlay instead of the state
    bool removeOverlay = false; // push --host: remove that host's overlay
    AfterApply after;     // watch: what runs after each apply
    std::string serviceAction; // service: install, uninstall or run
    AccessOptions access;
};

// What the commands run against; tests replace the parts they need.
struct FleetContext {
    FleetContext(FleetHost& host, std::ostream& out, std::ostream& err) : host(host), out(out), err(err) {}

    FleetHost& host;
    std::ostream& out;
    std::ostream& err; // messages, and watch's log
    std::function<std::unique_ptr<HttpClient>(const TlsFiles&)> makeHttp = makeHttpClient;
    GetEnv getenv = [](const char* name) -> const char* { return std::getenv(name); };
    std::function<bool()> keepGoing; // watch stops when it says so; default: Ctrl+C / SIGTERM
    WatchTiming timing; // VESK_FLEET_LEASE_TTL (seconds) overrides its leaseSeconds
    // The host report's own connection, used on its own thread beside the watch.
    std::function<std::unique_ptr<HttpClient>(const TlsFiles&)> makeReportHttp = makeHttpClient;
    // Where pull and watch keep the chunks they fetched (none, or "": no
    // cache); VESK_FLEET_CACHE=off turns it off too.
    std::function<std::wstring()> cacheFolder = [] { return vesk_tool::machineFolder(L"chunks"); };
    // This host's name when --host-name gives none ("": no overlay is read).
    std::function<std::string()> machineName = vesk_fleet::machineName;
};

// Runs one fleet command and returns its exit status; failures are printed
// to context.err as "vesk: ..." with what to do.
int runFleet(const FleetOptions& options, FleetContext& context);

// Adds "fleet" and its sub-commands to the tool's parser: a parsed fleet
// command fills `options` (but the instance, which is the tool's --instance)
// and calls `chosen`.
CLI::App* addFleetCommands(CLI::App& app, FleetOptions& options, std::function<void()> chosen);

} // namespace vesk_fleet
