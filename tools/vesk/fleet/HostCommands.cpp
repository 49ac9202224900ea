#include "tools/vesk/fleet/HostCommands.h"

#include "tools/vesk/fleet/FleetCommandKit.h"
#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/HostList.h"
#include "tools/vesk/fleet/Rollout.h"

#include <cstdlib>

namespace vesk_fleet {

std::string hostReports(FleetStore& store, Fleet& fleet, const std::string& instance, bool json)
{
    const bool all = instance.empty();
    const std::wstring name = vesk_tool::fromUtf8(instance);
    const auto hosts = listHosts(store, all ? "" : instanceKey(name));
    if (json)
        return all ? hostsJson(hosts, allRolloutsJson(store), "rollouts") : hostsJson(hosts, rolloutJson(store, fleet, name));
    return (all ? allRolloutsText(store) : rolloutText(store, fleet, name)) + hostsText(hosts, all);
}

std::string hostNameOf(const std::string& given)
{
    const std::string name = given.empty() ? machineName() : given;
    if (name.empty())
        throw vesk_tool::Failure(vesk_tool::BadInput, "this machine gives no name of its own: name the host with --host-name");
    return name;
}

std::unique_ptr<HostReport> startReport(const WatchArguments& watch, FleetContext& context, const FleetAccess& access,
                                        FleetStore& store, Watcher& watcher)
{
    long ttl = WatchTiming().leaseSeconds;
    if (const char* setting = std::getenv("VESK_FLEET_LEASE_TTL")) {
        try {
            ttl = std::stol(setting);
        } catch (const std::exception&) {
            ttl = 0;
        }
        if (ttl < 3)
            throw vesk_tool::Failure(vesk_tool::BadInput, std::string("VESK_FLEET_LEASE_TTL is '") + setting +
                                                              "': give the host report's lease in seconds, 3 or more");
    }
    HostRecord first;
    first.host = hostNameOf(watch.hostName);
    first.ring = watch.ring;
    first.version = reportedVersion();
    const std::string key = hostReportKey(store, instanceKey(vesk_tool::fromUtf8(watch.instance)), first.host);
    return std::make_unique<HostReport>(std::make_unique<EtcdClient>(access.etcd, context.connect(access.etcd.tls)), key,
                                        first, ttl, [&watcher](const std::string& line) { watcher.logLine(line); });
}

namespace {

// Prints the hosts' reports of the instance (or of every one).
int runHosts(const EveryInstanceArguments& o, FleetContext& context)
{
    checkOneOrAll(o);
    Connection connection(o, context);
    context.out << hostReports(connection.store, connection.fleet, o.instance, o.json);
    return vesk_tool::Success;
}

} // namespace

// `hosts`.
void defineHosts(CLI::App& fleet, const std::function<void(FleetAction)>& chosen)
{
    auto o = std::make_shared<EveryInstanceArguments>();
    CLI::App* hosts =
        addSubcommand(fleet, "hosts", "List the hosts whose watchers report, newest state first", o->access);
    hosts->add_flag("--all", o->all, "Every instance of the fleet");
    hosts->add_flag("--json", o->json, "Print one JSON document, for scripts");
    runs(hosts, chosen, o, runHosts, nullptr, false);
}

} // namespace vesk_fleet
