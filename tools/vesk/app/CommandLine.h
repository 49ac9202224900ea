#pragma once

#include <functional>
#include <string>
#include <vector>

namespace CLI {
class App;
class Option;
} // namespace CLI

// The tool's command line, parsed by CLI11. Each command (or group) is
// defined in one place, its typed options, checks, help and action together;
// the tool lists the definitions once, in the order its help shows them.
namespace vesk_tool {

class Session;

// What the command given does once the registry is open; returns the exit status.
using CommandAction = std::function<int(Session&)>;

// Adds one command or group to `app`: its sub-commands, options bound to
// typed members, their checks and help; the callback of the one given sets
// `action`.
using CommandDefinition = void (*)(CLI::App& app, CommandAction& action);

// A parsed command line: a text to print (--help, --version), or a command.
struct CommandLine {
    std::wstring instance; // --instance, one key name; empty for the library's default
    std::string answer;    // --help or --version was given: print it and run nothing
    CommandAction action;  // otherwise the command given
};

// Options may stand anywhere, as --name VALUE or --name=VALUE (the last one
// given counts); "--" ends them, so operands may begin with dashes. Throws
// Failure(BadInput), naming the help to read, for anything a command would
// refuse: unknown names, operand counts, a value outside its choices or of
// its type, an --instance that is not one key name.
CommandLine parseCommandLine(const std::vector<std::wstring>& args, const std::vector<CommandDefinition>& commands);

// A settings command on `app` as the tool's commands are: its own --help,
// --instance also after it, `summary` in the tool's list and `details`
// below its own help.
CLI::App* addCommand(CLI::App& app, const std::string& name, const std::string& summary, const std::string& details);

// A usage error found across options, from a command's callback: exit 2
// with `message` and where to read the command's help.
[[noreturn]] void refuseUsage(const std::string& message);

} // namespace vesk_tool
