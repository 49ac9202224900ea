#include "tools/vesk/fleet/HostCommands.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/HostList.h"
#include "tools/vesk/fleet/Rollout.h"

namespace vesk_fleet {

int listHostReports(const FleetOptions& options, FleetContext& context, FleetStore& store, Fleet& fleet)
{
    if (options.all != options.instance.empty())
        throw vesk_tool::Failure(vesk_tool::BadInput, "name one instance with --instance, or every one with --all");
    const std::wstring instance = vesk_tool::fromUtf8(options.instance);
    const auto hosts = listHosts(store, options.all ? "" : instanceKey(instance));
    if (options.json)
        context.out << (options.all ? hostsJson(hosts, allRolloutsJson(store), "rollouts")
                                    : hostsJson(hosts, rolloutJson(store, fleet, instance)));
    else
        context.out << (options.all ? allRolloutsText(store) : rolloutText(store, fleet, instance))
                    << hostsText(hosts, options.all);
    return vesk_tool::Success;
}

std::string hostNameOf(const FleetOptions& options, FleetContext& context)
{
    const std::string name = options.hostName.empty() ? context.machineName() : options.hostName;
    if (name.empty())
        throw vesk_tool::Failure(vesk_tool::BadInput, "this machine gives no name of its own: name the host with --host-name");
    return name;
}

std::unique_ptr<HostReport> startReport(const FleetOptions& options, FleetContext& context, const FleetAccess& access,
                                        FleetStore& store, Watcher& watcher)
{
    long ttl = context.timing.leaseSeconds;
    if (const char* setting = context.getenv("VESK_FLEET_LEASE_TTL")) {
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
    first.host = hostNameOf(options, context);
    first.ring = options.ring;
    first.version = reportedVersion();
    const std::string key = hostReportKey(store, instanceKey(vesk_tool::fromUtf8(options.instance)), first.host);
    return std::make_unique<HostReport>(std::make_unique<EtcdClient>(access.etcd, context.makeReportHttp(access.etcd.tls)),
                                        key, first, ttl, [&watcher](const std::string& line) { watcher.logLine(line); });
}

} // namespace vesk_fleet
