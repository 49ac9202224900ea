#pragma once

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/fleet/ChunkCache.h"
#include "tools/vesk/fleet/EtcdClient.h"
#include "tools/vesk/fleet/Fleet.h"
#include "tools/vesk/fleet/FleetCommands.h"
#include "tools/vesk/fleet/FleetConfig.h"
#include "tools/vesk/fleet/FleetStore.h"

#include <CLI/CLI.hpp>

#include <functional>
#include <memory>
#include <string>

// What every fleet sub-command is defined with: its way to etcd, the options
// all of them take, and the step from a parsed line to what runs.
namespace vesk_fleet {

// Adds one sub-command (or group) to `fleet`; the callback of the one given
// hands `chosen` what runs it.
using FleetCommandDefinition = void (*)(CLI::App& fleet, const std::function<void(FleetAction)>& chosen);

// A command's way to the fleet: the access resolved, etcd's client, the
// store over it (with the chunk cache for the commands that fetch state to
// apply; the others read documents once, and make no folder), and the fleet
// as this host sees it.
struct Connection {
    Connection(const CommandArguments& arguments, FleetContext& context, bool cached = false);
    // The fleet as the host `hostName` (--host-name, or the machine's) sees it, overlay included.
    Fleet& forHost(const std::string& hostName);

    const FleetAccess access;
    EtcdClient etcd;
    FleetStore store;
    const std::unique_ptr<ChunkCache> cache;
    Fleet fleet;
};

// "(fetched 1 of 90 chunks, 41234 bytes)": what a pull cost etcd.
std::string fetchedText(const FetchCount& count);

// The exit status of the failure being handled, printed as the tool prints failures.
int failed(FleetContext& context);

// A usage error across options, found when the command line is parsed: it
// stops the tool before anything runs, exit 2 with `message` as it is.
[[noreturn]] void refuse(const std::string& message);

// A sub-command with the options every fleet command takes: where etcd is.
CLI::App* addSubcommand(CLI::App& fleet, const std::string& name, const std::string& help, AccessOptions& access);

// gc and hosts: one instance (--instance) or every one (--all).
struct EveryInstanceArguments : CommandArguments {
    int keep = 0; // gc: revisions kept per instance
    bool all = false;
    bool json = false; // hosts
};

// Refuses (BadInput) an instance with --all, or neither.
void checkOneOrAll(const EveryInstanceArguments& o);

// --force and -m of the commands that publish.
void publishing(CLI::App* command, bool& force, std::string& message);

// --host-name, of the commands that act as one host.
void hostNameOption(CLI::App* command, std::string& hostName);

// T, where a template argument is not deduced from it.
template <class T>
struct Same {
    using Type = T;
};

// Once `command` is parsed: `check` refuses what its options cannot mean
// together, then `chosen` gets what runs `run` on the instance; every
// command but gc and hosts needs one.
template <class Arguments>
void runs(CLI::App* command, const std::function<void(FleetAction)>& chosen, std::shared_ptr<Arguments> arguments,
          int (*run)(const typename Same<Arguments>::Type&, FleetContext&),
          void (*check)(const typename Same<Arguments>::Type&) = nullptr, bool needsInstance = true)
{
    command->callback([chosen, arguments, run, check, needsInstance] {
        if (check)
            check(*arguments);
        chosen([arguments, run, needsInstance](const std::string& instance, FleetContext& context) {
            try {
                if (instance.empty() && needsInstance)
                    throw vesk_tool::Failure(vesk_tool::BadInput, "name the instance with --instance");
                arguments->instance = instance;
                return run(*arguments, context);
            } catch (...) {
                return failed(context);
            }
        });
    });
}

} // namespace vesk_fleet
