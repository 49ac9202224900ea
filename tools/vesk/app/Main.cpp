#include "tools/vesk/app/CommandLine.h"
#include "tools/vesk/app/Session.h"
#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/ImportPlan.h"
#include "tools/vesk/core/Io.h"
#include "tools/vesk/core/Text.h"
#include "tools/vesk/fleet/FleetCommands.h"
#include "tools/vesk/fleet/RegistryFleetHost.h"
#include "support/registry/KeyPath.h"
#include "support/registry/SResManager.h"

#if defined(_WIN32)
#include "tools/vesk/core/Journal.h"
#endif

#include <CLI/CLI.hpp>

#include <cstdio>
#include <iostream>
#include <memory>
#include <vector>

namespace vesk_tool {
namespace {

// The registry layer's resources for the life of the command, as the library
// holds them between its load and unload: the store is closed on the way out.
class RegistryResources {
public:
    RegistryResources() { Kestlib500::SResManager::Initialize(); }
    ~RegistryResources() { Kestlib500::SResManager::Terminate(); }
    RegistryResources(const RegistryResources&) = delete;
    RegistryResources& operator=(const RegistryResources&) = delete;
};

// The key every instance lives under, and the company's key above it, which
// also holds the fleet's record of the revisions applied (below the hive).
std::wstring serverKey(const Session& session)
{
    return belowHive(session.rootOf(L""));
}

std::wstring companyKey(const Session& session)
{
    return Kestlib500::ParentKeyPath(serverKey(session));
}

// `vesk fleet ...`: the fleet command given, on the instance of the
// session, over its registry.
void defineFleet(CLI::App& app, CommandAction& action)
{
    vesk_fleet::addFleetCommands(app, [&action](vesk_fleet::FleetAction fleetAction) {
        action = [fleetAction](Session& session) {
            vesk_fleet::RegistryFleetHost host(serverKey(session), companyKey(session));
            vesk_fleet::FleetContext context(host, std::cout, std::cerr);
            return fleetAction(toUtf8(session.instance()), context);
        };
    });
}

} // namespace

// Every command of the tool, in the order its help lists them. Each is
// defined once, in the file named beside it; adding one adds its line here.
void defineGet(CLI::App& app, CommandAction& action);         // Commands.cpp
void defineSet(CLI::App& app, CommandAction& action);         // Commands.cpp
void defineList(CLI::App& app, CommandAction& action);        // Commands.cpp
void defineDelete(CLI::App& app, CommandAction& action);      // Commands.cpp
void defineExists(CLI::App& app, CommandAction& action);      // Commands.cpp
void defineLoggingPath(CLI::App& app, CommandAction& action); // Commands.cpp
void defineExport(CLI::App& app, CommandAction& action);      // Transfer.cpp
void defineImport(CLI::App& app, CommandAction& action);      // Transfer.cpp

namespace {

const std::vector<CommandDefinition> ToolCommands = {
    defineGet, defineSet, defineList, defineDelete, defineExists, defineLoggingPath, defineExport, defineImport,
    defineFleet, // fleet/FleetCommands.cpp
};

int run(const std::vector<std::wstring>& args)
{
    try {
        const CommandLine line = parseCommandLine(args, ToolCommands);
        if (!line.action) {
            writeOut(line.answer);
            return Success;
        }
        RegistryResources resources;
        Session session(line.instance);
#if defined(_WIN32)
        // An interrupted fleet pull also journaled its record of the revision.
        recoverInterruptedImport(Kestlib500::FullKeyPath(companyKey(session)));
#endif
        return line.action(session);
    } catch (...) {
        return exitStatusOf(std::current_exception(), writeErrLine);
    }
}

int finish(int status)
{
    if (std::fflush(stdout) != 0 && status == Success) {
        writeErrLine("vesk: cannot write to standard output");
        return StoreFailure;
    }
    return status;
}

} // namespace
} // namespace vesk_tool

#if defined(_WIN32)

int wmain(int argc, wchar_t** argv)
{
    vesk_tool::prepareConsole();
    const std::vector<std::wstring> args(argv + 1, argv + argc);
    for (const std::wstring& arg : args)
        // A lone surrogate has no UTF-8 form, so CLI11 could not carry it unchanged.
        if (vesk_tool::hasUnpairedSurrogate(arg)) {
            vesk_tool::writeErrLine("vesk: an argument holds an unpaired surrogate, which no name or value may hold here");
            return vesk_tool::BadInput;
        }
    return vesk_tool::finish(vesk_tool::run(args));
}

#else

// Arguments are taken as UTF-8 whatever the locale, as the store keeps text.
int main(int argc, char** argv)
{
    std::vector<std::wstring> args;
    try {
        for (int i = 1; i < argc; ++i)
            args.push_back(vesk_tool::fromUtf8(argv[i]));
    } catch (const vesk_tool::DecodeError&) {
        vesk_tool::writeErrLine("vesk: the arguments are not UTF-8: pass names and values as UTF-8");
        return vesk_tool::BadInput;
    }
    return vesk_tool::finish(vesk_tool::run(args));
}

#endif
