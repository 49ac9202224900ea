#pragma once

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/fleet/FleetCommands.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <map>
#include <sstream>
#include <string>
#include <vector>

// Runs one fleet command in process, parsed as the tool parses
// "vesk fleet WORDS...", and keeps what it printed. In process, no run keeps
// chunks (VESK_FLEET_CACHE=off): an earlier run's would spare requests.
namespace vesk_fleet_test {

struct Outcome {
    int status = -1;
    std::string out;
    std::string err;
};

// Sets (or, for nullptr, removes) a variable of this process's environment.
inline void setVariable(const std::string& name, const char* value)
{
#if defined(_WIN32)
    _putenv_s(name.c_str(), value ? value : "");
#else
    value ? setenv(name.c_str(), value, 1) : unsetenv(name.c_str());
#endif
}

// The command's words: ACTION --instance INSTANCE --endpoints E1,E2 MORE...
inline std::vector<std::string> command(const std::string& action, const std::string& instance,
                                        const std::vector<std::string>& endpoints,
                                        const std::vector<std::string>& more = {})
{
    std::string list;
    for (const std::string& endpoint : endpoints)
        list += (list.empty() ? "" : ",") + endpoint;
    std::vector<std::string> words{action, "--instance", instance, "--endpoints", list};
    words.insert(words.end(), more.begin(), more.end());
    return words;
}

// The fleet command `words` name, with its instance; throws CLI::ParseError as the tool refuses it.
inline std::pair<vesk_fleet::FleetAction, std::string> parsed(std::vector<std::string> words)
{
    [[maybe_unused]] static const bool uncached = (setVariable("VESK_FLEET_CACHE", "off"), true);
    CLI::App app;
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->disable_flag_override();
    std::string instance;
    app.add_option("--instance", instance);
    vesk_fleet::FleetAction action;
    vesk_fleet::addFleetCommands(app, [&action](vesk_fleet::FleetAction chosen) { action = std::move(chosen); });
    words.insert(words.begin(), "fleet");
    std::reverse(words.begin(), words.end()); // CLI11 takes them last first
    app.parse(words);
    return {action, instance};
}

// `environment` is set for the run only; `connect`, when given, opens the command's etcd connections.
inline Outcome runIn(vesk_fleet::FleetHost& host, const std::vector<std::string>& words,
                     const std::map<std::string, std::string>& environment = {},
                     std::function<std::unique_ptr<vesk_fleet::HttpClient>(const vesk_fleet::TlsFiles&)> connect = {})
{
    Outcome outcome;
    std::ostringstream out;
    std::ostringstream err;
    try {
        const auto [action, instance] = parsed(words);
        vesk_fleet::FleetContext context(host, out, err);
        if (connect)
            context.connect = connect;
        for (const auto& [name, value] : environment)
            setVariable(name, value.c_str());
        outcome.status = action(instance, context);
        for (const auto& entry : environment)
            setVariable(entry.first, nullptr);
    } catch (const CLI::ParseError& error) {
        outcome.status = 2;
        err << error.what();
    } catch (...) { // refused across options while parsed
        outcome.status = vesk_tool::exitStatusOf(std::current_exception(), [&err](const std::string& line) { err << line; });
    }
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

inline std::int64_t revisionOf(const Outcome& push)
{
    return push.status == 0 ? std::stoll(push.out) : -1;
}

} // namespace vesk_fleet_test
