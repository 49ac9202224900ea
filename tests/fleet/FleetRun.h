#pragma once

#include "tools/vesk/fleet/FleetCommands.h"

#include <map>
#include <sstream>
#include <string>
#include <vector>

// Runs one fleet command in process, as the tool would, and keeps what it
// printed. The environment is only what the test gives.
namespace vesk_fleet_test {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

inline vesk_fleet::FleetOptions command(const std::string& action, const std::string& instance,
                                        const std::vector<std::string>& endpoints)
{
    vesk_fleet::FleetOptions options;
    options.action = action;
    options.instance = instance;
    options.access.endpoints = endpoints;
    return options;
}

inline Outcome runIn(vesk_fleet::FleetHost& host, const vesk_fleet::FleetOptions& options,
                     const std::map<std::string, std::string>& environment = {},
                     std::function<std::unique_ptr<vesk_fleet::HttpClient>(const vesk_fleet::TlsFiles&)> makeHttp = {})
{
    std::ostringstream out;
    std::ostringstream err;
    vesk_fleet::FleetContext context(host, out, err);
    context.getenv = [&](const char* name) -> const char* {
        auto found = environment.find(name);
        return found == environment.end() ? nullptr : found->second.c_str();
    };
    if (makeHttp)
        context.makeHttp = makeHttp;
    context.cacheFolder = nullptr; // the real tool's runs keep chunks
    Outcome outcome;
    outcome.status = vesk_fleet::runFleet(options, context);
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

inline std::int64_t revisionOf(const Outcome& push)
{
    return push.status == 0 ? std::stoll(push.out) : -1;
}

} // namespace vesk_fleet_test
