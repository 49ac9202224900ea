#include "tools/vesk/app/CommandLine.h"

#include "tools/vesk/core/Failure.h"
#include "tools/vesk/core/Text.h"

#include "support/registry/KeyPath.h"
#include "vesk/Version.h"

#include <CLI/CLI.hpp>

#include <algorithm>

namespace vesk_tool {
namespace {

const char* ToolDescription =
    "Reads and writes the product's settings with the library's own settings\n"
    "and registry code, built in: what it prints is what a host reads.";

const char* ToolFooter =
    "--instance NAME selects the server instance (default: the library's).\n"
    "SUBKEY is relative to the instance's key, e.g. Network\\Ports.\n"
    "Arguments are taken as UTF-8 on Linux; output is UTF-8 on both platforms.\n"
    "Linux keeps the settings in $KESTLIB_REGISTRY, else\n"
    "$XDG_DATA_HOME/halvorn/registry.db, else ~/.local/share/halvorn/registry.db.\n"
    "\n"
    "exit status: 0 done, 1 not there, 2 usage or input error,\n"
    "3 stored value of another type, 4 the registry or its store failed.\n"
    "Run 'vesk COMMAND --help' for a command's details.";

// One key name: not empty, no backslash, within the registry's limit.
std::string instanceProblem(const std::string& given)
{
    const std::wstring instance = fromUtf8(given);
    if (instance.empty())
        return "an instance needs a name; leave --instance out for the default instance";
    if (instance.find(L'\\') != std::wstring::npos)
        return "an instance is one key name, without backslashes";
    if (instance.size() > Kestlib500::MaxKeyNameLength)
        return Kestlib500::DescribeKeyPathProblem(Kestlib500::KeyPathProblem::ElementTooLong);
    return std::string();
}

[[noreturn]] void usage(const std::string& message, const CLI::App& app)
{
    // The help of the innermost command given: "vesk fleet gc --help".
    std::string help = "vesk";
    for (const CLI::App* given = &app; !given->get_subcommands().empty();) {
        given = given->get_subcommands().front();
        help += " " + given->get_name();
    }
    throw Failure(BadInput, message + " (see '" + help + " --help')");
}

} // namespace

CLI::App* addCommand(CLI::App& app, const std::string& name, const std::string& summary, const std::string& details)
{
    CLI::App* command = app.add_subcommand(name, summary);
    command->fallthrough(); // --instance may follow the command
    command->footer(details);
    return command;
}

void refuseUsage(const std::string& message)
{
    throw CLI::ValidationError(message);
}

CommandLine parseCommandLine(const std::vector<std::wstring>& args, const std::vector<CommandDefinition>& commands)
{
    CommandLine line;
    CLI::App app(ToolDescription, "vesk");
    app.require_subcommand(1);
    // Every option, the commands' too: the last one given counts; a flag takes no value.
    app.option_defaults()->multi_option_policy(CLI::MultiOptionPolicy::TakeLast)->disable_flag_override();
    app.set_version_flag("--version", "vesk " VESK_VERSION, "Print the version and exit");
    std::string instance;
    app.add_option("--instance", instance, "The server instance, one key name (default: the library's)")
        ->check(CLI::Validator(instanceProblem, "NAME"));
    for (const CommandDefinition define : commands)
        define(app, line.action);
    app.footer(ToolFooter); // after the commands, which would inherit it

    std::vector<std::string> words;
    for (const std::wstring& arg : args)
        words.push_back(toUtf8(arg));
    std::reverse(words.begin(), words.end()); // CLI11 takes them last first
    try {
        app.parse(words);
    } catch (const CLI::CallForHelp&) {
        line.answer = app.help();
    } catch (const CLI::CallForVersion& version) {
        line.answer = std::string(version.what()) + "\n";
    } catch (const CLI::ParseError& error) {
        if (app.get_subcommands().empty() && !app.remaining().empty())
            usage("unknown command '" + app.remaining().front() + "'", app);
        const bool noCommand = app.get_subcommands().empty() && dynamic_cast<const CLI::RequiredError*>(&error);
        usage(noCommand ? "no command given" : error.what(), app);
    }
    line.instance = fromUtf8(instance);
    return line;
}

} // namespace vesk_tool
