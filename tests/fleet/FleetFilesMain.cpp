// vesk-fleet-files: the fleet commands over a directory of instance files
// (VESK_FLEET_STORE) instead of the registry, so the tests, the demo and the
// benchmark run them as a user would, before and beside the tool's own host.
// Also: `sample INSTANCE COUNT [PREFIX]` sets an instance to COUNT values.
#include "FakeHosts.h"
#include "FleetCommands.h"

#include <CLI/CLI.hpp>

#include <cstdlib>
#include <iostream>

int main(int argc, char** argv)
{
    const char* directory = std::getenv("VESK_FLEET_STORE");
    if (!directory) {
        std::cerr << "vesk-fleet-files: set VESK_FLEET_STORE to the directory of the instances\n";
        return 2;
    }
    vesk_fleet_test::FileHost host{std::filesystem::u8path(directory)};
    vesk_fleet::FleetContext context(host, std::cout, std::cerr);
    CLI::App app{"vesk fleet commands over instance files"};
    app.require_subcommand(1);
    vesk_fleet::addFleetCommands(app, context);
    std::string instance;
    int count = 0;
    std::string prefix = "v";
    CLI::App* sample = app.add_subcommand("sample", "Set an instance to COUNT string values");
    sample->add_option("instance", instance)->required();
    sample->add_option("count", count)->required();
    sample->add_option("prefix", prefix);
    sample->callback([&] {
        host.set(std::wstring(instance.begin(), instance.end()),
                 vesk_fleet_test::sampleDocument(std::wstring(instance.begin(), instance.end()), count,
                                                 std::wstring(prefix.begin(), prefix.end())));
    });
    CLI11_PARSE(app, argc, argv);
    return context.status;
}
