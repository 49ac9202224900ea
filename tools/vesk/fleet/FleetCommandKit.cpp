#include "tools/vesk/fleet/FleetCommandKit.h"

#include "tools/vesk/core/MachineFolder.h"
#include "tools/vesk/core/Text.h"

#include <cstdlib>
#include <filesystem>

namespace vesk_fleet {
namespace {

// The chunk cache of a pull or watch, or none when VESK_FLEET_CACHE=off or
// its folder cannot be made: a pull then fetches every chunk, and still works.
std::unique_ptr<ChunkCache> openCache()
{
    const char* setting = std::getenv("VESK_FLEET_CACHE");
    if (setting && std::string(setting) == "off")
        return nullptr;
    try {
        const std::wstring folder = vesk_tool::machineFolder(L"chunks");
#if defined(_WIN32)
        return std::make_unique<ChunkCache>(std::filesystem::path(folder));
#else
        return std::make_unique<ChunkCache>(std::filesystem::u8path(vesk_tool::toUtf8(folder)));
#endif
    } catch (const vesk_tool::Failure&) {
        return nullptr;
    }
}

// The tool's environment, where the access settings may come from.
const char* environment(const char* name)
{
    return std::getenv(name);
}

} // namespace

Connection::Connection(const CommandArguments& arguments, FleetContext& context, bool cached)
    : access(resolveAccess(arguments.access, environment)), etcd(access.etcd, context.connect(access.etcd.tls)),
      store(etcd, access.prefix), cache(cached ? openCache() : nullptr), fleet(store, context.host)
{
    store.useCache(cache.get());
}

Fleet& Connection::forHost(const std::string& hostName)
{
    fleet.forHost(hostName.empty() ? machineName() : hostName); // "": no overlay
    return fleet;
}

std::string fetchedText(const FetchCount& count)
{
    return " (fetched " + std::to_string(count.requests) + " of " + std::to_string(count.chunks) + " chunks, " +
           std::to_string(count.bytes) + " bytes)";
}

int failed(FleetContext& context)
{
    return vesk_tool::exitStatusOf(std::current_exception(),
                                   [&context](const std::string& line) { context.err << line << "\n"; });
}

void refuse(const std::string& message)
{
    throw vesk_tool::Failure(vesk_tool::BadInput, message);
}

CLI::App* addSubcommand(CLI::App& fleet, const std::string& name, const std::string& help, AccessOptions& access)
{
    CLI::App* command = fleet.add_subcommand(name, help);
    command->fallthrough(); // --instance is the tool's
    command->add_option("--endpoints", access.endpoints, "etcd client URLs, tried in turn")->delimiter(',');
    command->add_option("--config", access.configFile, "Fleet configuration file");
    command->add_option("--user", access.user, "etcd user (the password comes from the configuration)");
    command->add_option("--cacert", access.caFile, "CA certificate file for TLS");
    command->add_option("--cert", access.certFile, "Client certificate file for TLS");
    command->add_option("--key", access.keyFile, "Client private key file for TLS");
    command->add_option("--prefix", access.prefix, "etcd key prefix of the fleet");
    return command;
}


void publishing(CLI::App* command, bool& force, std::string& message)
{
    command->add_flag("--force", force, "Publish even a state that deletes every value, or most of them");
    command->add_option("-m,--message", message, "Why, kept with the revision and shown by history");
}

void hostNameOption(CLI::App* command, std::string& hostName)
{
    command->add_option("--host-name", hostName, "This host's name in the fleet (default: the machine's name)");
}

void checkOneOrAll(const EveryInstanceArguments& o)
{
    if (o.all != o.instance.empty())
        throw vesk_tool::Failure(vesk_tool::BadInput, "name one instance with --instance, or every one with --all");
}

} // namespace vesk_fleet
